"""Encodings Expat does not know, described by Rexx procedures: the map text, the converter of
multi-byte sequences and the release procedure, through the real interpreter.

Documents hold bytes above 0x7F, so they reach Rexx as hex literals. Procedures report with
`say`; character data arrives in pieces of Expat's choosing, so the tests join the pieces.
"""

import subprocess

import pytest

import conftest
from conftest import rexx_string

# The test encoding x-seq: 0x80-0x8F start 2-byte sequences, 0x90-0x9F 3-byte ones, 0xA0-0xAF
# 4-byte ones; every other byte is itself. The 128 dots are identity items for ASCII.
SEQ_MAP = rexx_string("""
m = copies('.', 128)
do i = 128 to 255
  if i >= 176 then m = m || i' '
  else m = m || -(2 + (i - 128) % 16)' '
end
return m""")

# Converts a sequence to U+4E00 plus its last byte.
CONV_LAST = rexx_string("say 'conv' c2x(arg(2)); return 19968 + c2d(right(arg(2), 1))")
# Converts a 4-byte sequence to the scalar held big-endian in its last three bytes.
CONV_SCALAR = rexx_string("say 'conv' c2x(arg(2)); return c2d(substr(arg(2), 2))")
RELEASE = rexx_string("say 'release'")
CHARS = rexx_string("say 'cd' c2x(arg(2))")


def hexlit(data):
    """bytes as a Rexx hex literal."""
    return f"'{data.hex()}'x"


def declared(encoding, body):
    return f'<?xml version="1.0" encoding="{encoding}"?>'.encode() + body


def utf8hex(text):
    return text.encode("utf-8").hex().upper()


def joined(lines, tag="cd"):
    """The hex of every `tag` line, joined: the text one kind of procedure received."""
    return "".join(line.split()[1] for line in lines if line.split()[0] == tag)


def outcome(lines):
    return [line for line in lines if line.startswith("parse")]


PARSE = """ok = ExpatParse(p, doc, 0)
if ok then say 'parse 1'; else say 'parse 0' ExpatErrorString(ExpatGetErrorCode(p))"""

# ---- single-byte maps ---------------------------------------------------------------------

KOI8_TEXT = "Съешь же ещё этих мягких французских булок ╬ ≥ ©"
# The map text from an independent table: 256 decimal numbers.
KOI8_MAP = " ".join(str(ord(bytes([b]).decode("koi8_r"))) for b in range(256))


@pytest.mark.parametrize("create,doc,name", [
    ("ExpatParserCreate('KOI8-R')", b"<a>" + KOI8_TEXT.encode("koi8_r") + b"</a>", "KOI8-R"),
    ("ExpatParserCreate()", declared("koi8-r", b"<a>" + KOI8_TEXT.encode("koi8_r") + b"</a>"),
     "koi8-r"),
], ids=["given-at-creation", "declared"])
def test_single_byte_map_decodes_to_utf8(rexx, create, doc, name):
    lines = rexx.ok(f"""
p = {create}
call ExpatSetUnknownEncodingHandler p, "say 'enc' arg(2); return '{KOI8_MAP}'", , 1
call ExpatSetCharacterDataHandler p, {CHARS}, , 1
doc = {hexlit(doc)}
{PARSE}
call ExpatParserFree p
""")
    assert lines[0] == f"enc {name}"
    assert joined(lines) == utf8hex(KOI8_TEXT)
    assert outcome(lines) == ["parse 1"]


def test_map_entries_for_malformed_and_unreached_bytes(rexx):
    # Eight dots reach entries 0-7 only: every later byte is itself (Latin-1 for 0xE9), while
    # the one -1 entry makes its byte malformed.
    cafe = hexlit(b"<a>caf\xe9</a>")
    lines = rexx.ok(f"""
p = ExpatParserCreate('x-short')
call ExpatSetUnknownEncodingHandler p, {rexx_string("return copies('.', 8)")}, , 1
call ExpatSetCharacterDataHandler p, {CHARS}, , 1
doc = {cafe}
{PARSE}
call ExpatParserFree p
q = ExpatParserCreate('x-bad')
call ExpatSetUnknownEncodingHandler q, {rexx_string("return copies('.', 233) || '-1'")}, , 1
call ExpatSetCharacterDataHandler q, {CHARS}, , 1
say 'parse' ExpatParse(q, {cafe}, 0) ExpatErrorString(ExpatGetErrorCode(q))
call ExpatParserFree q
""")
    first = lines.index("parse 1")
    assert joined(lines[:first]) == utf8hex("café")
    assert lines[first + 1:] == ["cd 636166", "parse 0 not well-formed (invalid token)"]


# ---- multi-byte sequences ----------------------------------------------------------------

SEQUENCES = [b"\x85a", b"\x93bc", b"\xa7def"]
MULTI_DOC = declared("x-seq", b"<a>" + b"".join(SEQUENCES) + b"\xb5</a>")


@pytest.mark.parametrize("valgrind", [False, True], ids=["plain", "valgrind"])
@pytest.mark.parametrize("feed", ["one-piece", "byte-by-byte"])
def test_converter_receives_exactly_n_bytes(rexx, monkeypatch, feed, valgrind):
    monkeypatch.setattr(conftest, "VALGRIND", valgrind)
    # Fed a byte at a time, each sequence is split across pieces; the bytes after it in
    # Expat's buffer belong to the next sequence, so any extra byte would show.
    parse = PARSE if feed == "one-piece" else """do i = 1 to length(doc)
  ok = ExpatParse(p, substr(doc, i, 1), i < length(doc))
  if \\ok then leave
end
if ok then say 'parse 1'; else say 'parse 0' ExpatErrorString(ExpatGetErrorCode(p))"""
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetUnknownEncodingHandler p, {SEQ_MAP}, , 1
call ExpatSetUnknownEncodingConverter p, {CONV_LAST}, , 1, {RELEASE}, , 1
call ExpatSetCharacterDataHandler p, {CHARS}, , 1
doc = {hexlit(MULTI_DOC)}
{parse}
call ExpatParserFree p
""", timeout=600)
    converted = {line.split()[1] for line in lines if line.startswith("conv")}
    assert converted == {s.hex().upper() for s in SEQUENCES}
    assert joined(lines) == utf8hex("\u4e61\u4e63\u4e66\u00b5")
    assert outcome(lines) == ["parse 1"]
    assert lines[-1] == "release"


@pytest.mark.parametrize("valgrind", [False, True], ids=["plain", "valgrind"])
def test_procedures_as_labels(rexx, monkeypatch, valgrind):
    # Expat waits for these answers: the labels run while it does, on the program's thread,
    # with the program's variables, also while the parser is freed.
    monkeypatch.setattr(conftest, "VALGRIND", valgrind)
    lines = rexx.ok(f"""
seen = ''
p = ExpatParserCreate()
call ExpatSetUnknownEncodingHandler p, 'OnMap', , 'internal'
call ExpatSetUnknownEncodingConverter p, 'OnConvert', , 'internal', 'OnRelease', , 'internal'
call ExpatSetCharacterDataHandler p, 'OnChars', , 'internal'
doc = {hexlit(MULTI_DOC)}
do i = 1 to length(doc) by 7
  ok = ExpatParse(p, substr(doc, i, 7), i + 7 <= length(doc))
  if \\ok then leave
end
say 'parse' ok
say 'seen' seen
call ExpatParserFree p
say 'freed'
exit
OnMap: procedure
  say 'map' arg(2)
  m = copies('.', 128)
  do i = 128 to 255
    if i >= 176 then m = m || i' '
    else m = m || -(2 + (i - 128) % 16)' '
  end
  return m
OnConvert: procedure expose seen
  seen = seen c2x(arg(2))
  return 19968 + c2d(right(arg(2), 1))
OnRelease:
  say 'release'
  return
OnChars: procedure
  say 'cd' c2x(arg(2))
  return
""", timeout=600)
    assert lines[0] == "map x-seq"
    assert joined(lines) == utf8hex("\u4e61\u4e63\u4e66\u00b5")
    assert lines[-4] == "parse 1"
    assert set(lines[-3].split()[1:]) == {s.hex().upper() for s in SEQUENCES}
    assert lines[-2:] == ["release", "freed"]


# Through the whole road: what the converter returns, and what Expat makes of it. Expat
# refuses every scalar above U+FFFF from a converter (its own rule for unknown encodings), so
# those fail as an invalid token at the sequence; the bridge's exact answer for them is
# checked in process (tests/unit/encoding_convert_test.cpp). 0x10041 would have come through
# as "A" had its low 16 bits been taken.
@pytest.mark.parametrize("scalar,expected", [
    (0x7FFF, utf8hex("\u7fff")),
    (0x8000, utf8hex("\u8000")),
    (0x4E2D, utf8hex("\u4e2d")),
    (0xFFFD, utf8hex("\ufffd")),
    (0x1F600, None),
    (0x10041, None),
], ids=lambda v: f"{v:X}" if isinstance(v, int) else None)
def test_scalar_arrives_whole(rexx, scalar, expected):
    sequence = b"\xa0" + scalar.to_bytes(3, "big")
    doc = hexlit(declared("x-seq", b"<a>" + sequence + b"</a>"))
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetUnknownEncodingHandler p, {SEQ_MAP}, , 1
call ExpatSetUnknownEncodingConverter p, {CONV_SCALAR}, , 1
call ExpatSetCharacterDataHandler p, {CHARS}, , 1
doc = {doc}
{PARSE}
say 'at' ExpatGetCurrentByteIndex(p)
call ExpatParserFree p
""")
    assert joined(lines, "conv") and {line for line in lines if line.startswith("conv")} == {
        "conv " + sequence.hex().upper()}
    if expected:
        assert joined(lines) == expected
        assert outcome(lines) == ["parse 1"]
    else:
        assert joined(lines) == ""
        assert outcome(lines) == ["parse 0 not well-formed (invalid token)"]
        assert lines[-1] == f"at {len(declared('x-seq', b'<a>'))}"


def test_emptied_converter_makes_later_sequences_malformed(rexx):
    # The description holds the bridge; emptying the slot between two pieces makes the next
    # sequence malformed without running anything, and the release procedure stays.
    first = hexlit(declared("x-seq", b"<a>\x85a<b/>"))
    second = hexlit(b"\x86b</a>")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetUnknownEncodingHandler p, {SEQ_MAP}, , 1
call ExpatSetUnknownEncodingConverter p, {CONV_LAST}, , 1, {RELEASE}, , 1
call ExpatSetCharacterDataHandler p, {CHARS}, , 1
say 'piece' ExpatParse(p, {first}, 1)
say 'emptied' ExpatSetUnknownEncodingConverter(p)
doc = {second}
{PARSE}
call ExpatParserFree p
""")
    assert "conv 8561" in lines and "conv 8662" not in lines
    assert joined(lines) == utf8hex("\u4e61")
    after = lines[lines.index("emptied 0"):]
    assert after == ["emptied 0", "parse 0 not well-formed (invalid token)", "release"]


# ---- the setters' argument forms ----------------------------------------------------------

TWO_BYTE_DOC = hexlit(declared("x-seq", b"<a>\x85a</a>"))
UNKNOWN = "parse 0 unknown encoding"


# Each case: the setter calls after creating the parser, what they answer, and then which
# procedures ran and how the parse ended. A description without a converter is refused by
# Expat for a map with sequences, which then tells the release procedure at once.
@pytest.mark.parametrize("calls,answers,ran,parsed", [
    (["ExpatSetUnknownEncodingHandler(p, MAP, , 1)",
      "ExpatSetUnknownEncodingConverter(p, CONV, , 1, REL, , 1)"],
     ["3", "3"], ["enc", "conv", "release"], "parse 1"),
    # exactly four arguments: the release group counts as omitted
    (["ExpatSetUnknownEncodingHandler(p, MAP, , 1)",
      "ExpatSetUnknownEncodingConverter(p, CONV, , 1, REL, , 1)",
      "ExpatSetUnknownEncodingConverter(p, CONV, , 1)"],
     ["3", "3", "0"], ["enc", "conv"], "parse 1"),
    # an empty release procedure empties the release slot too
    (["ExpatSetUnknownEncodingHandler(p, MAP, , 1)",
      "ExpatSetUnknownEncodingConverter(p, CONV, , 1, REL, , 1)",
      "ExpatSetUnknownEncodingConverter(p, CONV, , 1, '')"],
     ["3", "3", "0"], ["enc", "conv"], "parse 1"),
    # the handle alone empties the convert slot and stops: the release slot keeps its record
    (["ExpatSetUnknownEncodingHandler(p, MAP, , 1)",
      "ExpatSetUnknownEncodingConverter(p, CONV, , 1, REL, , 1)",
      "ExpatSetUnknownEncodingConverter(p)"],
     ["3", "3", "0"], ["enc", "release"], UNKNOWN),
    # an omitted convert group with a release group: the release group is not looked at
    (["ExpatSetUnknownEncodingHandler(p, MAP, , 1)",
      "ExpatSetUnknownEncodingConverter(p, , , , REL, , 1)"],
     ["3", "0"], ["enc"], UNKNOWN),
    # the handler setter with the handle alone leaves Expat with no handler
    (["ExpatSetUnknownEncodingHandler(p, MAP, , 1)",
      "ExpatSetUnknownEncodingConverter(p, CONV, , 1, REL, , 1)",
      "ExpatSetUnknownEncodingHandler(p)"],
     ["3", "3", "0"], [], UNKNOWN),
    (["ExpatSetUnknownEncodingHandler(p, MAP, , 1)",
      "ExpatSetUnknownEncodingConverter(p, CONV, , 1, REL, , 1)",
      "ExpatSetUnknownEncodingHandler(p, '')"],
     ["3", "3", "0"], [], UNKNOWN),
    # no argument at all: 40, and nothing changes
    (["ExpatSetUnknownEncodingHandler(p, MAP, , 1)",
      "ExpatSetUnknownEncodingConverter(p, CONV, , 1, REL, , 1)",
      "ExpatSetUnknownEncodingHandler()", "ExpatSetUnknownEncodingConverter()"],
     ["3", "3", "ERROR 40", "ERROR 40"], ["enc", "conv", "release"], "parse 1"),
    # a handle that names no parser
    (["ExpatSetUnknownEncodingHandler('0x1', MAP, , 1)",
      "ExpatSetUnknownEncodingConverter('0x1', CONV, , 1)"],
     ["ERROR 40", "ERROR 40"], [], UNKNOWN),
], ids=["both-groups", "four-arguments", "empty-release", "handle-alone", "no-convert-group",
        "handler-handle-alone", "handler-empty", "no-arguments", "bad-handle"])
def test_setter_forms(rexx, calls, answers, ran, parsed):
    tries = "\n".join(f"say 'set' try({c!r})" for c in calls)
    lines = rexx.ok(f"""
MAP = "say 'enc';" {SEQ_MAP}
CONV = {rexx_string("say 'conv'; return 19968 + c2d(right(arg(2), 1))")}
REL = {RELEASE}
p = ExpatParserCreate()
{tries}
doc = {TWO_BYTE_DOC}
{PARSE}
call ExpatParserFree p
""")
    assert [line[4:] for line in lines if line.startswith("set ")] == answers
    procedures = [line for line in lines if line in ("enc", "conv", "release")]
    assert list(dict.fromkeys(procedures)) == ran
    assert procedures.count("release") == ("release" in ran)
    assert outcome(lines) == [parsed]


# ---- the release procedure ---------------------------------------------------------------

# Run while ExpatParserFree frees the Expat parser: every call on the handle answers 40.
RELEASE_PROBE = """h = arg(1)
say 'release' h
call probe 'ExpatGetCurrentLineNumber(h)'
call probe 'ExpatGetErrorCode(h)'
call probe 'ExpatGetBase(h)'
call probe "ExpatSetCharacterDataHandler(h, 'say 1', , 1)"
call probe "ExpatSetUnknownEncodingConverter(h)"
call probe 'ExpatParse(h, "<b/>", 0)'
call probe 'ExpatParserFree(h)'
return
probe:
  parse arg expr
  signal on syntax name refused
  interpret 'r =' expr
  say expr '->' r
  return
refused:
  say expr '-> ERROR' rc
  return"""


@pytest.mark.parametrize("valgrind", [False, True], ids=["plain", "valgrind"])
def test_release_runs_while_the_parser_is_freed(rexx, monkeypatch, valgrind):
    monkeypatch.setattr(conftest, "VALGRIND", valgrind)
    lines = rexx.ok(f"""
p = ExpatParserCreate()
say 'handle' p
call ExpatSetUnknownEncodingHandler p, {SEQ_MAP}, , 1
call ExpatSetUnknownEncodingConverter p, {CONV_LAST}, , 1, {rexx_string(RELEASE_PROBE)}, , 1
doc = {TWO_BYTE_DOC}
{PARSE}
say 'line' ExpatGetCurrentLineNumber(p)
say 'freeing'
r = ExpatParserFree(p)
say 'freed [' || r || ']' try('ExpatGetCurrentLineNumber(p)')
""", timeout=600)
    handle = lines[0].split()[1]
    start = lines.index("freeing")
    assert lines[start - 2:start] == ["parse 1", "line 1"]
    assert "release " + handle not in lines[:start]
    assert lines[start + 1:] == [
        "release " + handle,
        "ExpatGetCurrentLineNumber(h) -> ERROR 40",
        "ExpatGetErrorCode(h) -> ERROR 40",
        "ExpatGetBase(h) -> ERROR 40",
        "ExpatSetCharacterDataHandler(h, 'say 1', , 1) -> ERROR 40",
        "ExpatSetUnknownEncodingConverter(h) -> ERROR 40",
        'ExpatParse(h, "<b/>", 0) -> ERROR 40',
        "ExpatParserFree(h) -> ERROR 40",
        "freed [] ERROR 40",
    ]


# A release procedure that fails while ExpatParserFree frees the parser: reported, and nothing of
# the Expat parser being freed is read.
@pytest.mark.parametrize("release,error", [
    (rexx_string("x = 1 + 'a'") + ", , 1", "Quillmark (Error -41): rexx interpreter error "
                                 "(UnknownEncodingRelease handler, in-store)"),
    ("'NoSuchLabel', , 'internal'", "Quillmark (Error -16): rexx interpreter error "
                                    '(UnknownEncodingRelease handler "NoSuchLabel")'),
], ids=["in-store", "label"])
@pytest.mark.parametrize("valgrind", [False, True], ids=["plain", "valgrind"])
def test_release_that_fails_while_the_parser_is_freed(rexx, monkeypatch, valgrind, release,
                                                      error):
    monkeypatch.setattr(conftest, "VALGRIND", valgrind)
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetUnknownEncodingHandler p, {SEQ_MAP}, , 1
call ExpatSetUnknownEncodingConverter p, {CONV_LAST}, , 1, {release}
doc = {TWO_BYTE_DOC}
{PARSE}
call ExpatParserFree p
say 'freed' try('ExpatGetErrorCode(p)')
""", timeout=600)
    assert run.returncode == 0, run
    assert run.lines == ["conv 8561", "parse 1", "freed ERROR 40"]
    assert run.errors[-1] == error


# A converter label that frees its parser while Expat waits for its answer: the parser is freed
# once Expat returns, and Expat's release of the encoding still runs the release label.
@pytest.mark.parametrize("valgrind", [False, True], ids=["plain", "valgrind"])
def test_release_runs_when_a_converter_label_frees_the_parser(rexx, monkeypatch, valgrind):
    monkeypatch.setattr(conftest, "VALGRIND", valgrind)
    convert = rexx.label("OnConvert", "say 'convert'\ncall ExpatParserFree arg(1)\n"
                                      "return 19968")
    release = rexx.label("OnRelease", "h = arg(1)\nsay 'release' try('ExpatGetErrorCode(h)')")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetUnknownEncodingHandler p, {SEQ_MAP}, , 1
call ExpatSetUnknownEncodingConverter p, {convert}, {release}
doc = {TWO_BYTE_DOC}
say 'parse' ExpatParse(p, doc, 0)
say 'after' try('ExpatGetErrorCode(p)')
""", timeout=600)
    assert lines == ["convert", "release ERROR 40", "parse 0", "after ERROR 40"]


# ---- external-entity parsers -------------------------------------------------------------

# The parent's document is in x-two (every upper byte starts 2 bytes), its entity in x-four
# (4 bytes): a child that wrote its map over the parent's would make the parent's later
# sequences 4 bytes long.
TWO_FOUR_MAP = """say 'enc' arg(1) arg(2)
n = -2
if arg(2) = 'x-four' then n = -4
m = copies('.', 128)
do 128; m = m || n' '; end
return m"""

ENTITY = """parse arg h, context, base, system
c = ExpatExternalEntityParserCreate(h, context, '')
say 'child' c
ok = ExpatParse(c, charin(system, 1, chars(system)), 0)
call stream system, 'c', 'close'
say 'entity' ok
call ExpatParserFree c
return 1"""


@pytest.mark.parametrize("valgrind", [False, True], ids=["plain", "valgrind"])
def test_entity_parser_describes_its_encoding_with_its_own_record(rexx, monkeypatch, valgrind):
    monkeypatch.setattr(conftest, "VALGRIND", valgrind)
    rexx.write("e.xml", declared("x-four", b"<b>\x83CDE</b>").decode("latin-1"))
    doc = hexlit(declared(
        "x-two", b'<!DOCTYPE a [<!ENTITY e SYSTEM "e.xml">]><a>\x81A&e;\x82B\x84D</a>'))
    conv = "say 'conv' arg(1) c2x(arg(2)); return 19968 + c2d(right(arg(2), 1))"
    lines = rexx.ok(f"""
p = ExpatParserCreate()
say 'handle' p
call ExpatSetUnknownEncodingHandler p, {rexx_string(TWO_FOUR_MAP)}, , 1
call ExpatSetUnknownEncodingConverter p, {rexx_string(conv)}, , 1,,
  {rexx_string("say 'release' arg(1)")}, , 1
call ExpatSetCharacterDataHandler p, {rexx_string("say 'cd' arg(1) c2x(arg(2))")}, , 1
call ExpatSetExternalEntityRefHandler p, {rexx_string(ENTITY)}, , 1
doc = {doc}
{PARSE}
call ExpatParserFree p
""", timeout=600)
    parent = lines[0].split()[1]
    child = next(line.split()[1] for line in lines if line.startswith("child "))
    assert child != parent
    named = [line.replace(parent, "P").replace(child, "C") for line in lines[1:]]
    # each parser's procedures run with its own handle, for its own sequences
    assert [line for line in named if line.startswith("enc")] == ["enc P x-two", "enc C x-four"]
    assert {line for line in named if line.startswith("conv")} == {
        "conv P 8141", "conv C 83434445", "conv P 8242", "conv P 8444"}
    assert "".join(line.split()[2] for line in named if line.startswith("cd P")) == utf8hex(
        "\u4e41\u4e42\u4e44")
    assert "".join(line.split()[2] for line in named if line.startswith("cd C")) == utf8hex(
        "\u4e45")
    # the child's release runs when the child is freed, the parent's at the end
    assert named.index("entity 1") < named.index("release C") < named.index("conv P 8242")
    assert named[-2:] == ["parse 1", "release P"]
    assert named.count("release C") == named.count("release P") == 1


# ---- procedures that fail to run -----------------------------------------------------------

# RexxStart failing in the handler bridge: the encoding is not handled and no description is
# made, so no release procedure runs. An empty map is a description that Expat refuses, and
# Expat then tells the release procedure at once.
@pytest.mark.parametrize("handler,error", [
    ("'no-such-map'", -3),
    (rexx_string("say 'enc'; x = 1 + 'a'") + ", , 1", -41),
    (rexx_string("return 'unclosed") + ", , 1", -6),
    (rexx_string("say 'enc'; return ''") + ", , 1", None),
    (rexx_string("say 'enc'; return") + ", , 1", None),
], ids=["not-found", "run-time-error", "syntax-error", "empty-map", "no-map"])
def test_handler_that_fails_leaves_the_encoding_unknown(rexx, handler, error):
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetUnknownEncodingHandler p, {handler}
call ExpatSetUnknownEncodingConverter p, {CONV_LAST}, , 1, {RELEASE}, , 1
doc = {TWO_BYTE_DOC}
{PARSE}
say 'freeing'
call ExpatParserFree p
""")
    assert run.returncode == 0, run
    assert "conv" not in " ".join(run.lines)
    if error is None:
        assert outcome(run.lines) == [UNKNOWN]
        assert run.errors == []
        assert run.lines.count("release") == 1
        assert run.lines.index("release") < run.lines.index("freeing")
    else:
        # A handler that fails stops the parse.
        assert outcome(run.lines) == ["parse 0 parsing aborted"]
        assert any(e.startswith(f"Quillmark (Error {error}): rexx interpreter error "
                                "(UnknownEncoding handler") for e in run.errors), run.errors
        assert "release" not in run.lines


# A converter that fails stops the parse.
@pytest.mark.parametrize("converter,error", [
    ("'no-such-converter'", -3),
    (rexx_string("x = 1 + 'a'") + ", , 1", -41),
    (rexx_string("return 'unclosed") + ", , 1", -6),
], ids=["not-found", "run-time-error", "syntax-error"])
def test_converter_that_fails_makes_the_sequence_malformed(rexx, converter, error):
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetUnknownEncodingHandler p, {SEQ_MAP}, , 1
call ExpatSetUnknownEncodingConverter p, {converter}
call ExpatSetCharacterDataHandler p, {CHARS}, , 1
doc = {TWO_BYTE_DOC}
{PARSE}
call ExpatParserFree p
""")
    assert run.returncode == 0, run
    assert outcome(run.lines) == ["parse 0 parsing aborted"]
    assert joined(run.lines) == ""
    assert any(e.startswith(f"Quillmark (Error {error}): rexx interpreter error "
                            "(UnknownEncodingConvert handler") for e in run.errors), run.errors


# ---- the example program -------------------------------------------------------------------

EXAMPLE = conftest.SOURCE_DIR / "examples" / "encodings.rexx"


def run_example(rexx, *args):
    proc = subprocess.run(conftest.regina_command(EXAMPLE) + list(args), cwd=rexx.folder,
                          env=rexx.env(), capture_output=True, timeout=300)
    return proc.returncode, proc.stdout.decode("utf-8").splitlines(), proc.stderr


def test_example_prints_the_utf8_text_of_each_sample(rexx):
    code, lines, errors = run_example(rexx)
    assert errors == b""
    assert lines == [
        "koi8r.xml: Съешь же ещё этих мягких французских булок, да выпей же чаю. ╔═╗",
        "quill.xml: Grüße — 中文, 語 ≠ ✓",
        # Expat takes no scalar above U+FFFF from a converter
        "quill-astral.xml: Smile:  [stopped at line 2, column 13: not well-formed (invalid token)]",
    ]
    assert code == 1


def test_example_with_files_named(rexx):
    rexx.write("plain.xml", "<a>ok</a>")
    quill = conftest.rexx_path(EXAMPLE.parent / "encodings" / "quill.xml")
    code, lines, _ = run_example(rexx, quill, "plain.xml", "missing.xml")
    assert lines == ["quill.xml: Grüße — 中文, 語 ≠ ✓", "plain.xml: ok", "missing.xml: cannot open"]
    assert code == 1
