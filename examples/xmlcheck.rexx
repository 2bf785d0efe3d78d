/* xmlcheck.rexx FILE ... : tells for each file whether it is well-formed XML.
   Prints "FILE: well-formed" or "FILE:LINE:COLUMN: MESSAGE"; exits 0 when every file is
   well-formed, 1 otherwise (a file it cannot open included), and 2 when no file is named or
   the package cannot be loaded.

   Regina hands a program its command line as one string, in which file names can only be
   told apart at blanks. Run as "regina -a xmlcheck.rexx FILE ...", the program gets each
   argument whole, so names with blanks work (quote them as usual in the shell). Called from
   another Rexx program, it takes one file name per argument.

   Run it as   regina examples/xmlcheck.rexx examples/samples/catalog.xml
   (from a checkout, after scripts/setup and export REGINA_ADDON_DIR=$PWD/build).

   What it shows: a parser with no handlers at all (Expat alone checks the document), fed in
   64 KiB pieces, and where and why a parse failed: ExpatGetErrorCode, ExpatErrorString and
   the position queries. */
if RxFuncQuery('ExpatLoadFuncs') then /* not registered yet in this process */
  if RxFuncAdd('ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs') \= 0 then do
    say 'cannot load quillmark:' RxFuncErrMsg()
    exit 2
  end
call ExpatLoadFuncs

/* A plain command line: one string, names at its blanks. With regina -a, or when called as a
   subroutine or function: one name per argument, taken whole. */
parse source . how .
if how == 'COMMAND' then do
  parse arg names
  count = words(names)
  do i = 1 to count
    file.i = word(names, i)
  end
end
else do
  count = arg()
  do i = 1 to count
    file.i = arg(i)
  end
end
if count = 0 then do
  say 'usage: regina [-a] xmlcheck.rexx FILE ...'
  exit 2
end

failures = 0
do i = 1 to count
  if \check(file.i) then failures = failures + 1
end
exit failures > 0

/* Feeds the file to a fresh parser in 64 KiB pieces; the piece that reaches the end of the
   file is the last one. */
check: procedure
  parse arg file
  if stream(file, 'c', 'query exists') = '' then do
    say file': cannot open'
    return 0
  end
  p = ExpatParserCreate()
  size = chars(file)
  ok = 1
  do while ok
    piece = charin(file, , 65536)
    more = chars(file) > 0
    ok = ExpatParse(p, piece, more)
    if \more then leave
  end
  call stream file, 'c', 'close'
  if ok then say file': well-formed'
  else say file':'ExpatGetCurrentLineNumber(p)':'ExpatGetCurrentColumnNumber(p)':',
    ExpatErrorString(ExpatGetErrorCode(p))
  call ExpatParserFree p
  return ok
