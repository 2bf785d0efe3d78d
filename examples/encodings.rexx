/* encodings.rexx [FILE ...] : parses documents in encodings Expat does not know and prints the
   text of each as the UTF-8 that Expat hands to the character-data handler.

   Run it as   regina examples/encodings.rexx
   (from a checkout, after scripts/setup and export REGINA_ADDON_DIR=$PWD/build).

   Two encodings are described here, both by map texts built in this program:
   - KOI8-R, a single-byte Cyrillic code page: every byte stands for one character;
   - x-quill, a multi-byte encoding made up for this example: bytes below 0x80 are ASCII;
     0x81, 0x82 and 0x83 start a sequence of 2, 3 or 4 bytes whose remaining bytes are the
     character's scalar value, big-endian (so 0x82 0x4E 0x2D is U+4E2D); other bytes are
     malformed. Its converter answers scalar values of any size, above U+FFFF too.

   What it shows: the unknown-encoding handler (a label that answers a map text for the
   encodings it knows and the empty string for the others) and the converter (a label that
   answers the scalar value of one multi-byte sequence), both reading this program's variables;
   documents read in 64 KiB pieces, which may split a multi-byte sequence.

   Without arguments it reads the three documents in encodings/ beside this program. Expat
   takes no character above U+FFFF from a converter: in encodings/quill-astral.xml the parse
   stops at U+1F600 with "not well-formed (invalid token)", and the program says so. Exits 0
   when every document parsed, 1 otherwise, and 2 when the package cannot be loaded. */
if RxFuncQuery('ExpatLoadFuncs') then /* not registered yet in this process */
  if RxFuncAdd('ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs') \= 0 then do
    say 'cannot load quillmark:' RxFuncErrMsg()
    exit 2
  end
call ExpatLoadFuncs

parse arg files
if files = '' then do
  parse source . . me
  dir = left(me, lastsep(me)) || 'encodings/'
  files = dir'koi8r.xml' dir'quill.xml' dir'quill-astral.xml'
end

/* A map text has one item per byte value, from 0: a number is that byte's entry, and any
   other character stands for the byte itself. So 128 dots leave ASCII as it is. */
koi8 = copies('.', 128)
high = '2500 2502 250C 2510 2514 2518 251C 2524 252C 2534 253C 2580 2584 2588 258C 2590',
       '2591 2592 2593 2320 25A0 2219 221A 2248 2264 2265 00A0 2321 00B0 00B2 00B7 00F7',
       '2550 2551 2552 0451 2553 2554 2555 2556 2557 2558 2559 255A 255B 255C 255D 255E',
       '255F 2560 2561 0401 2562 2563 2564 2565 2566 2567 2568 2569 256A 256B 256C 00A9',
       '044E 0430 0431 0446 0434 0435 0444 0433 0445 0438 0439 043A 043B 043C 043D 043E',
       '043F 044F 0440 0441 0442 0443 0436 0432 044C 044B 0437 0448 044D 0449 0447 044A',
       '042E 0410 0411 0426 0414 0415 0424 0413 0425 0418 0419 041A 041B 041C 041D 041E',
       '041F 042F 0420 0421 0422 0423 0416 0412 042C 042B 0417 0428 042D 0429 0427 042A'
do i = 1 to words(high)
  koi8 = koi8 || '0x'word(high, i)' '
end

/* -1: malformed; -n: the first byte of an n-byte sequence. */
quill = copies('.', 128)
do b = 128 to 255
  select
    when b = 129 then quill = quill || '-2 '
    when b = 130 then quill = quill || '-3 '
    when b = 131 then quill = quill || '-4 '
    otherwise quill = quill || '-1 '
  end
end

failures = 0
do i = 1 to words(files)
  if \show(word(files, i)) then failures = failures + 1
end
exit failures > 0

show: procedure expose koi8 quill
  parse arg file
  if stream(file, 'c', 'query exists') = '' then do
    say file': cannot open'
    return 0
  end
  p = ExpatParserCreate()
  call ExpatSetUnknownEncodingHandler p, 'OnEncoding', , 'internal'
  call ExpatSetUnknownEncodingConverter p, 'OnSequence', , 'internal'
  call ExpatSetCharacterDataHandler p, 'OnText', , 'internal'
  call charout , substr(file, lastsep(file) + 1)': '
  ok = 1
  do while ok
    piece = charin(file, , 65536)
    more = chars(file) > 0
    ok = ExpatParse(p, piece, more)
    if \more then leave
  end
  call stream file, 'c', 'close'
  if ok then say
  else say ' [stopped at line' ExpatGetCurrentLineNumber(p)', column',
    ExpatGetCurrentColumnNumber(p)':' ExpatErrorString(ExpatGetErrorCode(p))']'
  call ExpatParserFree p
  return ok

/* Expat asks for a map when the document names an encoding it does not know. These two
   labels run while Expat waits for their answer: like every handler they must return (an
   EXIT here would leave a parser that can never be freed). */
OnEncoding: procedure expose koi8 quill
  name = translate(arg(2))
  if name = 'KOI8-R' then return koi8
  if name = 'X-QUILL' then return quill
  return '' /* not handled: Expat reports the encoding as unknown */

/* The bytes of one sequence (its first byte had -2, -3 or -4 in the map): the character. */
OnSequence:
  return c2d(substr(arg(2), 2))

OnText:
  call charout , arg(2)
  return

/* Where the folder part of a file name ends: after the last / (or \ on Windows). */
lastsep: procedure
  parse arg name
  return max(lastpos('/', name), lastpos('\', name))
