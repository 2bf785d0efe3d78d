"""Hostile documents through the real interpreter, with handlers as labels, in-store and in files:
entity expansion bombs, deep nesting, huge text, malformed bytes, UTF-16, external entities
that nobody asked for, and documents cut into pieces anywhere.

A user's program shares its process with the package, so every case must end in an answer
("1", or "0" with Expat's error), never in a crash or in memory that grows with the attack.
Under valgrind (QUILLMARK_VALGRIND=1) the largest documents shrink to sizes memcheck gets
through in seconds; the code paths stay the same. Time and memory bounds hold only for a plain
run: memcheck and AddressSanitizer (QUILLMARK_SANITIZED=1, scripts/hardening) add their own.

One start tag with 5 000 attributes is in test_events.py (test_start_tag_with_many_attributes).
"""

import os
import shutil
import socket
import subprocess

import pytest

from conftest import EPILOGUE, PROLOGUE, VALGRIND, rexx_string

MODES = ["label", "instore", "external"]
MEASURED = not VALGRIND and os.environ.get("QUILLMARK_SANITIZED") != "1"


def scaled(full, light):
    return light if VALGRIND else full


def group(rexx, mode, name, source):
    """One handler group (procedure, environment, invocation type) running source."""
    if mode == "label":
        return rexx.label(f"On{name}", source)
    if mode == "instore":
        return f"{rexx_string(source)}, , 1"
    rexx.write(f"{name}.rexx", source + "\n")
    return f"'{name}', , ''"


def reporter(kind, answer="''"):
    """Says the kind and each argument after the handle in hex ('-' when omitted)."""
    return f"""s = '{kind}'
do i = 2 to arg()
  if arg(i, 'E') then s = s '='c2x(arg(i))
  else s = s '-'
end
say s
return {answer}"""


def decode(line):
    """A reporter line with its hex arguments turned back into text."""
    kind, *args = line.split(" ")
    return (kind, *(bytes.fromhex(a[1:]).decode("utf-8", "replace") if a != "-" else None
                    for a in args))


# The peak resident size of the interpreter's process, in kB, as its last line.
PEAK = """
f = '/proc/self/status'
do forever
  l = linein(f)
  if left(l, 6) = 'VmHWM:' then do; say 'peak' word(l, 2); leave; end
  if stream(f, 'S') \\= 'READY' then leave
end
"""


def peak_kb(lines):
    assert lines[-1].startswith("peak "), lines[-10:]
    return int(lines[-1].split()[1])


def hex_literal(data):
    return f"x2c('{data.hex()}')"


# ---- entity expansion bombs ------------------------------------------------------------------

def laughs(leaf):
    """Ten levels of ten references each: 10**9 leaves once expanded."""
    doc = '<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol0 "' + leaf + '">'
    for level in range(1, 10):
        doc += f'<!ENTITY lol{level} "' + f"&lol{level - 1};" * 10 + '">'
    return doc + "]><lolz>&lol9;</lolz>"


# A three-byte leaf is the classic form; in external mode its millions of text events would
# each re-read the procedure's file, so the wide leaf (fewer, larger events) stands in there.
@pytest.mark.parametrize("mode,leaf", [
    ("label", "lol"),
    ("instore", "lol"),
    ("instore", "lol" * 1000),
    ("external", "lol" * 1000),
], ids=["label-classic", "instore-classic", "instore-wide", "external-wide"])
def test_billion_laughs_is_refused_with_bounded_memory(rexx, mode, leaf):
    start = group(rexx, mode, "start", "say 'start' arg(2)")
    text = group(rexx, mode, "text", "return")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, {start}
call ExpatSetCharacterDataHandler p, {text}
doc = '{laughs(leaf)}'
say ExpatParse(p, doc, 0) ExpatGetErrorCode(p) ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
{PEAK}""", timeout=600)
    assert lines[0] == "start lolz"
    assert lines[1] == ("0 43 limit on input amplification factor (from DTD and entities) "
                        "breached")
    if MEASURED:
        # A full expansion would be gigabytes; the three-byte leaf gives millions of text events
        # before Expat stops.
        assert peak_kb(lines) < 256 * 1024


# ---- scale ----------------------------------------------------------------------------------

@pytest.mark.parametrize("mode", MODES)
def test_deep_nesting(rexx, mode):
    depth = scaled(100_000, 2_000)
    start = group(rexx, mode, "start", "say 's' arg(2)")
    end = group(rexx, mode, "end", "say 'e' arg(2)")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, {start}, {end}
depth = {depth}
say 'first' ExpatParse(p, copies('<a>', depth), 1)
say 'last' ExpatParse(p, copies('</a>', depth), 0) ExpatGetErrorCode(p)
call ExpatParserFree p
""", timeout=900)
    assert lines.count("s a") == depth and lines.count("e a") == depth
    assert lines[-1] == "last 1 0" and "first 1" in lines
    # every start before its end: the first end comes right after the last start
    assert lines.index("e a") == len(lines) - 1 - depth


@pytest.mark.parametrize("mode", MODES)
def test_huge_text_node_in_small_pieces(rexx, mode):
    pieces = scaled(800, 16)  # 800 * 64 KiB = 50 MiB
    text = group(rexx, mode, "text", "say 'text' length(arg(2))")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCharacterDataHandler p, {text}
piece = copies('x', 65536)
ok = ExpatParse(p, '<t>', 1)
do {pieces}
  ok = ok & ExpatParse(p, piece, 1)
end
say 'status' (ok & ExpatParse(p, '</t>', 0))
call ExpatParserFree p
{PEAK}""", timeout=900)
    assert lines[-2] == "status 1"
    assert sum(int(line.split()[1]) for line in lines if line.startswith("text ")) == pieces * 65536
    if MEASURED:
        # Regina 3.6 keeps a copy of every RexxStart argument until the interpreter ends (the
        # same growth without the package, measured), so one copy of the text stays; neither
        # the package nor Expat may keep another.
        assert peak_kb(lines) < pieces * 64 + 24 * 1024


# ---- malformed bytes ------------------------------------------------------------------------

# document, Expat's error code, byte index of the error
MALFORMED = [
    (b"<a>\x80</a>", 4, 3),              # continuation byte alone
    (b"<a>\xc3<</a>", 4, 3),             # truncated two-byte sequence
    (b"<a>\xc0\xaf</a>", 4, 3),          # overlong form of '/'
    (b"<a>\xed\xa0\x80</a>", 4, 3),      # UTF-16 surrogate written as UTF-8
    (b"<a>\xf4\x90\x80\x80</a>", 4, 3),  # beyond U+10FFFF
    (b"<a>\xff</a>", 4, 3),
    (b'<a b="\xfe"/>', 4, 6),            # in an attribute value
    (b"<a\xc3/>", 4, 2),                 # in a name
    (b"<a>\xe2\x82", 6, 3),              # the last piece ends inside a character
    (b"<a>x\x00y</a>", 4, 4),            # NUL in text: Expat sees it, nothing cuts there
    (b'<a b="\x00"/>', 4, 6),
    (b"<a\x00/>", 4, 2),
    (b"\x00<a/>", 5, 0),
    (b"<a>&#0;</a>", 14, 3),             # NUL as a character reference
]


@pytest.mark.parametrize("mode", MODES)
def test_malformed_bytes_answer_expats_error(rexx, mode):
    """Each document whole and one byte per piece: the same error at the same byte."""
    start = group(rexx, mode, "start", "say 'start' c2x(arg(2))")
    text = group(rexx, mode, "text", "say 'text' c2x(arg(2))")
    docs = " ".join(doc.hex() for doc, _, _ in MALFORMED)
    lines = rexx.ok(f"""
docs = '{docs}'
do k = 1 to words(docs)
  doc = x2c(word(docs, k))
  do bytewise = 0 to 1
    p = ExpatParserCreate()
    call ExpatSetElementHandler p, {start}
    call ExpatSetCharacterDataHandler p, {text}
    if bytewise then do
      ok = 1
      do i = 1 to length(doc) while ok
        ok = ExpatParse(p, substr(doc, i, 1), 1)
      end
      if ok then ok = ExpatParse(p, '', 0)
    end
    else ok = ExpatParse(p, doc, 0)
    say 'result' k ok ExpatGetErrorCode(p) ExpatGetCurrentByteIndex(p)
    call ExpatParserFree p
  end
end
""")
    results = [line.split()[1:] for line in lines if line.startswith("result ")]
    expected = []
    for k, (_, code, index) in enumerate(MALFORMED, 1):
        expected += [[str(k), "0", str(code), str(index)]] * 2
    assert results == expected
    # Nothing from behind a bad byte reached a procedure.
    assert not any(line.startswith("text ") and "79" in line for line in lines)


def test_bytes_of_a_declared_8_bit_encoding_arrive_as_utf8(rexx):
    lines = rexx.ok("""
doc = '<?xml version="1.0" encoding="ISO-8859-1"?><a b="' || 'FE'x || '">' || '80E9FF'x || '</a>'
p = ExpatParserCreate()
call ExpatSetElementHandler p, "say 'start' c2x(arg(4))", , 1
call ExpatSetCharacterDataHandler p, "say 'text' c2x(arg(2))", , 1
say ExpatParse(p, doc, 0)
call ExpatParserFree p
""")
    assert lines == ["start C3BE", "text C280C3A9C3BF", "1"]


# ---- UTF-16 ---------------------------------------------------------------------------------

UTF16_TEXT = '<r k="\u00e9\U0001F600"><?t d\u00e9?>x\u20acy<!--\u00e9--></r>'


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("codec,bom", [
    ("utf-16-le", b"\xff\xfe"), ("utf-16-be", b"\xfe\xff"),
    ("utf-16-le", b""), ("utf-16-be", b""),
])
def test_utf16_whole_and_cut_inside_code_units(rexx, mode, codec, bom):
    doc = bom + UTF16_TEXT.encode(codec)
    setters = [
        ("ExpatSetElementHandler", [("start", "''")]),
        ("ExpatSetCharacterDataHandler", [("text", "''")]),
        ("ExpatSetProcessingInstructionHandler", [("pi", "''")]),
        ("ExpatSetCommentHandler", [("comment", "''")]),
    ]
    cuts = list(range(0, len(doc), scaled(1, 5)))
    events = run_cuts(rexx, mode, setters, doc, cuts)
    expected = [("start", "r", "k", "\u00e9\U0001F600"), ("pi", "t", "d\u00e9"),
                ("text", "x\u20acy"), ("comment", "\u00e9"), ("status", "1")]
    for cut, got in events.items():
        assert got == expected, cut


# ---- external entities ----------------------------------------------------------------------

def write_entities(folder):
    """A document naming an external subset and an external entity, both of which would change
    the events if anything read them, and a port nobody should connect to."""
    (folder / "ext.dtd").write_text('<!ENTITY e "FROM-THE-DTD">\n')
    (folder / "ext.xml").write_text("<injected/>")
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    listener.setblocking(False)
    port = listener.getsockname()[1]
    doc = (f'<!DOCTYPE r SYSTEM "ext.dtd" [<!ENTITY x SYSTEM "ext.xml">'
           f'<!ENTITY net SYSTEM "http://127.0.0.1:{port}/net.xml">]>'
           "<r>&e;&x;&net;</r>")
    return doc, listener


def nobody_connected(listener):
    try:
        listener.accept()[0].close()
        return False
    except BlockingIOError:
        return True
    finally:
        listener.close()


def entities_program(rexx, mode, with_procedure):
    start = group(rexx, mode, "start", "say 'start' arg(2)")
    text = group(rexx, mode, "text", "say 'text' arg(2)")
    default = group(rexx, mode, "default", "say 'default' arg(2)")
    extref = group(rexx, mode, "extref", "say 'extref' arg(4)\nreturn 1")
    doc, listener = write_entities(rexx.folder)
    extra = f"call ExpatSetExternalEntityRefHandler p, {extref}" if with_procedure else ""
    return f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, {start}
call ExpatSetCharacterDataHandler p, {text}
call ExpatSetDefaultHandler p, {default}
{extra}
say 'pe' ExpatSetParamEntityParsing(p, 'XML_PARAM_ENTITY_PARSING_ALWAYS')
say 'parse' ExpatParse(p, '{doc}', 0) ExpatGetErrorCode(p)
call ExpatParserFree p
""", listener


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("with_procedure", [False, True], ids=["no-procedure", "procedure"])
def test_external_entities_are_never_fetched(rexx, mode, with_procedure):
    body, listener = entities_program(rexx, mode, with_procedure)
    lines = rexx.ok(body)
    assert nobody_connected(listener)
    assert not any("injected" in line or "FROM-THE-DTD" in line for line in lines), lines
    assert lines[0] == "pe 1" and lines[-1] == "parse 1 0"
    assert "start r" in lines
    refs = [line for line in lines if line.startswith("extref ")]
    if with_procedure:
        # The procedure hears of the subset and both entities, and reads nothing itself.
        assert refs == ["extref ext.dtd", "extref ext.xml", f"extref {listener_url(lines)}"]
    else:
        # Unread, the references stay markup for the default procedure.
        assert refs == [] and "default &x;" in lines and "default &net;" in lines


def listener_url(lines):
    for line in lines:
        if line.startswith("extref http://"):
            return line.split()[1]
    return "(none)"


@pytest.mark.skipif(shutil.which("strace") is None or VALGRIND, reason="needs strace, no valgrind")
@pytest.mark.parametrize("mode", MODES)
def test_no_file_or_socket_opened_for_external_entities(rexx, mode):
    body, listener = entities_program(rexx, mode, with_procedure=False)
    listener.close()
    labels, rexx.labels = "".join(rexx.labels), []
    program = rexx.write("traced.rexx", PROLOGUE + body + EPILOGUE + labels)
    trace = rexx.folder / "trace.txt"
    proc = subprocess.run(["strace", "-f", "-qq", "-o", str(trace), "-e",
                           "trace=open,openat,openat2,socket,connect", "regina", str(program)],
                          cwd=rexx.folder, env=rexx.env({"ASAN_OPTIONS": "detect_leaks=0"}),
                          capture_output=True, timeout=120)  # LeakSanitizer cannot run traced
    assert proc.returncode == 0, proc
    assert b"parse 1 0" in proc.stdout
    calls = trace.read_text()
    assert "ext.dtd" not in calls and "ext.xml" not in calls
    assert "socket(" not in calls and "connect(" not in calls
    if mode == "external":
        # the trace does see files: the procedures' own
        assert "start.rexx" in calls


# ---- pieces ---------------------------------------------------------------------------------

def run_cuts(rexx, mode, setters, doc, cuts, create="ExpatParserCreate()"):
    """Parses doc once per cut (0: whole; -1: one byte a piece; n: two pieces at byte n) with a
    reporter for every handler of setters; answers each cut's events, adjacent text merged."""
    calls = []
    for setter, kinds in setters:
        groups = [group(rexx, mode, kind, reporter(kind, answer)) for kind, answer in kinds]
        calls.append(f"  call {setter} p, " + ", ".join(groups))
    setup = "\n".join(calls)
    lines = rexx.ok(f"""
doc = {hex_literal(doc)}
cuts = '{" ".join(str(c) for c in cuts)}'
do k = 1 to words(cuts)
  cut = word(cuts, k)
  p = {create}
{setup}
  say 'cut' cut
  select
    when cut = 0 then ok = ExpatParse(p, doc, 0)
    when cut = -1 then do
      ok = 1
      do i = 1 to length(doc)
        ok = ok & ExpatParse(p, substr(doc, i, 1), 1)
      end
      ok = ok & ExpatParse(p, '', 0)
    end
    otherwise ok = ExpatParse(p, left(doc, cut), 1) & ExpatParse(p, substr(doc, cut + 1), 0)
  end
  say 'status' ok
  call ExpatParserFree p
end
""", timeout=900)
    events = {}
    for line in lines:
        kind, *args = line.split(" ")
        if kind == "cut":
            current = events.setdefault(int(args[0]), [])
        elif kind == "status":
            current.append(("status", args[0]))
        elif kind in MERGED and current and current[-1][0] == kind:
            current[-1] = (kind, current[-1][1] + args[0][1:])
        else:
            current.append((kind, *args))
    return {cut: [e if e[0] == "status" else comparable(decode(" ".join(e))) for e in got]
            for cut, got in events.items()}


def comparable(event):
    """The context of an external entity reference lists the namespace prefixes in the order of
    Expat's hash table, which is seeded anew for every parser: compare it as a set."""
    if event[0] == "extref" and event[1]:
        return ("extref", frozenset(event[1].split("\x0c")), *event[2:])
    return event


# Expat may deliver a run of text in several calls, split differently with other pieces.
MERGED = {"text", "default"}

RICH_DOC = """<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<!DOCTYPE r SYSTEM "r.dtd" [
<!NOTATION png SYSTEM "image/png">
<!ENTITY i "in&#233;">
<!ENTITY x SYSTEM "x.xml">
<!ENTITY u SYSTEM "u.png" NDATA png>
<!ATTLIST r a CDATA "d">
]>
<?pi data?>
<r xmlns="urn:a" xmlns:b="urn:b" b:k="v&amp;w">t&i;&#x1F600;\u00e9<!--c--><![CDATA[<c>]]><b:e/>&x;</r>
<!--after-->""".encode()

ALL_SETTERS = [
    ("ExpatSetElementHandler", [("start", "''"), ("end", "'pass'")]),
    ("ExpatSetCharacterDataHandler", [("text", "''")]),
    ("ExpatSetProcessingInstructionHandler", [("pi", "''")]),
    ("ExpatSetCommentHandler", [("comment", "''")]),
    ("ExpatSetDoctypeDeclHandler", [("doctype", "''"), ("enddoctype", "''")]),
    ("ExpatSetCdataSectionHandler", [("cdata", "''"), ("endcdata", "''")]),
    ("ExpatSetInternalParsedEntityDeclHandler", [("internal", "''")]),
    ("ExpatSetExternalParsedEntityDeclHandler", [("external", "''")]),
    ("ExpatSetUnparsedEntityDeclHandler", [("unparsed", "''")]),
    ("ExpatSetNotationDeclHandler", [("notation", "''")]),
    ("ExpatSetNamespaceDeclHandler", [("ns", "''"), ("endns", "''")]),
    ("ExpatSetExternalEntityRefHandler", [("extref", "1")]),
    ("ExpatSetNotStandaloneHandler", [("notstandalone", "1")]),
]


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("default", ["ExpatSetDefaultHandler", "ExpatSetDefaultHandlerExpand"])
def test_every_cut_gives_the_events_of_one_piece(rexx, mode, default):
    setters = ALL_SETTERS + [(default, [("default", "''")])]
    cuts = [0, -1] + list(range(1, len(RICH_DOC), scaled(1, 29)))
    events = run_cuts(rexx, mode, setters, RICH_DOC, cuts, "ExpatParserCreate('UTF-8', '|')")
    whole = events[0]
    kinds = {e[0] for e in whole}
    assert whole[-1] == ("status", "1")
    # Every kind of event the document has reached its procedure.
    assert kinds >= {"start", "end", "text", "pi", "comment", "doctype", "enddoctype", "cdata",
                     "endcdata", "internal", "external", "unparsed", "notation", "ns", "endns",
                     "extref", "notstandalone", "default"}, kinds
    assert ("start", "urn:a|r", "urn:b|k", "v&w", "a", "d") in whole
    for cut, got in events.items():
        assert got == whole, cut
