/* xmlcheck.rexx FILE ... : tells for each file whether it is well-formed XML.
   Prints "FILE: well-formed" or "FILE:LINE:COLUMN: MESSAGE"; exits 0 when every file is
   well-formed and 1 otherwise. */
call RxFuncAdd 'ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs'
call ExpatLoadFuncs

parse arg files
if files = '' then do
  say 'usage: xmlcheck.rexx FILE ...'
  exit 2
end

failures = 0
do i = 1 to words(files)
  file = word(files, i)
  if \check(file) then failures = failures + 1
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
