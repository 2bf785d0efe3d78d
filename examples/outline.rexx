/* outline.rexx FILE: prints an indented outline of an XML document.
   One line per element: its name, "(line N)" for the line its start tag is on, then its
   attributes as name="value". Text is shown trimmed, with each run of white space made one
   blank, in double quotes; comments as <!-- ... --> and processing instructions as <? ... ?>.
   Each level of nesting indents by two blanks. Exits 0 for a well-formed document; otherwise
   prints FILE:LINE:COLUMN: MESSAGE after the outline so far and exits 1. Exits 2 without a
   file it can open, or when the package cannot be loaded. */
if RxFuncQuery('ExpatLoadFuncs') then /* not registered yet in this process */
  if RxFuncAdd('ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs') \= 0 then do
    say 'cannot load quillmark:' RxFuncErrMsg()
    exit 2
  end
call ExpatLoadFuncs

parse arg file
if file = '' then do
  say 'usage: outline.rexx FILE'
  exit 2
end
if stream(file, 'c', 'query exists') = '' then do
  say file': cannot open'
  exit 2
end

/* The handlers are in-store procedures: their source is the text of the sections at the end
   of this file. Each runs as a program of its own, without this program's variables, so the
   state they share lives in two environment variables: the number of open elements, and the
   text not yet printed (Expat hands one run of text over in several pieces). */
call value 'OUTLINE_DEPTH', 0, 'ENVIRONMENT'
call value 'OUTLINE_TEXT', '', 'ENVIRONMENT'
flush = section('flush')
p = ExpatParserCreate()
call ExpatSetElementHandler p, flush || section('start'), , 1, flush || section('end'), , 1
call ExpatSetCharacterDataHandler p, section('text'), , 1
call ExpatSetCommentHandler p, flush || section('comment'), , 1
call ExpatSetProcessingInstructionHandler p, flush || section('pi'), , 1

/* The file goes to the parser in 64 KiB pieces; the piece that reaches its end is the last. */
ok = 1
do while ok
  piece = charin(file, , 65536)
  more = chars(file) > 0
  ok = ExpatParse(p, piece, more)
  if \more then leave
end
call stream file, 'c', 'close'
interpret flush /* text the parse stopped in */
if \ok then say file':'ExpatGetCurrentLineNumber(p)':'ExpatGetCurrentColumnNumber(p)':',
  ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
exit \ok

/* The lines after the marker '/* handler: NAME */' up to the next marker, as one text. */
section: procedure
  parse arg name
  do i = 1 to sourceline() until sourceline(i) = '/* handler:' name '*/'
  end
  text = ''
  do i = i + 1 to sourceline() while left(sourceline(i), 10) \== '/* handler'
    text = text || sourceline(i) || '0a'x
  end
  return text

/* The handler sections below never run as part of this program. */

/* handler: flush */
/* Prints the text gathered so far, at the current depth; every handler but 'text' starts so. */
depth = value('OUTLINE_DEPTH', , 'ENVIRONMENT')
pending = space(translate(value('OUTLINE_TEXT', , 'ENVIRONMENT'), ' ', '090A0D'x))
call value 'OUTLINE_TEXT', '', 'ENVIRONMENT'
if pending \== '' then say copies('  ', depth)'"'pending'"'

/* handler: start */
/* A start tag of more than 15 attributes brings the whole list in ATTRIBUTE.1 to ATTRIBUTE.n
   (name, value, name, value ...); shorter ones bring them as arguments 3 and on. */
parse arg parser, name
if symbol('ATTRIBUTE.0') == 'VAR' then n = attribute.0
else do
  n = arg() - 2
  do i = 1 to n
    attribute.i = arg(i + 2)
  end
end
out = copies('  ', depth) || name '(line' ExpatGetCurrentLineNumber(parser)')'
do i = 1 to n by 2
  j = i + 1
  out = out attribute.i'="'attribute.j'"'
end
say out
call value 'OUTLINE_DEPTH', depth + 1, 'ENVIRONMENT'

/* handler: end */
call value 'OUTLINE_DEPTH', depth - 1, 'ENVIRONMENT'

/* handler: text */
call value 'OUTLINE_TEXT', value('OUTLINE_TEXT', , 'ENVIRONMENT') || arg(2), 'ENVIRONMENT'

/* handler: comment */
say copies('  ', depth)'<!--' space(translate(arg(2), ' ', '090A0D'x)) '-->'

/* handler: pi */
say copies('  ', depth)'<?'space(arg(2) translate(arg(3), ' ', '090A0D'x))'?>'

/* handlers end here */
