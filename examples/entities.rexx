/* entities.rexx FILE : prints the text of an XML document whose external entities it reads
   from local files: a system id is a path relative to the file that declares the entity.

   Run it as   regina examples/entities.rexx examples/entities/book.xml
   (from a checkout, after scripts/setup and export REGINA_ADDON_DIR=$PWD/build).

   One line "PATH: TEXT" for each element with text of its own (PATH names the element and the
   elements around it, book/chapter/title; the text is trimmed, white space made one blank),
   printed at the element's end, and a line "[entity SYSTEM-ID: FILE]" where an external
   entity's text comes in. An entity whose system id is a URL, or whose file cannot be opened
   or is not well-formed, stops the parse: the reason goes to standard error, and the program
   prints FILE:LINE:COLUMN: MESSAGE for the reference and exits 1. Exits 0 when the document
   and every entity parsed, 2 without a file or when the package cannot be loaded.

   What it shows: an external-entity resolver. ExpatSetBase gives the document's path to the
   parser; Expat hands every reference to the ExternalEntityRef label with the base of the
   file that declared the entity, and the label makes a parser for the entity with
   ExpatExternalEntityParserCreate, feeds it the file in 64 KiB pieces, frees it and answers 1
   (go on) or 0 (stop). The entity's parser has copies of the document parser's handlers: the
   same labels read its elements, with the same variables (so the paths go on across files),
   and resolve the entities it refers to in turn. Each entity keeps its own encoding
   declaration (chapters/two.xml is in ISO-8859-1); the text arrives in UTF-8. */
if RxFuncQuery('ExpatLoadFuncs') then /* not registered yet in this process */
  if RxFuncAdd('ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs') \= 0 then do
    say 'cannot load quillmark:' RxFuncErrMsg()
    exit 2
  end
call ExpatLoadFuncs

parse arg file
if file = '' then do
  say 'usage: entities.rexx FILE'
  exit 2
end
if stream(file, 'c', 'query exists') = '' then do
  say file': cannot open'
  exit 2
end

/* The labels' state: depth open elements; path.d and text.d the path and the text so far of
   the open element at depth d. */
depth = 0
p = ExpatParserCreate()
/* The base is what a relative system id is resolved against: here the document's own path. */
call ExpatSetBase p, file
call ExpatSetExternalEntityRefHandler p, 'OnEntity', , 'internal'
call ExpatSetElementHandler p, 'OnStart', , 'internal', 'OnEnd', , 'internal'
call ExpatSetCharacterDataHandler p, 'OnText', , 'internal'
ok = Feed(p, file)
if \ok then say file':'ExpatGetCurrentLineNumber(p)':'ExpatGetCurrentColumnNumber(p)':',
  ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
exit \ok

/* Feeds a file to a parser in 64 KiB pieces; answers what the last ExpatParse answered. The
   labels run inside its ExpatParse calls, so what they expose is exposed here too: a label's
   PROCEDURE EXPOSE names variables of the routine that called ExpatParse. */
Feed: procedure expose depth path. text.
  parse arg parser, path
  ok = 1
  do while ok
    piece = charin(path, , 65536)
    more = chars(path) > 0
    ok = ExpatParse(parser, piece, more)
    if \more then leave
  end
  call stream path, 'c', 'close'
  return ok

/* A reference to an external entity: the parser's handle, Expat's context for the entity
   (opaque: pass it on unchanged), the base of the declaration, the system id and the public
   id (which a SYSTEM declaration does not have: arg(5) is omitted then). The answer 1 lets the
   parse go on; 0 stops it with Expat's error "error in processing external entity
   reference". */
OnEntity: procedure expose depth path. text.
  parse arg parser, context, base, system
  if pos('://', system) > 0 then
    return Refuse('not a local file:' system)
  if left(system, 1) == '/' then path = system
  else path = left(base, lastpos('/', base)) || system
  if stream(path, 'c', 'query exists') = '' then
    return Refuse('cannot open' path)
  say '[entity' system':' path']'
  /* An empty encoding: the entity's own declaration decides. */
  child = ExpatExternalEntityParserCreate(parser, context, '')
  call ExpatSetBase child, path
  ok = Feed(child, path)
  if \ok then call lineout '<stderr>', path':'ExpatGetCurrentLineNumber(child)':' ||,
    ExpatGetCurrentColumnNumber(child)':' ExpatErrorString(ExpatGetErrorCode(child))
  call ExpatParserFree child
  return ok

Refuse: procedure
  call lineout '<stderr>', 'entities.rexx:' arg(1)
  return 0

OnStart: procedure expose depth path. text.
  up = depth
  depth = depth + 1
  if up = 0 then path.depth = arg(2)
  else path.depth = path.up'/'arg(2)
  text.depth = ''
  return

OnText: procedure expose depth text.
  text.depth = text.depth || arg(2)
  return

OnEnd: procedure expose depth path. text.
  line = space(translate(text.depth, ' ', '090A0D'x))
  if line \== '' then say path.depth':' line
  depth = depth - 1
  return
