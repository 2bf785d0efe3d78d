"""Making, feeding and freeing parsers; handles that name no live parser."""

import re

import pytest

from conftest import HANDLE, TRY, rexx_string

SAY_NAME = rexx_string("say 'start' arg(2)")
NS_DOC = '<x:a xmlns:x="urn:u"/>'


def element_names(rexx, create):
    """The start-element names a parser made by `create` reports for NS_DOC, or its error."""
    lines = rexx.ok(f"""
p = try("{create}")
if left(p, 5) = 'ERROR' then do; say p; exit; end
call ExpatSetElementHandler p, {SAY_NAME}, , 1
say 'parse' ExpatParse(p, '{NS_DOC}', 0)
call ExpatParserFree p
""")
    return lines


@pytest.mark.parametrize("create,expected", [
    ("ExpatParserCreate()", ["start x:a", "parse 1"]),
    ("ExpatParserCreate(,)", ["start x:a", "parse 1"]),  # one omitted argument
    ("ExpatParserCreate('UTF-8')", ["start x:a", "parse 1"]),
    ("ExpatParserCreate('UTF-8', )", ["start x:a", "parse 1"]),
    ("ExpatParserCreate('UTF-8', '|')", ["start urn:u|a", "parse 1"]),
    ("ExpatParserCreate('UTF-8', '#!')", ["start urn:u#a", "parse 1"]),  # first character only
    ("ExpatParserCreateNS('UTF-8')", ["start x:a", "parse 1"]),  # the name does not decide
    ("ExpatParserCreateNS('UTF-8', '^')", ["start urn:u^a", "parse 1"]),
    ("ExpatParserCreate('')", ["ERROR 40"]),
    # with a separator, an empty or omitted encoding means no override
    ("ExpatParserCreate(, '|')", ["start urn:u|a", "parse 1"]),
    ("ExpatParserCreate('', '|')", ["start urn:u|a", "parse 1"]),
    ("ExpatParserCreate('UTF-8', '')", ["ERROR 40"]),
    ("ExpatParserCreate('UTF-8', '00'x)", ["ERROR 40"]),  # would fuse URI and local name
    ("ExpatParserCreate('UTF-8', '|', 'x')", ["ERROR 40"]),
])
def test_creation_forms(rexx, create, expected):
    assert element_names(rexx, create) == expected


@pytest.mark.parametrize("create,parsed", [
    ("ExpatParserCreate('', ':')", True),
    ("ExpatParserCreate(, ':')", True),
    ("ExpatParserCreate('UTF-8', ':')", False),  # forcing UTF-8 breaks the Latin-1 bytes
])
def test_namespace_parser_reads_the_declared_encoding(rexx, create, parsed):
    doc = "'<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a xmlns=\"urn:u\" t=\"' || 'e9'x || '\"/>'"
    lines = rexx.ok(f"""
p = {create}
call ExpatSetElementHandler p, {rexx_string("say 'start' arg(2) c2x(arg(4))")}, , 1
say 'parse' ExpatParse(p, {doc}, 0)
call ExpatParserFree p
""")
    assert lines == (["start urn:u:a C3A9", "parse 1"] if parsed else ["parse 0"])


def test_a_freed_parsers_handle_never_names_a_new_parser(rexx):
    lines = rexx.ok(f"""
old = ExpatParserCreate()
call ExpatParserFree old
do i = 1 to 50
  new.i = ExpatParserCreate()
  call ExpatSetElementHandler new.i, {rexx_string("say 'new parser ran'")}, , 1
  if new.i == old then say 'same handle'
end
say try('ExpatParse(old, "<a/>", 0)') try('ExpatGetErrorCode(old)') try('ExpatParserFree(old)')
do i = 1 to 50
  call ExpatParserFree new.i
end
""")
    assert lines == ["ERROR 40 ERROR 40 ERROR 40"]


def test_unknown_encoding_name_fails_at_parse_time(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate('no-such-encoding')
say ExpatParse(p, '<a/>', 0) ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
""")
    assert lines == ["0 unknown encoding"]


def test_handle_text_and_results(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate()
say p
say length(ExpatParse(p, '<a/>', 0))
r = ExpatParserFree(p)
say '['r']' length(r)
""")
    # The handle's text is the C library's "%p", which differs between Linux and Windows.
    assert HANDLE.fullmatch(lines[0]), lines
    assert lines[1:] == ["1", "[] 0"]


# The third argument of ExpatParse: empty, 0 or no leading digits make the piece the last one;
# any other number means more text follows. (Regina drops a trailing omitted argument, so an
# omitted third argument is a call with two: see the unit tests.)
@pytest.mark.parametrize("more,final", [
    ("''", True), ("0", True), ("'abc'", True), ("' 0'", True),
    ("1", False), ("' 2'", False), ("'3x'", False), ("-1", False),
])
def test_is_final_rule(rexx, more, final):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
say ExpatParse(p, '<a>', {more}) ExpatGetErrorCode(p)
call ExpatParserFree p
""")
    # An unclosed element in the last piece is an error; with more to come it is kept.
    assert lines == (["0 3"] if final else ["1 0"])


def split_and_parse(rexx, doc, sizes_expr):
    return rexx.ok(f"""
doc = '{doc}'
p = ExpatParserCreate()
call ExpatSetElementHandler p, "say 'start' arg(2) arg()", , 1, "say 'end' arg(2)", , 1
call ExpatSetCharacterDataHandler p, "say 'text' c2x(arg(2))", , 1
{sizes_expr}
call ExpatParserFree p
""")


def events_of(lines):
    """Merges adjacent text events: Expat may deliver a run of text in several calls."""
    merged = []
    for line in lines:
        if line.startswith("text ") and merged and merged[-1].startswith("text "):
            merged[-1] += line[5:]
        else:
            merged.append(line)
    return merged


def test_split_at_every_byte_gives_the_same_events(rexx):
    doc = '<r a="1"><b>x&amp;y</b><!-- c --><c d="e f"/>tail</r>'
    whole = events_of(split_and_parse(rexx, doc, "say 'status' ExpatParse(p, doc, 0)"))
    assert whole[-1] == "status 1"
    assert "start r 4" in whole and "text 7826793B79" not in whole
    for cut in range(1, len(doc)):
        pieces = events_of(split_and_parse(rexx, doc, f"""
s1 = ExpatParse(p, left(doc, {cut}), 1)
s2 = ExpatParse(p, substr(doc, {cut + 1}), 0)
say 'status' (s1 & s2)"""))
        assert pieces == whole, cut


def test_every_byte_a_piece(rexx):
    doc = '<r><b k="v">t</b></r>'
    lines = events_of(split_and_parse(rexx, doc, """
ok = 1
do i = 1 to length(doc)
  ok = ok & ExpatParse(p, substr(doc, i, 1), 1)
end
say 'status' (ok & ExpatParse(p, '', 0))"""))
    assert lines == ["start r 2", "start b 4", "text 74", "end b", "end r", "status 1"]


def test_empty_pieces(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate()
say ExpatParse(p, '', 1) ExpatParse(p, '<a>', 1) ExpatParse(p, '', 1) ExpatParse(p, '</a>', 1)
say ExpatParse(p, '', 0) ExpatGetErrorCode(p)
say 'after last' ExpatParse(p, '<b/>', 0) ExpatGetErrorCode(p)
call ExpatParserFree p
q = ExpatParserCreate()
say 'empty document' ExpatParse(q, '', 0) ExpatErrorString(ExpatGetErrorCode(q))
""")
    # A piece after the last one is Expat's "parsing finished" error, not exhausted memory.
    assert lines == ["1 1 1 1", "1 0", "after last 0 36", "empty document 0 no element found"]


def test_nul_bytes_reach_expat(rexx):
    # UTF-16 little and big endian with a byte-order mark, and little endian without one.
    lines = rexx.ok("""
doc = '<a>hi</a>'
le = 'FFFE'x; be = 'FEFF'x; bare = ''
do i = 1 to length(doc)
  le = le || substr(doc, i, 1) || '00'x
  be = be || '00'x || substr(doc, i, 1)
  bare = bare || substr(doc, i, 1) || '00'x
end
do k = 1 to 3
  text = word('le be bare', k)
  p = ExpatParserCreate()
  call ExpatSetCharacterDataHandler p, "say 'text' arg(2)", , 1
  say text ExpatParse(p, value(text), 0)
  call ExpatParserFree p
end
""")
    assert lines == ["text hi", "le 1", "text hi", "be 1", "text hi", "bare 1"]


def test_not_well_formed(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate()
r = ExpatParse(p, '<a>' || '0a'x || '  <b></a>', 0)
say r ExpatGetErrorCode(p) ExpatGetCurrentLineNumber(p) ExpatGetCurrentColumnNumber(p)
say ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
""")
    assert lines == ["0 7 2 7", "mismatched tag"]


@pytest.mark.parametrize("handle", ["'0'", "'garbage'", "'0x1'", "freed", "' '"])
def test_handles_that_name_no_live_parser(rexx, handle):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
freed = ExpatParserCreate()
call ExpatParserFree freed
h = {handle}
say try('ExpatParse(h, "<a/>", 0)') try('ExpatGetErrorCode(h)') try('ExpatParserFree(h)'),
    try('ExpatSetCommentHandler(h, "x")') try('ExpatSetVariablePool(h)'),
    try('ExpatExternalEntityParserCreate(h, "", "")')
call ExpatParserFree p
""")
    assert lines == [" ".join(["ERROR 40"] * 6)]


def test_handle_reading_stops_after_the_number(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate()
say ExpatGetErrorCode(p || ' and more') ExpatParserFree(p || 'z')
say try('ExpatGetErrorCode(p)')
""")
    assert lines == ["0 ", "ERROR 40"]


def test_external_entity_parser_copies_handlers(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate()
call ExpatSetElementHandler p, "say 'start' arg(2)", , 1
call ExpatSetCharacterDataHandler p, "say 'text' arg(2)", , 1
say 'before' ExpatParse(p, '<doc>', 1)
c = ExpatExternalEntityParserCreate(p, '', '')
say 'child' c (c \\= p)
call ExpatSetCharacterDataHandler c, "say 'child text' arg(2)", , 1
say 'entity' ExpatParse(c, '<e>x</e>', 0)
say 'rest' ExpatParse(p, 'y</doc>', 0)
say 'free parent first' try('ExpatParserFree(p)')
say 'free child' ExpatParserFree(c)
say 'free parent' ExpatParserFree(p)
""")
    # The handle's text is the C library's "%p", which differs between Linux and Windows.
    assert re.fullmatch(rf"child {HANDLE.pattern} 1", lines[2]), lines
    assert lines[:2] + lines[3:] == ["start doc", "before 1", "start e", "child text x",
                                     "entity 1", "text y", "rest 1",
                                     "free parent first ERROR 40", "free child ", "free parent "]


def test_external_entity_parser_with_empty_slots(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, "say 'comment' arg(2)", , 1
c = ExpatExternalEntityParserCreate(p, '', 'UTF-8')
say ExpatParse(c, '<e>x<!--n--></e>', 0)
call ExpatParserFree c
call ExpatParserFree p
""")
    assert lines == ["comment n", "1"]


def test_parser_cannot_be_fed_or_freed_from_its_own_handler(rexx):
    # Expat ignores such calls silently; the package refuses them.
    handler = rexx_string("""
h = arg(1)
say 'parse' try('ExpatParse(h, "<x/>", 0)')
say 'free' try('ExpatParserFree(h)')
exit
""" + TRY)
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, {handler}, , 1
say ExpatParse(p, '<a><b/></a>', 0)
say ExpatParserFree(p) '.'
""")
    assert lines == ["parse ERROR 40", "free ERROR 40"] * 2 + ["1", " ."]
