/* settings.rexx FILE [INDENT [PREFIX]] : prints the element outline of an XML file, then how
   many elements and attributes it has and how deep it goes.

   Run it as   regina examples/settings.rexx examples/samples/catalog.xml 3 -
   (from a checkout, after scripts/setup and export REGINA_ADDON_DIR=$PWD/build).

   What it shows: handlers that are programs of their own (in-store source text here; a
   program that keeps its handlers in files or strings works this way), and how such a
   program and its handlers pass variables through the variable pool. Labels need none of
   this: they share the program's variables (see outline.rexx).

   In-store and external handlers run isolated, with variables of their own, and see nothing
   of this program. The settings (PREFIX repeated INDENT times per level) and the counters
   travel in the parser's variable-pool chain: this program captures them with
   ExpatSetVariablePool before parsing, each handler assigns them in its own pool with
   ExpatGetVariablePool, updates them and captures its pool again for the next event, and
   after the parse this program assigns the final counts in its own pool. The file is read in
   64 KiB pieces. Exits 0 for a well-formed file, 1 otherwise, and 2 without a file or when
   the package cannot be loaded. */
if RxFuncQuery('ExpatLoadFuncs') then /* not registered yet in this process */
  if RxFuncAdd('ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs') \= 0 then do
    say 'cannot load quillmark:' RxFuncErrMsg()
    exit 2
  end
call ExpatLoadFuncs

parse arg file indent prefix
if file = '' then do
  say 'usage: settings.rexx FILE [INDENT [PREFIX]]'
  exit 2
end
if stream(file, 'c', 'query exists') = '' then do
  say file': cannot open'
  exit 2
end
if indent = '' then indent = 2
if prefix = '' then prefix = '.'
depth = 0; elements = 0; attributes = 0; deepest = 0

nl = '0a'x
start = 'call ExpatGetVariablePool arg(1)'                        || nl ||,
        'line = copies(prefix, indent * depth) || arg(2)'         || nl ||,
        'do i = 3 to arg() by 2; line = line arg(i)"="arg(i + 1); end' || nl ||,
        'say line'                                                || nl ||,
        'elements = elements + 1'                                 || nl ||,
        'attributes = attributes + (arg() - 2) % 2'               || nl ||,
        'deepest = max(deepest, depth)'                           || nl ||,
        'depth = depth + 1'                                       || nl ||,
        'drop line i'                                             || nl ||,
        'call ExpatSetVariablePool arg(1)'
finish = 'call ExpatGetVariablePool arg(1)'                       || nl ||,
         'depth = depth - 1'                                      || nl ||,
         'call ExpatSetVariablePool arg(1)'

p = ExpatParserCreate()
call ExpatSetElementHandler p, start, , 1, finish, , 1
/* The enumeration a handler makes replaces the chain; these names are its first content. */
call ExpatSetVariablePool p, 'prefix', 'indent', 'depth', 'elements', 'attributes', 'deepest'

ok = 1
do while ok
  piece = charin(file, , 65536)
  more = chars(file) > 0
  ok = ExpatParse(p, piece, more)
  if \more then leave
end
call stream file, 'c', 'close'
if \ok then do
  say file':'ExpatGetCurrentLineNumber(p)':'ExpatGetCurrentColumnNumber(p)':',
    ExpatErrorString(ExpatGetErrorCode(p))
  call ExpatParserFree p
  exit 1
end

/* The handlers' last capture comes back the other way, into this program's variables. */
drop elements attributes deepest
call ExpatGetVariablePool p
say elements 'elements,' attributes 'attributes, deepest level' deepest
call ExpatParserFree p
exit 0
