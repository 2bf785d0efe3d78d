/* feeds.rexx FILE ... : lists the title and link of a news feed and of each of its items. It
   reads RSS 2.0 (rss/channel/item, with title and link elements) and Atom 1.0 (feed/entry in
   the Atom namespace, with title elements and link elements whose href attribute is the link;
   a link with a rel other than "alternate" is not the page).

   Run it as   regina examples/feeds.rexx examples/feeds/news.rss examples/feeds/notes.atom
   (from a checkout, after scripts/setup and export REGINA_ADDON_DIR=$PWD/build).

   For each file: a line "FILE (RSS): TITLE <LINK>" or "FILE (Atom): ...", then one line per
   item, indented by two blanks; "(untitled)" stands for a missing title and a missing link is
   left out. A file that is no feed gives "FILE: not an RSS or Atom feed", a broken one
   "FILE:LINE:COLUMN: MESSAGE". Exits 0 when every file was a feed, 1 otherwise, and 2 without
   a file or when the package cannot be loaded.

   What it shows: a namespace-aware parser (ExpatParserCreate with a separator), whose
   handlers get names as URI, separator, local name: Atom's elements are told from RSS's by
   their namespace, and elements of other namespaces in a feed (media:title, atom:link in RSS)
   are not taken for the feed's own. Labels keep the feed's state in the variables of the
   procedure that parses it (one set per file); the file is read in 64 KiB pieces. */
if RxFuncQuery('ExpatLoadFuncs') then /* not registered yet in this process */
  if RxFuncAdd('ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs') \= 0 then do
    say 'cannot load quillmark:' RxFuncErrMsg()
    exit 2
  end
call ExpatLoadFuncs

parse arg files
if files = '' then do
  say 'usage: feeds.rexx FILE ...'
  exit 2
end
/* With a blank as the separator, an Atom element arrives as its namespace URI, a blank and
   its local name: 'http://www.w3.org/2005/Atom title'. Names in no namespace (all of RSS 2.0,
   and attributes without a prefix) arrive as they are. */
atom = 'http://www.w3.org/2005/Atom'
failures = 0
do i = 1 to words(files)
  if \ShowFeed(word(files, i)) then failures = failures + 1
end
exit failures > 0

/* Parses one file and prints its list. Its variables are the labels' state:
   kind      RSS or Atom, once the root element is known
   title.n   link.n   the feed's (n = 0) and each item's (n = 1 ... count)
   at        the item being read: 0 for the feed itself
   stack.d   the name of the open element at depth d (depth open elements)
   target    title or link while the text of one is being gathered into text. */
ShowFeed: procedure expose atom
  parse arg file
  if stream(file, 'c', 'query exists') = '' then do
    say file': cannot open'
    return 0
  end
  kind = ''; count = 0; at = 0; depth = 0; target = ''; text = ''
  title. = ''; link. = ''
  p = ExpatParserCreate(, ' ')
  call ExpatSetElementHandler p, 'OnStart', , 'internal', 'OnEnd', , 'internal'
  call ExpatSetCharacterDataHandler p, 'OnText', , 'internal'
  ok = 1
  do while ok
    piece = charin(file, , 65536)
    more = chars(file) > 0
    ok = ExpatParse(p, piece, more)
    if \more then leave
  end
  call stream file, 'c', 'close'
  if \ok then
    say file':'ExpatGetCurrentLineNumber(p)':'ExpatGetCurrentColumnNumber(p)':',
      ExpatErrorString(ExpatGetErrorCode(p))
  call ExpatParserFree p
  if \ok then return 0
  if kind = '' then do
    say file': not an RSS or Atom feed'
    return 0
  end
  say file '('kind'):' Entry(0)
  do n = 1 to count
    say '  'Entry(n)
  end
  return 1

/* One line of the list: the title, and the link in angle brackets when there is one. */
Entry: procedure expose title. link.
  parse arg n
  line = title.n
  if line == '' then line = '(untitled)'
  if link.n \== '' then line = line '<'link.n'>'
  return line

OnStart: procedure expose atom kind count at depth stack. target text title. link.
  parse arg ., name
  parent = stack.depth
  depth = depth + 1
  stack.depth = name
  select
    when depth = 1 & name == 'rss' then kind = 'RSS'
    when depth = 1 & name == atom 'feed' then kind = 'Atom'
    when kind = 'RSS' & parent == 'channel' & name == 'item' then call NewItem
    when kind = 'Atom' & parent == atom 'feed' & name == atom 'entry' then call NewItem
    when kind = 'RSS' & (parent == 'channel' | parent == 'item') &,
         (name == 'title' | name == 'link') then call Gather name
    when kind = 'Atom' & (parent == atom 'feed' | parent == atom 'entry') then do
      if name == atom 'title' then call Gather 'title'
      /* <link href="..." rel="..."/>: no rel means rel="alternate", the page itself. */
      if name == atom 'link' & link.at == '' then do
        rel = 'alternate'; href = ''
        do i = 3 to arg() by 2
          if arg(i) == 'rel' then rel = arg(i + 1)
          if arg(i) == 'href' then href = arg(i + 1)
        end
        if rel == 'alternate' then link.at = href
      end
    end
    otherwise nop
  end
  return

OnText: procedure expose target text
  if target \== '' then text = text || arg(2)
  return

OnEnd: procedure expose depth stack. target text at title. link.
  if target \== '' & arg(2) == stack.depth then do
    /* Text arrives in pieces; the whole of it is here now. */
    if target == 'title' then title.at = space(translate(text, ' ', '090A0D'x))
    else link.at = strip(translate(text, ' ', '090A0D'x))
    target = ''
  end
  depth = depth - 1
  return

/* Not handlers: helpers of OnStart, sharing its variables. */
NewItem:
  count = count + 1
  at = count
  return

Gather:
  target = arg(1)
  text = ''
  return
