# xmlparser_peer.pl FILE: Perl's XML::Parser (non-blocking interface) on FILE in 64 KiB pieces,
# with handlers for start tags, end tags and character data that do nothing. Prints
# "xmlparser WALL CPU": seconds by the clock and in processor time.
use strict;
use warnings;
use Time::HiRes qw(time clock_gettime CLOCK_PROCESS_CPUTIME_ID);
use XML::Parser;

open(my $in, '<:raw', $ARGV[0]) or die "$ARGV[0]: $!";
my $start = time;
my $cpu = clock_gettime(CLOCK_PROCESS_CPUTIME_ID);
my $parser = XML::Parser->new(Handlers => {Start => sub {}, End => sub {}, Char => sub {}});
my $nb = $parser->parse_start;
my $piece;
while (read($in, $piece, 65536)) {
    $nb->parse_more($piece);
}
$nb->parse_done;
printf "xmlparser %.6f %.6f\n", time - $start, clock_gettime(CLOCK_PROCESS_CPUTIME_ID) - $cpu;
