"""Error, position and attribute queries; base, encoding and parameter-entity settings."""

import pytest

from conftest import rexx_string


def test_error_queries(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate()
say 'new' ExpatGetErrorCode(p) ExpatGetCurrentByteIndex(p)
say ExpatParse(p, '<a>' || '0a'x || '<b>' || '0a'x || '</c>', 0)
code = ExpatGetErrorCode(p)
say code ExpatGetCurrentLineNumber(p) ExpatGetCurrentColumnNumber(p) ExpatGetCurrentByteIndex(p)
say ExpatErrorString(code)
call ExpatParserFree p
""")
    assert lines == ["new 0 -1", "0", "7 3 2 10", "mismatched tag"]


@pytest.mark.parametrize("argument,message", [
    ("1", "out of memory"),
    ("' 4'", "not well-formed (invalid token)"),
    ("'7 and more'", "mismatched tag"),
    ("'abc'", ""),   # no leading digits: code 0, which has no message
    ("''", ""),
    ("0", ""),
    ("9999", ""),    # beyond Expat's list
    ("-5", ""),
])
def test_error_string(rexx, argument, message):
    lines = rexx.ok(f"""
m = ExpatErrorString({argument})
say '['m']' length(m)
""")
    assert lines == [f"[{message}] {len(message)}"]


# Labels run after Expat has moved past their event: they must get the same answers.
@pytest.mark.parametrize("mode", ["instore", "label"])
def test_position_and_attribute_queries_inside_a_handler(rexx, mode):
    source = """h = arg(1)
say arg(2) ExpatGetCurrentLineNumber(h) ExpatGetCurrentColumnNumber(h),
    ExpatGetCurrentByteIndex(h) ExpatGetCurrentByteCount(h),
    ExpatGetSpecifiedAttributeCount(h) ExpatGetIdAttributeIndex(h) arg()"""
    handler = (rexx.label("OnStart", source) if mode == "label"
               else f"{rexx_string(source)}, , 1")
    doc = ('<!DOCTYPE r [<!ATTLIST e id ID #IMPLIED d CDATA "dflt">]>\\n'
           '<r>\\n  <e x="1" id="k"/><e/></r>')
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, {handler}
doc = '{doc}'
doc = changestr('\\n', doc, '0a'x)
say ExpatParse(p, doc, 0)
call ExpatParserFree p
""")
    text = doc.replace("\\n", "\n")
    first_tag = '<e x="1" id="k"/>'
    first_e, second_e = text.index(first_tag), text.index('<e/>')
    # e on line 3: x and id specified (4 entries), the default d added after them; id is
    # the attribute at index 2 of Expat's list.
    assert lines == [f"r 2 0 {text.index('<r>')} 3 0 -1 2",
                     f"e 3 2 {first_e} {len(first_tag)} 4 2 8",
                     f"e 3 19 {second_e} 4 0 -1 4", "1"]


def test_attribute_queries_outside_a_start_tag(rexx):
    # Expat leaves these undefined outside a start tag; the package answers -1 and 0 there.
    report = "say arg(2) ExpatGetIdAttributeIndex(arg(1)) ExpatGetSpecifiedAttributeCount(arg(1))"
    run = rexx(f"""
p = ExpatParserCreate()
say 'new' ExpatGetIdAttributeIndex(p) ExpatGetSpecifiedAttributeCount(p)
call ExpatSetCommentHandler p, {rexx_string(report)}, , 1
call ExpatSetElementHandler p, {rexx_string("nop")}, , 1, {rexx_string(report)}, , 1
say ExpatParse(p, '<!DOCTYPE a [<!ATTLIST a id ID #IMPLIED>]><!--before--><a id="i" x="1"><!--in--></a>', 0)
say 'after' ExpatGetIdAttributeIndex(p) ExpatGetSpecifiedAttributeCount(p)
call ExpatParserFree p
""", valgrind=True)
    assert run.returncode == 0, run
    assert run.lines == ["new -1 0", "before -1 0", "in -1 0", "a -1 0", "1", "after -1 0"]


@pytest.mark.parametrize("mode,standalone_external_read", [
    ("'XML_PARAM_ENTITY_PARSING_NEVER'", False),
    ("'XML_PARAM_ENTITY_PARSING_ALWAYS'", True),
    ("2", True),
    ("'xml_param_entity_parsing_always'", False),  # no keyword: number 0, never
    ("' 2x'", True),
    ("'XML_PARAM_ENTITY_PARSING_UNLESS_STANDALONE'", True),
])
def test_param_entity_parsing(rexx, mode, standalone_external_read):
    # The external DTD subset reaches the ExternalEntityRef procedure only when parameter
    # entities are parsed; its context argument is then omitted.
    handler = rexx_string("say 'ref' arg(2, 'E') arg(4); return 1")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetExternalEntityRefHandler p, {handler}, , 1
say 'set' ExpatSetParamEntityParsing(p, {mode})
say 'parse' ExpatParse(p, '<!DOCTYPE r SYSTEM "r.dtd"><r/>', 0)
call ExpatParserFree p
""")
    expected = ["set 1"] + (["ref 0 r.dtd"] if standalone_external_read else []) + ["parse 1"]
    assert lines == expected


def test_param_entity_parsing_after_parse_is_refused_by_expat(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate()
call ExpatParse p, '<r>', 1
say ExpatSetParamEntityParsing(p, 2) ExpatSetEncoding(p, 'UTF-8')
""")
    assert lines == ["0 0"]


def test_base(rexx):
    lines = rexx.ok("""
p = ExpatParserCreate()
b = ExpatGetBase(p)
say 'none [' || b || ']' length(b)
say ExpatSetBase(p, '')
b = ExpatGetBase(p)
say 'empty [' || b || ']' length(b)
long = copies('abcdefghij', 30)
say ExpatSetBase(p, long)
b = ExpatGetBase(p)
say 'long' length(b) (b == long)
say ExpatSetBase(p, 'http://example.org/doc/')
say ExpatGetBase(p)
call ExpatParserFree p
""")
    assert lines == ["none [] 0", "1", "empty [] 0", "1", "long 300 1", "1",
                     "http://example.org/doc/"]


def test_base_reaches_handlers(rexx):
    handler = rexx_string("say 'notation' arg(2) arg(3) arg(4) arg(5, 'E')")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetNotationDeclHandler p, {handler}, , 1
call ExpatSetBase p, 'file:///docs/'
say ExpatParse(p, '<!DOCTYPE r [<!NOTATION n SYSTEM "viewer">]><r/>', 0)
""")
    assert lines == ["notation n file:///docs/ viewer 0", "1"]


@pytest.mark.parametrize("encoding,status,parsed", [
    ("''", "1", "1"),             # no override: the document's own declaration holds
    ("'ISO-8859-1'", "1", "1"),
    ("'no-such'", "1", "0"),      # Expat accepts the name and fails at parse time
])
def test_set_encoding(rexx, encoding, status, parsed):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCharacterDataHandler p, "say c2x(arg(2))", , 1
say ExpatSetEncoding(p, {encoding})
say ExpatParse(p, '<?xml version="1.0" encoding="ISO-8859-1"?><a>' || 'E9'x || '</a>', 0)
""")
    assert lines[0] == status
    assert lines[-1] == parsed
    if parsed == "1":
        assert lines[1] == "C3A9"


@pytest.mark.parametrize("mode", ["label", "instore"])
def test_positions_inside_an_entity_expansion(rexx, mode):
    # Every event of the expansion stands at the reference: line 2, column 5, byte 48.
    report = ("say arg(2) ExpatGetCurrentLineNumber(arg(1)) ExpatGetCurrentColumnNumber(arg(1)),\n"
              "  ExpatGetCurrentByteIndex(arg(1))")
    if mode == "label":
        on_start = rexx.label("OnStart", report)
    else:
        on_start = f"{rexx_string(report)}, , 1"
    lines = rexx.ok(f"""
doc = '<!DOCTYPE a [<!ENTITY e "<b/>t<c/><d/>">]>' || '0a'x || '<a>  &e;</a>'
p = ExpatParserCreate()
call ExpatSetElementHandler p, {on_start}
say 'parse' ExpatParse(p, doc, 0)
call ExpatParserFree p
""")
    assert lines == ["a 2 0 43", "b 2 5 48", "c 2 5 48", "d 2 5 48", "parse 1"]
