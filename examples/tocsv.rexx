/* tocsv.rexx FILE RECORD [FIELD ...] : writes one CSV line for each RECORD element of an XML
   file, with a header line first.

   Run it as   regina examples/tocsv.rexx examples/tocsv/books.xml book @id title author year
   (from a checkout, after scripts/setup and export REGINA_ADDON_DIR=$PWD/build).

   A FIELD is the name of a child element of the record (its text, trimmed of white space at
   both ends; a child that occurs more than once gives its texts joined by "; ") or @NAME, an
   attribute of the record itself. Without FIELDs the columns are the child elements of the
   first record, in their order. A record without a field has an empty one. Element names are
   compared as written in the document, prefix included (dc:title).

   CSV quoting as RFC 4180 has it: a field that holds a comma, a double quote or a line end is
   put in double quotes, and each double quote in it is doubled. Lines end with a line feed.
   The CSV goes to standard output; messages go to standard error. Exits 0 for a well-formed
   file, 1 otherwise (after the lines of the records read so far), 2 for a wrong command line
   or when the package cannot be loaded.

   What it shows: labels keeping the state of a record (where the parse is inside it, the
   field being read, the values so far) in this program's variables with PROCEDURE EXPOSE;
   text that arrives in several pieces gathered until the element ends; attributes read from
   the start tag's arguments (or from the ATTRIBUTE. stem for a tag of more than 15); the file
   read in 64 KiB pieces. */
if RxFuncQuery('ExpatLoadFuncs') then /* not registered yet in this process */
  if RxFuncAdd('ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs') \= 0 then do
    say 'cannot load quillmark:' RxFuncErrMsg()
    exit 2
  end
call ExpatLoadFuncs

parse arg file record fields
if record = '' then do
  call lineout '<stderr>', 'usage: tocsv.rexx FILE RECORD [FIELD ...]'
  exit 2
end
if stream(file, 'c', 'query exists') = '' then do
  call lineout '<stderr>', file': cannot open'
  exit 2
end

/* column.0 columns; column.i is a field as given (title, @id). Without fields the first
   record's children decide, once that record has ended. */
column.0 = words(fields)
do i = 1 to column.0
  column.i = word(fields, i)
end
fixed = column.0 > 0
header = 0  /* whether the header line is out */
level = 0   /* 0 outside a record, 1 in the record's own start tag, 2 in a child, ... */
field = ''  /* the child element being read */
text = ''   /* its text so far */

p = ExpatParserCreate()
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
if \ok then call lineout '<stderr>', file':'ExpatGetCurrentLineNumber(p)':',
  || ExpatGetCurrentColumnNumber(p)':' ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
exit \ok

/* The state lives in this program's variables; each label exposes what it uses. value.NAME
   holds the text of child NAME, value.@NAME the record's attribute NAME. */
OnStart: procedure expose record level field text value. seen column. fixed attribute.
  parse arg parser, name
  if level = 0 then do
    if name == record then do
      level = 1
      drop value.
      value. = ''
      seen = ''
      /* A tag of more than 15 attributes brings them all in ATTRIBUTE.; a shorter one only
         in the arguments. */
      if symbol('attribute.0') == 'VAR' then do i = 1 to attribute.0 by 2
        j = i + 1
        key = '@'attribute.i
        value.key = attribute.j
      end
      else do i = 3 to arg() by 2
        key = '@'arg(i)
        value.key = arg(i + 1)
      end
    end
  end
  else do
    level = level + 1
    if level = 2 then do
      field = name
      text = ''
      if \fixed & wordpos(name, seen) = 0 then seen = seen name
    end
  end
  drop attribute.
  return

OnText: procedure expose level text
  if level >= 2 then text = text || arg(2)
  return

OnEnd: procedure expose level field text value. seen column. fixed header
  if level = 0 then return
  if level = 2 then do
    key = field
    text = TrimBlanks(text)
    if value.key == '' then value.key = text
    else value.key = value.key'; 'text
  end
  level = level - 1
  if level > 0 then return
  if \fixed then do /* the first record's children are the columns */
    column.0 = words(seen)
    do i = 1 to column.0
      column.i = word(seen, i)
    end
    fixed = 1
  end
  if \header then do
    line = ''
    do i = 1 to column.0
      line = line','Quoted(strip(column.i, 'L', '@'))
    end
    say substr(line, 2)
    header = 1
  end
  line = ''
  do i = 1 to column.0
    key = column.i
    line = line','Quoted(value.key)
  end
  say substr(line, 2)
  return

/* Not handlers: helpers the labels call. */

/* The text without the blanks, tabs and line ends at its two ends. */
TrimBlanks: procedure
  parse arg text
  white = ' ' || '090A0D'x
  first = verify(text, white)
  if first = 0 then return ''
  last = length(text)
  do while pos(substr(text, last, 1), white) > 0
    last = last - 1
  end
  return substr(text, first, last - first + 1)

/* A CSV field: quoted when it holds a comma, a double quote or a line end. */
Quoted: procedure
  parse arg field
  if verify(field, ',"' || '0A0D'x, 'M') = 0 then return field
  return '"'changestr('"', field, '""')'"'
