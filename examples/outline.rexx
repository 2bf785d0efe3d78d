/* outline.rexx FILE: prints an indented outline of an XML document.

   Run it as   regina examples/outline.rexx examples/samples/catalog.xml
   (from a checkout, after scripts/setup and export REGINA_ADDON_DIR=$PWD/build; an installed
   package needs no variable).

   One line per element: its name, "(line N)" for the line its start tag is on, then its
   attributes as name="value". Text is shown trimmed, with each run of white space made one
   blank, in double quotes; comments as <!-- ... --> and processing instructions as <? ... ?>.
   Each level of nesting indents by two blanks. Exits 0 for a well-formed document; otherwise
   prints FILE:LINE:COLUMN: MESSAGE after the outline so far and exits 1. Exits 2 without a
   file it can open, or when the package cannot be loaded.

   What it shows: handlers written as labels of this program (invocation type 'internal'),
   keeping their state (the depth, the text not yet printed) in this program's variables; a
   start tag's attributes taken from the arguments or, for a tag of more than 15, from the
   ATTRIBUTE. stem; and a file of any size read in 64 KiB pieces. */
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

/* The state the labels share: how deep the parse is, and the text Expat has handed over
   since the last line was printed (one run of text may come in several pieces). */
depth = 0
pending = ''

p = ExpatParserCreate()
call ExpatSetElementHandler p, 'OnStart', , 'internal', 'OnEnd', , 'internal'
call ExpatSetCharacterDataHandler p, 'OnText', , 'internal'
call ExpatSetCommentHandler p, 'OnComment', , 'internal'
call ExpatSetProcessingInstructionHandler p, 'OnPI', , 'internal'

/* The file goes to the parser in 64 KiB pieces; the piece that reaches its end is the last.
   The labels run during each ExpatParse call. */
ok = 1
do while ok
  piece = charin(file, , 65536)
  more = chars(file) > 0
  ok = ExpatParse(p, piece, more)
  if \more then leave
end
call stream file, 'c', 'close'
call Flush /* text the parse stopped in */
if \ok then say file':'ExpatGetCurrentLineNumber(p)':'ExpatGetCurrentColumnNumber(p)':',
  ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
exit \ok

/* Every label gets the parser's handle first, then the event's values. */

/* A start tag: the name, then name and value of each attribute. A tag of more than 15
   attributes has them all in ATTRIBUTE.1 to ATTRIBUTE.n (name, value, name, value ...) as
   well; shorter ones are copied there from the arguments, and the stem is dropped after use
   so that no tag sees the list of an earlier one. */
OnStart: procedure expose depth pending attribute.
  call Flush
  parse arg parser, name
  if symbol('attribute.0') \== 'VAR' then do
    attribute.0 = arg() - 2
    do i = 1 to attribute.0
      attribute.i = arg(i + 2)
    end
  end
  out = copies('  ', depth) || name '(line' ExpatGetCurrentLineNumber(parser)')'
  do i = 1 to attribute.0 by 2
    j = i + 1
    out = out attribute.i'="'attribute.j'"'
  end
  drop attribute.
  say out
  depth = depth + 1
  return

OnEnd: procedure expose depth pending
  call Flush
  depth = depth - 1
  return

OnText: procedure expose pending
  pending = pending || arg(2)
  return

OnComment: procedure expose depth pending
  call Flush
  say copies('  ', depth)'<!--' space(translate(arg(2), ' ', '090A0D'x)) '-->'
  return

OnPI: procedure expose depth pending
  call Flush
  say copies('  ', depth)'<?'space(arg(2) translate(arg(3), ' ', '090A0D'x))'?>'
  return

/* Prints the text gathered so far at the current depth (not a handler: the labels call it). */
Flush: procedure expose depth pending
  text = space(translate(pending, ' ', '090A0D'x))
  pending = ''
  if text \== '' then say copies('  ', depth)'"'text'"'
  return
