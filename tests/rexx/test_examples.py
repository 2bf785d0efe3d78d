"""The example programs as users run them: their command lines, their loading lines, what they
make of documents that test their corners, and the reading ones over a generated document of
several megabytes. What each prints for its shipped samples is checked in test_readme.py (and
the outline, encodings and settings examples also with the part of the package they show)."""

import csv
import io
import re
import subprocess
import xml.parsers.expat

import pytest

import conftest
from conftest import SOURCE_DIR, VALGRIND

EXAMPLES = SOURCE_DIR / "examples"
XMLCHECK = EXAMPLES / "xmlcheck.rexx"

# A document of several 64 KiB pieces, whole and cut short in its last piece.
BIG = "<list>\n" + "".join(f'  <item n="{i}">entry {i}</item>\n' for i in range(6000)) + "</list>\n"
DOCUMENTS = {"ok.xml": "<a/>", "bad.xml": "<a>", "my  notes.xml": "<a>b</a>", "big.xml": BIG,
             "big-cut.xml": BIG[:-8]}


def run(folder, *arguments, env=None):
    proc = subprocess.run(conftest.regina_command(*arguments), cwd=folder, capture_output=True,
                          timeout=900, env=env)
    return proc.returncode, proc.stdout.decode("utf-8").splitlines(), proc.stderr


def run_example(rexx, example, *arguments):
    """(exit status, stdout lines, stderr lines) of an example run in the test's folder."""
    code, lines, errors = run(rexx.folder, EXAMPLES / example, *arguments, env=rexx.env())
    return code, lines, errors.decode("utf-8").splitlines()


@pytest.mark.parametrize("options,files,code,lines", [
    ([], ["ok.xml", "bad.xml"], 1, ["ok.xml: well-formed", "bad.xml:1:3: no element found"]),
    ([], ["ok.xml", "missing.xml"], 1, ["ok.xml: well-formed", "missing.xml: cannot open"]),
    ([], ["big.xml", "big-cut.xml"], 1,
     ["big.xml: well-formed", "big-cut.xml:6002:0: no element found"]),
    # One string: the blanks of a name split it.
    ([], ["my  notes.xml"], 1, ["my: cannot open", "notes.xml: cannot open"]),
    # regina -a: each argument whole, blanks and all.
    (["-a"], ["my  notes.xml", "ok.xml"], 0, ["my  notes.xml: well-formed", "ok.xml: well-formed"]),
    ([], [], 2, ["usage: regina [-a] xmlcheck.rexx FILE ..."]),
    (["-a"], [], 2, ["usage: regina [-a] xmlcheck.rexx FILE ..."]),
], ids=["two files", "a missing file", "pieces", "blanks split", "regina -a", "no file",
        "regina -a, no file"])
def test_xmlcheck_command_line(rexx, options, files, code, lines):
    for name, text in DOCUMENTS.items():
        rexx.write(name, text)
    result = run(rexx.folder, *options, XMLCHECK, *files, env=rexx.env())
    assert result == (code, lines, b"")


def test_xmlcheck_called_from_a_program_that_loaded_the_package(rexx):
    # The caller registered ExpatLoadFuncs already: the example's loading lines skip RxFuncAdd
    # (which would answer 10) and go on.
    for name, text in DOCUMENTS.items():
        rexx.write(name, text)
    lines = rexx.ok(f"""
call '{XMLCHECK}' 'my  notes.xml', 'bad.xml'
say 'result' result
""")
    assert lines == ["my  notes.xml: well-formed", "bad.xml:1:3: no element found", "result 1"]


@pytest.mark.parametrize("example", sorted(p.name for p in EXAMPLES.glob("*.rexx")))
def test_example_says_why_it_cannot_load_the_package(rexx, example):
    catalog = EXAMPLES / "samples" / "catalog.xml"
    result = run(rexx.folder, EXAMPLES / example, catalog, env=conftest.without_the_package(rexx))
    assert result == (2, [conftest.NOT_LOADED], b"")


# ---- tocsv.rexx -------------------------------------------------------------------------------

def csv_of(rexx, document, *arguments):
    """(exit status, stdout bytes, stderr lines) of tocsv.rexx over the document."""
    rexx.write("records.xml", document)
    proc = subprocess.run(conftest.regina_command(EXAMPLES / "tocsv.rexx", "records.xml",
                                                  *arguments),
                          cwd=rexx.folder, env=rexx.env(), capture_output=True, timeout=300)
    return proc.returncode, proc.stdout, proc.stderr.decode("utf-8").splitlines()


@pytest.mark.parametrize("content,field", [
    ("plain", b"plain"),
    ("with, comma", b'"with, comma"'),
    ('say "hi"', b'"say ""hi"""'),
    ('"', b'""""'),
    ("two\nlines", b'"two\nlines"'),
    ("a&#13;b", b'"a\rb"'),                       # a carriage return, from a reference
    ("\n   padded \t \n", b"padded"),             # white space at the ends goes
    ("", b""),
    ("a&amp;b <![CDATA[<c>]]>", b"a&b <c>"),
    ("<i>in</i> a <b>child</b>", b"in a child"),  # the text of the field's descendants
    ("Gr&#252;&#223;e", "Grüße".encode()),
], ids=["plain", "comma", "quotes", "quote alone", "line feed", "carriage return", "trimmed",
        "empty", "references and CDATA", "descendants", "UTF-8"])
def test_tocsv_quotes_what_csv_must(rexx, content, field):
    document = f'<list><rec id="7"><value>{content}</value></rec></list>'
    assert csv_of(rexx, document, "rec", "@id", "value") == (
        0, b"id,value\n7," + field + b"\n", [])


RECORDS = """<?xml version="1.0"?>
<list>
  <rec id="1" kind="a"><title>One</title><author>Ann</author><year>2001</year></rec>
  <skip><rec id="x"><title>inside another element: still a record</title></rec></skip>
  <rec id="2"><year>2002</year><author>Bob</author><author>Cy</author><extra>e</extra></rec>
  <other><title>not a record</title></other>
  <rec id="3" kind="c"><title>Three</title><rec><title>nested record</title></rec></rec>
</list>
"""


@pytest.mark.parametrize("fields,expected", [
    # The first record's children are the columns, in their order.
    ([], ["title,author,year", "One,Ann,2001", "inside another element: still a record,,",
          ",Bob; Cy,2002", "Three,,"]),
    (["@id", "year", "@kind", "missing"],
     ["id,year,kind,missing", "1,2001,a,", "x,,,", "2,2002,,", "3,,c,"]),
    # Element names are compared as written.
    (["Title", "title"], ["Title,title", ",One", ",inside another element: still a record",
                          ",", ",Three"]),
], ids=["columns of the first record", "attributes and missing fields", "case"])
def test_tocsv_records_and_fields(rexx, fields, expected):
    code, out, errors = csv_of(rexx, RECORDS, "rec", *fields)
    assert (code, out.decode().splitlines(), errors) == (0, expected, [])


def test_tocsv_attributes_of_a_long_start_tag(rexx):
    # 17 attributes: the label takes them from the ATTRIBUTE. stem; the short tag after it
    # must not see them.
    many = " ".join(f'a{i}="v{i}"' for i in range(1, 18))
    document = f'<list><rec {many}><x>1</x></rec><rec a1="w1"><x>2</x></rec></list>'
    assert csv_of(rexx, document, "rec", "@a1", "@a16", "@a17", "x") == (
        0, b"a1,a16,a17,x\nv1,v16,v17,1\nw1,,,2\n", [])


@pytest.mark.parametrize("arguments,document,code,out,errors", [
    (["rec", "a"], "<list><rec><a>1</a></rec><rec><a>2</a></list>", 1, b"a\n1\n",
     ["records.xml:1:40: mismatched tag"]),
    ([], "<list/>", 2, b"", ["usage: tocsv.rexx FILE RECORD [FIELD ...]"]),
    (["rec"], None, 2, b"", ["missing.xml: cannot open"]),
], ids=["broken document", "no record name", "no file"])
def test_tocsv_failures_keep_standard_output_csv(rexx, arguments, document, code, out, errors):
    if document is None:
        proc = subprocess.run(conftest.regina_command(EXAMPLES / "tocsv.rexx", "missing.xml",
                                                      *arguments),
                              cwd=rexx.folder, env=rexx.env(), capture_output=True, timeout=300)
        result = (proc.returncode, proc.stdout, proc.stderr.decode().splitlines())
    else:
        result = csv_of(rexx, document, *arguments)
    assert result == (code, out, errors)


def test_tocsv_sample_reads_back_with_a_csv_reader(rexx):
    # What a CSV reader makes of the README's command: the texts of the document.
    proc = subprocess.run(conftest.regina_command(
        EXAMPLES / "tocsv.rexx", EXAMPLES / "tocsv" / "books.xml", "book", "title", "note"),
        cwd=rexx.folder, env=rexx.env(), capture_output=True, timeout=300)
    assert proc.returncode == 0 and proc.stderr == b"", proc
    rows = list(csv.reader(io.StringIO(proc.stdout.decode(), newline="")))
    assert rows == [["title", "note"], ["Streams and Parsers", ""], ["Rexx, Expat & Sie", ""],
                    ['The "Quoted" Chapter', "First printing.\nSecond line of the note."],
                    ["Données & <balises>", ""]]


# ---- feeds.rexx -------------------------------------------------------------------------------

ATOM = 'xmlns="http://www.w3.org/2005/Atom"'


@pytest.mark.parametrize("document,code,lines", [
    # An image's title and link are not the channel's; media:title is not the item's title.
    ('<rss version="2.0" xmlns:media="http://search.yahoo.com/mrss/"><channel><title>T</title>'
     "<image><title>Logo</title><link>http://img/</link></image><link>http://t/</link>"
     "<item><media:title>M</media:title><link>http://i1/</link><title>I1</title></item>"
     "<item><title>I2</title></item></channel></rss>",
     0, ["f.xml (RSS): T <http://t/>", "  I1 <http://i1/>", "  I2"]),
    # Text in pieces (a reference, line ends, CDATA) is gathered and its white space made one.
    ("<rss><channel><title>A &amp;\n   B <![CDATA[<C>]]></title>\n<link>\n http://a/\n</link>"
     "</channel></rss>",
     0, ["f.xml (RSS): A & B <C> <http://a/>"]),
    # Atom: the first link with no rel or rel="alternate" is the page, whatever comes before.
    (f'<feed {ATOM}><title>F</title><link rel="self" href="http://self/"/>'
     '<link rel="alternate" href="http://page/"/><link href="http://other/"/>'
     '<entry><title>E1</title><link rel="edit" href="http://edit/"/>'
     '<link href="http://e1/"/></entry><entry><link href="http://e2/"/></entry></feed>',
     0, ["f.xml (Atom): F <http://page/>", "  E1 <http://e1/>", "  (untitled) <http://e2/>"]),
    # The namespace decides, not the prefix.
    ('<a:feed xmlns:a="http://www.w3.org/2005/Atom"><a:title>P</a:title>'
     '<a:entry><a:title>Q</a:title></a:entry></a:feed>',
     0, ["f.xml (Atom): P", "  Q"]),
    ("<feed><title>no namespace</title></feed>", 1, ["f.xml: not an RSS or Atom feed"]),
    ('<html xmlns="http://www.w3.org/1999/xhtml"><title>page</title></html>', 1,
     ["f.xml: not an RSS or Atom feed"]),
    ("<rss><channel></rss>", 1, ["f.xml:1:16: mismatched tag"]),
], ids=["rss elements of other kinds", "rss text in pieces", "atom links", "atom prefix",
        "atom without namespace", "another format", "broken"])
def test_feeds(rexx, document, code, lines):
    rexx.write("f.xml", document)
    assert run_example(rexx, "feeds.rexx", "f.xml") == (code, lines, [])


def test_feeds_go_on_after_a_file_that_is_no_feed(rexx):
    rexx.write("bad.xml", "<a>")
    rexx.write("good.xml", "<rss><channel><title>G</title></channel></rss>")
    assert run_example(rexx, "feeds.rexx", "bad.xml", "missing.xml", "good.xml") == (
        1, ["bad.xml:1:3: no element found", "missing.xml: cannot open", "good.xml (RSS): G"], [])


# ---- entities.rexx ----------------------------------------------------------------------------

def entity_document(rexx, declarations, body):
    (rexx.folder / "docs" / "parts").mkdir(parents=True, exist_ok=True)
    return rexx.write("docs/main.xml", f"<!DOCTYPE main [{declarations}]>\n<main>{body}</main>\n")


@pytest.mark.parametrize("system,files,code,lines,errors", [
    # Relative to the declaring file's folder, whatever the current folder.
    ("parts/p.xml", {"docs/parts/p.xml": "<p>in <b>parts</b></p>"}, 0,
     ["[entity parts/p.xml: docs/parts/p.xml]", "main/p/b: parts", "main/p: in",
      "main: after"], []),
    ("ABSOLUTE", {"abs.xml": "<abs>x</abs>"}, 0,
     ["[entity ABSOLUTE: ABSOLUTE]", "main/abs: x", "main: after"], []),
    ("parts/none.xml", {}, 1,
     ["docs/main.xml:2:6: error in processing external entity reference"],
     ["entities.rexx: cannot open docs/parts/none.xml"]),
    ("http://example.org/e.xml", {}, 1,
     ["docs/main.xml:2:6: error in processing external entity reference"],
     ["entities.rexx: not a local file: http://example.org/e.xml"]),
    ("parts/bad.xml", {"docs/parts/bad.xml": "<p>\n<q>q</p>"}, 1,
     ["[entity parts/bad.xml: docs/parts/bad.xml]",
      "docs/main.xml:2:6: error in processing external entity reference"],
     ["docs/parts/bad.xml:2:6: mismatched tag"]),
], ids=["relative", "absolute", "missing", "url", "entity not well-formed"])
def test_entities_resolved_from_files(rexx, system, files, code, lines, errors):
    absolute = str(rexx.folder / "abs.xml")
    system = system.replace("ABSOLUTE", absolute)
    lines = [line.replace("ABSOLUTE", absolute) for line in lines]
    entity_document(rexx, f'<!ENTITY e SYSTEM "{system}">', "&e;after")
    for name, text in files.items():
        rexx.write(name, text)
    assert run_example(rexx, "entities.rexx", "docs/main.xml") == (code, lines, errors)


def test_entities_of_several_pieces(rexx):
    # An entity larger than a piece, read in 64 KiB pieces like the document.
    count = 8000
    entity_document(rexx, '<!ENTITY e SYSTEM "parts/long.xml">', "&e;")
    rexx.write("docs/parts/long.xml",
               "<long>" + "".join(f"<i>{n}</i>" for n in range(count)) + "</long>")
    assert (rexx.folder / "docs" / "parts" / "long.xml").stat().st_size > 65536
    code, lines, errors = run_example(rexx, "entities.rexx", "docs/main.xml")
    assert (code, errors) == (0, [])
    assert lines == ["[entity parts/long.xml: docs/parts/long.xml]"] + [
        f"main/long/i: {n}" for n in range(count)]


# ---- outline.rexx and largefile.rexx over a generated document of several megabytes ---------

def scaled(full, light):
    """Under valgrind every event costs many times more: a smaller document, still of several
    64 KiB pieces."""
    return light if VALGRIND else full


def generated_document(items):
    """A catalogue with what the examples meet in real files: attributes (and now and then a tag
    with more than 15), entities, multi-byte characters (which pieces cut in two), CDATA,
    comments, processing instructions and namespaces."""
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<!-- generated\n catalogue -->\n',
             '<catalog xmlns:q="urn:quill">\n']
    for i in range(items):
        if i % 997 == 0:
            many = " ".join(f'k{n}="{i}-{n}"' for n in range(1, 18))
            parts.append(f"  <wide {many}/>\n")
        parts.append(f'  <item id="i{i}" n="{i}"><name>Item {i} &amp; Grüße 中文</name>'
                     f"<q:note><![CDATA[<raw {i}>]]> and\n  more\ttext</q:note>"
                     f"<?mark {i}?><!--c{i}--></item>\n")
    parts.append("</catalog>\n")
    return "".join(parts).encode("utf-8")


def normalized(text):
    """White space as the examples show it: tabs and line ends made blanks, runs of blanks one."""
    return " ".join(w for w in text.translate({9: 32, 10: 32, 13: 32}).split(" ") if w)


def expected_outline(data):
    """The outline that outline.rexx prints, made with Python's own Expat binding."""
    out, pending, depth = [], [], 0
    parser = xml.parsers.expat.ParserCreate()
    parser.ordered_attributes = True

    def flush():
        text = normalized("".join(pending))
        pending.clear()
        if text:
            out.append("  " * depth + f'"{text}"')

    def start(name, attributes):
        nonlocal depth
        flush()
        pairs = "".join(f' {k}="{v}"' for k, v in zip(attributes[::2], attributes[1::2]))
        out.append("  " * depth + f"{name} (line {parser.CurrentLineNumber})" + pairs)
        depth += 1

    def end(name):
        nonlocal depth
        flush()
        depth -= 1

    def comment(text):
        flush()
        out.append("  " * depth + f"<!-- {normalized(text)} -->")

    def instruction(target, data):
        flush()
        out.append("  " * depth + f"<?{normalized(target + ' ' + data)}?>")

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = pending.append
    parser.CommentHandler = comment
    parser.ProcessingInstructionHandler = instruction
    parser.Parse(data, True)
    flush()
    return out


def expected_summary(name, data):
    """The summary that largefile.rexx prints, counted with Python's own Expat binding."""
    counts, depth, deepest, attributes, text = {}, 0, 0, 0, 0

    def start(element, attrs):
        nonlocal depth, deepest, attributes
        counts[element] = counts.get(element, 0) + 1
        attributes += len(attrs)
        depth += 1
        deepest = max(deepest, depth)

    def end(element):
        nonlocal depth
        depth -= 1

    def characters(data):
        nonlocal text
        text += len(data.encode("utf-8"))

    parser = xml.parsers.expat.ParserCreate()
    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = characters
    parser.Parse(data, True)
    top = sorted(counts, key=lambda element: -counts[element])[:5]  # stable: first seen first
    pieces = -(-len(data) // 65536)
    return [f"{name}: {len(data)} bytes in {pieces} pieces",
            f"elements {sum(counts.values())}, attributes {attributes}, text {text} bytes, "
            f"deepest level {deepest}",
            "most frequent: " + ", ".join(f"{element} {counts[element]}" for element in top)]


@pytest.fixture
def large(rexx):
    data = generated_document(scaled(36000, 1500))
    assert len(data) > scaled(4 << 20, 3 * 65536)
    (rexx.folder / "large.xml").write_bytes(data)
    return data


def test_outline_of_a_document_of_several_megabytes(rexx, large):
    code, lines, errors = run_example(rexx, "outline.rexx", "large.xml")
    assert (code, errors) == (0, [])
    assert lines[:4] == ["<!-- generated catalogue -->", "catalog (line 4) xmlns:q=\"urn:quill\"",
                         "  wide (line 5) " + " ".join(f'k{n}="0-{n}"' for n in range(1, 18)),
                         '  item (line 6) id="i0" n="0"']
    assert lines == expected_outline(large)


def test_largefile_over_a_document_of_several_megabytes(rexx, large):
    code, lines, errors = run_example(rexx, "largefile.rexx", "large.xml")
    assert code == 0
    assert lines == expected_summary("large.xml", large)
    # Progress: each line a further tenth of the file, the last one all of it.
    progress = [re.fullmatch(r"largefile: (\d+)% \((\d+) of (\d+) bytes\)", e) for e in errors]
    assert all(progress), errors
    done = [(int(m[1]), int(m[2]), int(m[3])) for m in progress]
    assert done[-1] == (100, len(large), len(large))
    assert all(size == len(large) and percent == at * 100 // size for percent, at, size in done)
    tenths = [at * 10 // len(large) for _, at, _ in done]
    assert tenths == sorted(set(tenths)) and tenths[0] >= 1


@pytest.mark.parametrize("example", ["outline.rexx", "largefile.rexx"])
def test_reading_examples_report_a_document_cut_short(rexx, example):
    data = generated_document(scaled(2000, 700))
    cut = data[:-len("</catalog>\n")]
    (rexx.folder / "cut.xml").write_bytes(cut)
    code, lines, errors = run_example(rexx, example, "cut.xml")
    line = cut.count(b"\n") + 1
    assert (code, lines[-1]) == (1, f"cut.xml:{line}:0: no element found")
