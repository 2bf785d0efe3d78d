/* largefile.rexx FILE : reads an XML file of any size in 64 KiB pieces, shows its progress on
   standard error and prints a summary of the document on standard output.

   Run it as   regina examples/largefile.rexx examples/samples/catalog.xml
   (from a checkout, after scripts/setup and export REGINA_ADDON_DIR=$PWD/build); add
   2>/dev/null to see the summary alone.

   Progress: a line "largefile: N% (DONE of SIZE bytes)" each time another tenth of the file
   has been parsed, the last one at 100%. The summary:
     FILE: SIZE bytes in PIECES pieces
     elements E, attributes A, text T bytes, deepest level D
     most frequent: NAME COUNT, ... (the five most frequent element names; ties in the order
     the names first appeared)
   A document that is not well-formed gives FILE:LINE:COLUMN: MESSAGE in place of the summary
   and exit status 1. Exits 2 without a file or when the package cannot be loaded.

   What it shows: a parse that holds one piece of the file at a time, so its memory does not
   grow with the file; the labels keep counts in this program's variables (a stem indexed by
   element name), and the program reports between pieces, where ExpatGetCurrentByteIndex
   tells how far Expat has got. */
if RxFuncQuery('ExpatLoadFuncs') then /* not registered yet in this process */
  if RxFuncAdd('ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs') \= 0 then do
    say 'cannot load quillmark:' RxFuncErrMsg()
    exit 2
  end
call ExpatLoadFuncs

parse arg file
if file = '' then do
  say 'usage: largefile.rexx FILE'
  exit 2
end
size = stream(file, 'c', 'query size')
if stream(file, 'c', 'query exists') = '' | size = '' then do
  say file': cannot open'
  exit 2
end

elements = 0; attributes = 0; text = 0; depth = 0; deepest = 0
names = ''      /* the element names in the order they first appeared */
count. = 0      /* count.NAME: how often element NAME occurred */

p = ExpatParserCreate()
call ExpatSetElementHandler p, 'OnStart', , 'internal', 'OnEnd', , 'internal'
call ExpatSetCharacterDataHandler p, 'OnText', , 'internal'

pieces = 0
shown = 0 /* the last tenth reported */
ok = 1
do while ok
  piece = charin(file, , 65536)
  more = chars(file) > 0
  pieces = pieces + 1
  ok = ExpatParse(p, piece, more)
  /* Between pieces ExpatGetCurrentByteIndex is how far Expat has parsed. */
  done = ExpatGetCurrentByteIndex(p)
  if \more then done = size
  if size > 0 then tenth = done * 10 % size
  else tenth = 10
  if ok & tenth > shown then do
    shown = tenth
    call lineout '<stderr>', 'largefile:' done * 100 % max(size, 1)'% ('done 'of' size 'bytes)'
  end
  if \more then leave
end
call stream file, 'c', 'close'
if \ok then do
  say file':'ExpatGetCurrentLineNumber(p)':'ExpatGetCurrentColumnNumber(p)':',
    ExpatErrorString(ExpatGetErrorCode(p))
  call ExpatParserFree p
  exit 1
end
call ExpatParserFree p

say file':' size 'bytes in' pieces 'piece' || left('s', pieces \= 1)
say 'elements' elements', attributes' attributes', text' text 'bytes, deepest level' deepest
say 'most frequent:' Top(5)
exit 0

/* The labels: no PROCEDURE, so they work on this program's variables directly; they keep
   their own temporaries to names that the program does not use. */
OnStart:
  elements = elements + 1
  attributes = attributes + (arg() - 2) % 2
  if symbol('attribute.0') == 'VAR' then do /* more than 15 attributes: all are in the stem */
    attributes = attributes + attribute.0 % 2 - 15
    drop attribute.
  end
  depth = depth + 1
  if depth > deepest then deepest = depth
  start_ = arg(2)
  if count.start_ = 0 then names = names start_
  count.start_ = count.start_ + 1
  return

OnEnd:
  depth = depth - 1
  return

OnText:
  text = text + length(arg(2))
  return

/* The n most frequent element names with their counts; the first seen wins a tie. */
Top: procedure expose names count.
  parse arg n
  list = ''
  taken = ''
  do n
    best = ''
    do i = 1 to words(names)
      name = word(names, i)
      if wordpos(name, taken) > 0 then iterate
      if best == '' then best = name
      else if count.name > count.best then best = name
    end
    if best == '' then leave
    taken = taken best
    list = list',' best count.best
  end
  return substr(list, 3)
