"""Events end to end: every kind of parser event reaches its Rexx procedure through the real
interpreter, with its arguments, in in-store and external mode; what the procedure returns;
failing procedures; long attribute lists; handlers that change or free their own parser.

Handler procedures run in their own variable pool, so they report what they saw with `say`;
the harness keeps stdout in order. Regina drops trailing omitted arguments from `arg()`, so
an event whose last value is absent shows one argument fewer than the package passes.
"""

import re
import subprocess

import pytest

import conftest
from conftest import HANDLE, rexx_path, rexx_string


def rq(text):
    """text as a Rexx string literal."""
    return "'" + text.replace("'", "''") + "'"


def reporter(tag, tail=""):
    """Handler source printing the tag, arg(), then [value] per given argument, - per omitted."""
    return (f"out = '{tag}' arg(); do i = 1 to arg(); if arg(i, 'E') then out = out '['arg(i)']'; "
            f"else out = out '-'; end; say out{tail}")


def handler_argument(rexx, mode, tag, source):
    """The setter arguments (procedure, environment, type) that run source in this mode."""
    if mode == "instore":
        return f"{rexx_string(source)}, , 1"
    if mode == "label":
        return rexx.label(f"On{tag.replace('-', '_')}", source)
    path = rexx.write(f"{tag}.rexx", source + "\n")
    name = tag if mode == "external" else rexx_path(path)  # a bare name, or a path
    return f"{rq(name)}, , ''"  # an empty invocation type: external mode


def run_with_handles(rexx, body, **kw):
    """Runs body, which first says 'handle' p; answers the other lines with p written as H."""
    lines = rexx.ok(body, **kw)
    assert lines[0].startswith("handle "), lines
    handle = lines[0].split()[1]
    return [line.replace(handle, "H") for line in lines[1:]]


DTD_ENTITIES = ('<!DOCTYPE a [<!NOTATION n SYSTEM "viewer">'
                '<!ENTITY u SYSTEM "u.gif" NDATA n>]><a/>')

# id, parser arguments, setters (name, tags of its handler groups), code before the parse,
# document, expected lines.
KINDS = [
    ("elements", "", [("ExpatSetElementHandler", ["start", "end"])], "",
     '<!DOCTYPE a [<!ATTLIST a d CDATA "dv">]><a x="1" y=""><b/></a>',
     # specified attributes first, then the defaulted one; an empty value is present
     ["start 8 [H] [a] [x] [1] [y] [] [d] [dv]", "start 2 [H] [b]", "end 2 [H] [b]",
      "end 2 [H] [a]"]),
    ("characters", "", [("ExpatSetCharacterDataHandler", ["chars"])], "",
     "<a>hi<b/>x&amp;y</a>",
     # counted texts: exactly their length, nothing of the markup after them
     ["chars 2 [H] [hi]", "chars 2 [H] [x]", "chars 2 [H] [&]", "chars 2 [H] [y]"]),
    ("processing-instruction", "", [("ExpatSetProcessingInstructionHandler", ["pi"])], "",
     "<?t d  e?><a><?u?></a>",
     ["pi 3 [H] [t] [d  e]", "pi 3 [H] [u] []"]),
    ("comment", "", [("ExpatSetCommentHandler", ["comment"])], "",
     "<a><!--c--><!----></a>",
     ["comment 2 [H] [c]", "comment 2 [H] []"]),
    ("doctype", "", [("ExpatSetDoctypeDeclHandler", ["sdoc", "edoc"])], "",
     '<!DOCTYPE a PUBLIC "pub" "a.dtd" [<!ELEMENT a EMPTY>]><a/>',
     ["sdoc 2 [H] [a]", "edoc 1 [H]"]),  # the name alone, not the ids
    ("cdata", "", [("ExpatSetCdataSectionHandler", ["scdata", "ecdata"])], "",
     "<a><![CDATA[x]]></a>",
     ["scdata 1 [H]", "ecdata 1 [H]"]),
    ("default", "", [("ExpatSetDefaultHandler", ["default"])], "",
     "<a>x&amp;<!--c--></a>",
     ["default 2 [H] [<a>]", "default 2 [H] [x]", "default 2 [H] [&amp;]",
      "default 2 [H] [<!--c-->]", "default 2 [H] [</a>]"]),
    ("default-expand", "", [("ExpatSetDefaultHandlerExpand", ["dexpand"])], "",
     "<a>x&amp;<!--c--></a>",
     ["dexpand 2 [H] [<a>]", "dexpand 2 [H] [x]", "dexpand 2 [H] [&amp;]",
      "dexpand 2 [H] [<!--c-->]", "dexpand 2 [H] [</a>]"]),
    ("external-entity-ref", "", [("ExpatSetExternalEntityRefHandler", ["extref"])], "",
     '<!DOCTYPE a [<!ENTITY e SYSTEM "e.xml">]><a>&e;</a>',
     ["extref 4 [H] [e] - [e.xml]"]),
    ("external-entity-ref-base", "", [("ExpatSetExternalEntityRefHandler", ["extref"])],
     "call ExpatSetBase p, 'http://b/'",
     '<!DOCTYPE a [<!ENTITY f PUBLIC "pf" "f.xml">]><a>&f;</a>',
     ["extref 5 [H] [f] [http://b/] [f.xml] [pf]"]),
    ("namespaces", "'UTF-8', ' '", [("ExpatSetNamespaceDeclHandler", ["sns", "ens"])], "",
     '<a xmlns="u" xmlns:p="v"/>',
     # a default namespace has no prefix
     ["sns 3 [H] - [u]", "sns 3 [H] [p] [v]", "ens 2 [H] [p]", "ens 1 [H]"]),
    ("unparsed-entity", "", [("ExpatSetUnparsedEntityDeclHandler", ["unparsed"])],
     "call ExpatSetBase p, 'http://b/'", DTD_ENTITIES,
     ["unparsed 6 [H] [u] [http://b/] [u.gif] - [n]"]),
    ("internal-entity", "", [("ExpatSetInternalParsedEntityDeclHandler", ["internal"])], "",
     '<!DOCTYPE a [<!ENTITY e "v&#38;w"><!ENTITY z "">]><a/>',
     ["internal 3 [H] [e] [v&w]", "internal 3 [H] [z] []"]),  # a counted text of length 0
    ("external-entity", "", [("ExpatSetExternalParsedEntityDeclHandler", ["external"])], "",
     '<!DOCTYPE a [<!ENTITY x PUBLIC "px" "x.xml"><!ENTITY y SYSTEM "y.xml">]><a/>',
     ["external 5 [H] [x] - [x.xml] [px]", "external 4 [H] [y] - [y.xml]"]),
    ("notation", "", [("ExpatSetNotationDeclHandler", ["notation"])], "",
     '<!DOCTYPE a [<!NOTATION n SYSTEM "viewer"><!NOTATION m PUBLIC "pm">]><a/>',
     ["notation 4 [H] [n] - [viewer]", "notation 5 [H] [m] - - [pm]"]),
    ("not-standalone", "", [("ExpatSetNotStandaloneHandler", ["notstandalone"])], "",
     '<?xml version="1.0" standalone="no"?><!DOCTYPE a SYSTEM "a.dtd"><a/>',
     ["notstandalone 1 [H]"]),
]

# The two kinds whose procedure's return code Expat reads: 1 lets the parse go on.
RETURNS_ONE = {"extref", "notstandalone"}


@pytest.mark.parametrize("mode", ["label", "instore", "external", "path"])
@pytest.mark.parametrize("parser,setters,before,doc,expected", [k[1:] for k in KINDS],
                         ids=[k[0] for k in KINDS])
def test_every_kind_gets_its_arguments(rexx, mode, parser, setters, before, doc, expected):
    calls = []
    for setter, tags in setters:
        groups = [handler_argument(rexx, mode, tag,
                                   reporter(tag, "; return 1" if tag in RETURNS_ONE else ""))
                  for tag in tags]
        calls.append(f"say 'set' {setter}(p, {', '.join(groups)})")
    lines = run_with_handles(rexx, f"""
p = ExpatParserCreate({parser})
say 'handle' p
{chr(10).join(calls)}
{before}
say 'parse' ExpatParse(p, {rq(doc)}, 0)
call ExpatParserFree p
""")
    assert lines == ["set 3"] * len(setters) + expected + ["parse 1"]


# ---- results ------------------------------------------------------------------------------

MARKUP_DOC = "<a>t<?p d?></a>"
MARKUP = {"start": "<a>", "chars": "t", "pi": "<?p d?>", "end": "</a>"}  # in document order
MARKUP_SETTER = {
    "start": "ExpatSetElementHandler p, {h}",
    "end": "ExpatSetElementHandler p, {n}, {h}",
    "chars": "ExpatSetCharacterDataHandler p, {h}",
    "pi": "ExpatSetProcessingInstructionHandler p, {h}",
}


@pytest.mark.parametrize("modes", ["instore", "label", "label-default", "label-handler"])
@pytest.mark.parametrize("kind", list(MARKUP))
@pytest.mark.parametrize("result,passed", [
    ("return 0", True),  # the one-character string 0 counts as a result
    ("return 'x'", True),
    ("return copies('y', 300)", True),  # longer than the preset buffer
    ("return ''", False),
    ("return", False),
    ("x = 'a' + 1; return 'x'", None),  # a failed run passes nothing on and stops the parse
])
def test_pass_markup_to_default(rexx, modes, kind, result, passed):
    # Labels run after Expat has moved past the event; the markup must still be passed on,
    # also between modes.
    default_mode = "label" if modes in ("label", "label-default") else "instore"
    handler_mode = "label" if modes in ("label", "label-handler") else "instore"
    groups = {"h": handler_argument(rexx, handler_mode, "markup", result),
              "n": handler_argument(rexx, handler_mode, "nothing", "return 'x'")}
    setter = MARKUP_SETTER[kind].format(**groups)
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetDefaultHandler p, {handler_argument(rexx, default_mode, "default",
                                                 "say 'default' arg(2)")}
call {setter}
say 'parse' ExpatParse(p, {rq(MARKUP_DOC)}, 0)
call ExpatParserFree p
""")
    if passed is None:
        before = [f"default {m}" for m in list(MARKUP.values())[:list(MARKUP).index(kind)]]
        if handler_mode == "label":
            # An error in a label that the program does not trap ends the program, as Rexx does.
            assert run.returncode == 256 - 41, run
            assert run.lines == before
        else:
            assert run.returncode == 0, run
            assert run.lines == before + ["parse 0"]
        return
    assert run.returncode == 0, run
    expected = [f"default {m}" for k, m in MARKUP.items() if k != kind or passed]
    assert run.lines == expected + ["parse 1"]


@pytest.mark.parametrize("result,passed", [("return 0", True), ("return ''", False)])
def test_pass_markup_to_default_expand(rexx, result, passed):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetDefaultHandlerExpand p, {rexx_string("say 'dexpand' arg(2)")}, , 1
call ExpatSetElementHandler p, {rexx_string(result)}, , 1, {rexx_string(result)}, , 1
say 'parse' ExpatParse(p, '<!DOCTYPE a [<!ENTITY e "v">]><a>&e;</a>', 0)
call ExpatParserFree p
""")
    tags = ["dexpand <a>", "dexpand v", "dexpand </a>"] if passed else ["dexpand v"]
    assert lines[-len(tags) - 1:] == tags + ["parse 1"]
    assert not any(line in ("dexpand <a>", "dexpand </a>") for line in lines[:-len(tags) - 1])


# The Default procedure that receives the markup of an event replaces or removes the handler
# whose procedure passed it on; that handler's record is still in use until the pass-on ends.
@pytest.mark.parametrize("setter,call", [
    ("ExpatSetElementHandler p, {h}, , 1", "call ExpatSetElementHandler arg(1)"),
    ("ExpatSetElementHandler p, {h}, , 1",
     "call ExpatSetElementHandler arg(1), copies('nop;', 50), , 1"),
    ("ExpatSetCharacterDataHandler p, {h}, , 1", "call ExpatSetCharacterDataHandler arg(1)"),
    ("ExpatSetProcessingInstructionHandler p, {h}, , 1",
     "call ExpatSetProcessingInstructionHandler arg(1), 'say 1', , 1"),
])
def test_default_procedure_replacing_the_handler_that_passed_markup(rexx, setter, call):
    default = rexx_string(f"say 'default' arg(2); {call}")
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetDefaultHandler p, {default}, , 1
call {setter.format(h=rexx_string("return copies('r', 300)"))}
say 'parse' ExpatParse(p, '<a>t<?p?></a>', 0)
call ExpatParserFree p
""", valgrind=True)
    assert run.returncode == 0, run
    assert run.lines[-1] == "parse 1"
    assert run.lines[0] in ("default <a>", "default t", "default <?p?>")


ENTITY_HANDLER = """parse arg h, context, base, system
c = ExpatExternalEntityParserCreate(h, context, '')
ok = ExpatParse(c, charin(system, 1, chars(system)), 0)
call stream system, 'c', 'close'
say 'entity' ok
call ExpatParserFree c
return {answer}"""


@pytest.mark.parametrize("mode", ["label", "instore", "external"])
@pytest.mark.parametrize("answer,parsed", [("1", True), ("0", False), ("'7 up'", True)])
def test_external_entity_parsed_by_its_procedure(rexx, mode, answer, parsed):
    rexx.write("e.xml", '<b k="v">inner</b>')
    entity = handler_argument(rexx, mode, "entity", ENTITY_HANDLER.format(answer=answer))
    # The start procedure has run (and left its image in the record) before the entity's
    # parser copies it: the copy must still run for the entity's elements.
    lines = run_with_handles(rexx, f"""
p = ExpatParserCreate()
say 'handle' p
call ExpatSetElementHandler p, {rexx_string(reporter("start"))}, , 1
call ExpatSetCharacterDataHandler p, {rexx_string(reporter("chars"))}, , 1
call ExpatSetExternalEntityRefHandler p, {entity}
ok = ExpatParse(p, '<!DOCTYPE a [<!ENTITY e SYSTEM "e.xml">]><a>&e;<c/></a>', 0)
say 'parse' ok
if \\ok then say ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
""")
    assert lines[0] == "start 2 [H] [a]"
    # the entity's own parser has a handle of its own (the C library's "%p", which differs
    # between Linux and Windows)
    assert re.fullmatch(rf"start 4 \[{HANDLE.pattern}\] \[b\] \[k\] \[v\]", lines[1]), lines
    assert re.fullmatch(rf"chars 2 \[{HANDLE.pattern}\] \[inner\]", lines[2]), lines
    assert lines[3] == "entity 1"
    if parsed:
        assert lines[4:] == ["start 2 [H] [c]", "parse 1"]
    else:
        assert lines[4:] == ["parse 0", "error in processing external entity reference"]


@pytest.mark.parametrize("result,parsed", [
    ("return 1", True), ("return 0", False), ("return 65537", True), ("return", False),
])
def test_not_standalone_answer(rexx, result, parsed):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetNotStandaloneHandler p, {rexx_string("say 'asked'; " + result)}, , 1
ok = ExpatParse(p, '<?xml version="1.0" standalone="no"?><!DOCTYPE a SYSTEM "a.dtd"><a/>', 0)
say 'parse' ok
if \\ok then say ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
""")
    assert lines == (["asked", "parse 1"] if parsed else
                     ["asked", "parse 0", "document is not standalone"])


ANSWERING = {
    "not-standalone": ("ExpatSetNotStandaloneHandler",
                       '<?xml version="1.0" standalone="no"?><!DOCTYPE a SYSTEM "a.dtd"><a/>',
                       "document is not standalone"),
    "external-entity-ref": ("ExpatSetExternalEntityRefHandler",
                            '<!DOCTYPE a [<!ENTITY e SYSTEM "e.xml">]><a>&e;</a>',
                            "error in processing external entity reference"),
}


# The answer is read from the returned string: numbers whose low 16 bits are all zero are no
# refusal.
@pytest.mark.parametrize("mode", ["instore", "label"])
@pytest.mark.parametrize("kind", list(ANSWERING))
@pytest.mark.parametrize("result,parsed", [
    ("return 65536", True), ("return 131072", True), ("return -65536", True),
    ("return 4294967296", True), ("return '1E5'", True), ("return ' 2 '", True),
    ("return 0", False), ("return '0.0'", False), ("return '-0'", False),
])
def test_answers_are_read_from_the_returned_string(rexx, mode, kind, result, parsed):
    setter, doc, message = ANSWERING[kind]
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call {setter} p, {handler_argument(rexx, mode, "answer", result)}
ok = ExpatParse(p, {rq(doc)}, 0)
say 'parse' ok
if \\ok then say ExpatErrorString(ExpatGetErrorCode(p))
call ExpatParserFree p
""")
    assert lines == (["parse 1"] if parsed else ["parse 0", message])


@pytest.mark.parametrize("setter,doc", [
    ("ExpatSetNotStandaloneHandler",
     '<?xml version="1.0" standalone="no"?><!DOCTYPE a SYSTEM "a.dtd"><a/>'),
    ("ExpatSetExternalEntityRefHandler", '<!DOCTYPE a [<!ENTITY e SYSTEM "e.xml">]><a>&e;</a>'),
])
def test_failed_value_procedure_stops_the_parse(rexx, setter, doc):
    # A run that failed is no permission: the parse stops rather than silently accept.
    run = rexx(f"""
p = ExpatParserCreate()
call {setter} p, {rexx_string("x = 'a' + 1; return 1")}, , 1
say 'parse' ExpatParse(p, {rq(doc)}, 0)
call ExpatParserFree p
say 'alive'
""")
    assert run.returncode == 0, run
    assert run.lines == ["parse 0", "alive"]
    kind = "NotStandalone" if "NotStandalone" in setter else "ExternalEntityRef"
    assert run.errors[-1] == f"Quillmark (Error -41): rexx interpreter error ({kind} handler, in-store)"


# ---- failing procedures ---------------------------------------------------------------------

@pytest.mark.parametrize("mode,procedure,code", [
    ("external", "nosuch", -3),          # not found by bare name
    ("path", "nosuch.rexx", -3),         # not found by path
    ("file", "say 'unmatched", -6),      # a program file with a syntax error
    ("instore", "say 'unmatched", -6),   # would end the process if tokenised in place
    ("instore", "do i = 1 to 2", -14),   # incomplete DO
    ("instore", "x = 'a' + 1", -41),     # a run-time error
    ("label", "NoSuchLabel", -16),       # a label the program does not have
    ("label", "InGroup", -16),           # a label Regina cannot call: inside a DO group
])
def test_failing_procedure_stops_the_parse(rexx, mode, procedure, code):
    if mode == "instore":
        argument, name = f"{rexx_string(procedure)}, , 1", "in-store"
    elif mode == "file":
        rexx.write("broken.rexx", procedure + "\n")
        argument, name = "'broken'", '"broken"'
    elif mode == "path":
        argument = rq(rexx_path(rexx.folder / procedure))
        name = f'"{rexx_path(rexx.folder / procedure)}"'
    elif mode == "label":
        argument, name = f"{rq(procedure)}, , 'internal'", f'"{procedure}"'
    else:
        argument, name = rq(procedure), f'"{procedure}"'
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {argument}
call ExpatSetProcessingInstructionHandler p, {rexx_string("say 'pi' arg(2)")}, , 1
say 'parse' ExpatParse(p, '<a><?zero?>' || '0a'x || ' <!--1--><?one?><!--2--><?two?></a>', 0)
say ExpatGetErrorCode(p) ExpatErrorString(ExpatGetErrorCode(p)),
    ExpatGetCurrentLineNumber(p) ExpatGetCurrentColumnNumber(p)
say 'again' ExpatParse(p, '', 0) ExpatGetErrorCode(p)
call ExpatParserFree p
say 'alive'
exit
do i = 1 to 1
  if 0 then do
InGroup: say 'never'; return
  end
end
""")
    assert run.returncode == 0, run
    # The first failed run stops the parse where its event was: nothing after it runs.
    assert run.lines == ["pi zero", "parse 0", "35 parsing aborted 2 1", "again 0 35", "alive"]
    where = ", in-store)" if name == "in-store" else f" {name})"
    assert [e for e in run.errors if e.startswith("Quillmark")] == [
        f"Quillmark (Error {code}): rexx interpreter error (Comment handler{where}"]


@pytest.mark.parametrize("source,errors", [
    ("' '", []),
    ("';;'", []),
    ("','", []),  # a continuation and nothing to continue
    ("'0d0a090c'x", []),
    ("'/* only /* nested */ comments */'", []),
    ("'-- a line comment'", []),
    ("'/* c */ -- d' || '0a'x || ';'", []),
    ("'/* unmatched'", ["Quillmark (Error -6): rexx interpreter error"]),
    # Regina skips a first line that starts with #!, up to its line end.
    ("'#!'", []),
    ("'#!/bin/sh'", []),
    ("'#! say hi'", []),
    ("'#!' || '0a0a'x", []),
    ("'#!' || '0a'x || '/* c */'", []),
    ("'#!' || '0a'x || ';'", []),
    ("'#!' || '0d'x", []),
    ("'#!/usr/bin/regina' || '0d0a'x || '  ' || '0d0a'x", []),
])
def test_in_store_source_without_clauses_runs_nothing(rexx, source, errors):
    # Regina crashes when it tokenises in-store source that holds no clause.
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {source}, , 1
call ExpatSetProcessingInstructionHandler p, {rexx_string("say 'pi' arg(2)")}, , 1
say 'parse' ExpatParse(p, '<a><!--1--><?one?><!--2--></a>', 0)
c = ExpatExternalEntityParserCreate(p, 'e', '')
say 'copy' ExpatParse(c, '<!--3--><?two?>', 0)
call ExpatParserFree c
call ExpatParserFree p
say 'alive'
""")
    assert run.returncode == 0, run
    reported = [e for e in run.errors if e.startswith("Quillmark")]
    if errors:
        # Each parser stops at its first comment.
        assert run.lines == ["parse 0", "copy 0", "alive"]
        assert reported == [errors[0] + " (Comment handler, in-store)"] * 2
    else:
        assert run.lines == ["pi one", "parse 1", "pi two", "copy 1", "alive"]
        assert reported == []


@pytest.mark.parametrize("first_line", ["#!/bin/sh", "#! say 'never'", "#!"])
@pytest.mark.parametrize("line_end", ["0a", "0d", "0d0a"])
def test_in_store_source_after_a_shebang_line_runs(rexx, first_line, line_end):
    source = f"{rq(first_line)} || '{line_end}'x || \"say 'comment' arg(2)\""
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {source}, , 1
say 'parse' ExpatParse(p, '<a><!--1--></a>', 0)
call ExpatParserFree p
""")
    assert lines == ["comment 1", "parse 1"]


# ---- long attribute lists -------------------------------------------------------------------

ATTRIBUTE_HANDLER = """parse arg h, name
say 'args' arg() name arg(3) arg(arg()) arg(33, 'E')
if symbol('ATTRIBUTE.0') \\== 'VAR' then do; say 'no list'; return; end
n = attribute.0
bad = 0
do i = 1 to n % 2
  j = 2 * i - 1; k = 2 * i
  if attribute.j \\== 'n'i | attribute.k \\== 'v'i then bad = bad + 1
end
say 'list' n 'entries' bad 'wrong' attribute.1 attribute.n"""


@pytest.mark.parametrize("mode", ["instore", "external"])
@pytest.mark.parametrize("count,expected", [
    (15, ["args 32 big n1 v15 0", "no list"]),
    (16, ["args 32 big n1 v15 0", "list 32 entries 0 wrong n1 v16"]),
    (5000, ["args 32 big n1 v15 0", "list 10000 entries 0 wrong n1 v5000"]),
])
def test_start_tag_with_many_attributes(rexx, mode, count, expected):
    handler = handler_argument(rexx, mode, "attrs", ATTRIBUTE_HANDLER)
    attributes = " ".join(f'n{i}="v{i}"' for i in range(1, count + 1))
    rexx.write("big.xml", f'<r x="1"><big {attributes}/><small y="2"/></r>')
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, {handler}
say 'parse' ExpatParse(p, charin('big.xml', 1, chars('big.xml')), 0)
call ExpatParserFree p
say 'main' symbol('ATTRIBUTE.0')
""")
    # the list lives in the big tag's procedure alone: not before, after, nor in the main program
    assert lines == (["args 4 r x 1 0", "no list"] + expected +
                     ["args 4 small y 2 0", "no list", "parse 1", "main LIT"])


# ---- entity declarations --------------------------------------------------------------------

ENTITY_DOC = """<!DOCTYPE a [
<!NOTATION n SYSTEM "viewer">
<!ENTITY i "iv">
<!ENTITY x SYSTEM "x.xml">
<!ENTITY u SYSTEM "u.gif" NDATA n>
<!ENTITY % pi "piv">
<!ENTITY % px SYSTEM "px.ent">
]><a/>"""
ENTITY_SETTERS = {
    "internal": "ExpatSetInternalParsedEntityDeclHandler",
    "external": "ExpatSetExternalParsedEntityDeclHandler",
    "unparsed": "ExpatSetUnparsedEntityDeclHandler",
}
ENTITY_LINES = {"internal": "internal i iv", "external": "external x x.xml 0",
                "unparsed": "unparsed u u.gif n"}


@pytest.mark.parametrize("param_parsing", ["0", "2"])
@pytest.mark.parametrize("kinds", [
    ["internal", "external", "unparsed"],
    ["internal", "external"],  # the unparsed entity goes nowhere, not to the external one
    ["external"],
    ["internal"],
    ["unparsed"],
    ["internal", "unparsed"],
])
def test_entity_declaration_dispatch(rexx, kinds, param_parsing):
    sources = {
        "internal": "say 'internal' arg(2) arg(3)",
        "external": "say 'external' arg(2) arg(4) arg(5, 'E')",
        "unparsed": "say 'unparsed' arg(2) arg(4) arg(6)",
    }
    calls = "\n".join(f"call {ENTITY_SETTERS[k]} p, {rexx_string(sources[k])}, , 1" for k in kinds)
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetParamEntityParsing p, {param_parsing}
{calls}
say 'parse' ExpatParse(p, {rexx_string(ENTITY_DOC)}, 0)
call ExpatParserFree p
""")
    # parameter entities (pi, px) produce no event
    assert lines == [ENTITY_LINES[k] for k in ENTITY_LINES if k in kinds] + ["parse 1"]


# ---- handlers that act on their own parser ----------------------------------------------------

SELF_SECOND = "say 'second' arg(2); say 'emptied' ExpatSetCommentHandler(arg(1))"
SELF_FIRST = ("say 'first' arg(2); say 'replaced' ExpatSetCommentHandler(arg(1), "
              + rq(SELF_SECOND) + ", , 1)")
SELF_EXTERNAL = {
    "first.rexx": "parse arg h, c; say 'first' c; say 'replaced' ExpatSetCommentHandler(h, 'again')",
    # replaces its own slot with a fresh record of itself, then empties it
    "again.rexx": "parse arg h, c; say 'again' c\n"
                  "if c < 3 then say 'replaced' ExpatSetCommentHandler(h, 'again')\n"
                  "else say 'emptied' ExpatSetCommentHandler(h)",
}


@pytest.mark.parametrize("valgrind", [False, True], ids=["plain", "valgrind"])
@pytest.mark.parametrize("mode", ["instore", "external"])
def test_handler_replaces_and_empties_its_own_slot(rexx, monkeypatch, mode, valgrind):
    monkeypatch.setattr(conftest, "VALGRIND", valgrind)
    if mode == "instore":
        first = f"{rexx_string(SELF_FIRST)}, , 1"
        expected = ["first 1", "replaced 3", "second 2", "emptied 0"]
    else:
        for name, text in SELF_EXTERNAL.items():
            rexx.write(name, text + "\n")
        first = "'first'"
        expected = ["first 1", "replaced 3", "again 2", "replaced 3", "again 3", "emptied 0"]
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {first}
say 'parse' ExpatParse(p, '<a><!--1--><!--2--><!--3--><!--4--><!--5--></a>', 0)
call ExpatParserFree p
""", timeout=600)
    assert lines == expected + ["parse 1"]


def test_results_and_copies_release_cleanly_under_valgrind(rexx, monkeypatch):
    # Every way a procedure can end, in both modes, with the records copied to an entity
    # parser after they ran: valgrind reports any block not released or used after release.
    monkeypatch.setattr(conftest, "VALGRIND", True)
    rexx.write("e.xml", "<b>inner<!--in--></b>")
    rexx.write("chars.rexx", "return copies('z', 1000)\n")
    entity = ENTITY_HANDLER.format(answer="1")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, {rexx_string("say 'start' arg(2); return copies('x', 300)")}, , 1,,
  {rexx_string("say 'end' arg(2)")}, , 1
call ExpatSetCharacterDataHandler p, 'chars'
call ExpatSetCommentHandler p, {rexx_string("say 'comment' arg(2); return ''")}, , 1
call ExpatSetDefaultHandler p, {rexx_string("return 'd'")}, , 1
call ExpatSetExternalEntityRefHandler p, {rexx_string(entity)}, , 1
say 'parse' ExpatParse(p, '<!DOCTYPE a [<!ENTITY e SYSTEM "e.xml">]><a>t<!--c-->&e;</a>', 0)
call ExpatParserFree p
""", timeout=600)
    assert lines == ["start a", "comment c", "start b", "comment in", "end b", "entity 1",
                     "end a", "parse 1"]


BUSY_HANDLER = """parse arg h, name
if name \\== 'a' then do; say 'start' name; return; end
signal on syntax name parsefail
call ExpatParse h, '<x/>', 0
say 'ExpatParse answered'
freeing:
signal on syntax name freefail
call ExpatParserFree h
say 'ExpatParserFree answered'
other:
q = ExpatParserCreate()
say 'other parser' ExpatParse(q, '<y/>', 0) ExpatParserFree(q)
return
parsefail: say 'ExpatParse error' rc; signal freeing
freefail: say 'ExpatParserFree error' rc; signal other"""


def test_busy_parser_refuses_parse_and_free_from_its_handler(rexx):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, {rexx_string(BUSY_HANDLER)}, , 1
say 'parse' ExpatParse(p, '<a><b/></a>', 0)
say 'freed' '['ExpatParserFree(p)']'
""")
    assert lines == ["ExpatParse error 40", "ExpatParserFree error 40", "other parser 1 ",
                     "start b", "parse 1", "freed []"]


# ---- macro space ------------------------------------------------------------------------------

@pytest.mark.parametrize("kind,expected", [
    ("macro", []),
    ("MACRO", []),
    ("Macro", ["external c"]),  # not a macro-space keyword: external mode
])
def test_macro_space_runs_nothing_with_regina(rexx, kind, expected):
    # Regina has no macro space: a macro-space handler is accepted and silently runs nothing,
    # even when a program of that name exists.
    rexx.write("quill_macro.rexx", "say 'external' arg(2)\n")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
say ExpatSetCommentHandler(p, 'quill_macro', , {rq(kind)})
say 'parse' ExpatParse(p, '<a><!--c--></a>', 0)
call ExpatParserFree p
""")
    assert lines == ["3"] + expected + ["parse 1"]


def test_macro_space_answer_stops_the_parse(rexx):
    # Nothing runs, so no return code: the not-standalone event is refused.
    lines = rexx.ok("""
p = ExpatParserCreate()
call ExpatSetNotStandaloneHandler p, 'quill_macro', , 'macro'
say 'parse' ExpatParse(p, '<?xml version="1.0" standalone="no"?><!DOCTYPE a SYSTEM "a.dtd"><a/>', 0)
call ExpatParserFree p
""")
    assert lines == ["parse 0"]


# ---- the outline example ----------------------------------------------------------------------

EXAMPLES = conftest.SOURCE_DIR / "examples"


def outline(rexx, document):
    command = conftest.regina_command(EXAMPLES / "outline.rexx") + [rexx_path(document)]
    proc = subprocess.run(command, cwd=rexx.folder, env=rexx.env(), capture_output=True,
                          timeout=300)
    return conftest.Run(proc)


def test_outline_of_the_catalog(rexx):
    run = outline(rexx, EXAMPLES / "samples" / "catalog.xml")
    assert (run.returncode, run.errors) == (0, []), run
    assert run.lines == [
        "<!-- A small library catalogue. -->",
        'catalog (line 6) xmlns:dc="http://purl.org/dc/elements/1.1/"',
        '  book (line 7) id="b1" lang="en"',
        "    dc:title (line 8)",
        '      "Streams and Parsers"',
        "    author (line 9)",
        '      "Ada Byron"',
        '    price (line 10) currency="EUR"',
        '      "29.50"',
        "    note (line 11)",
        '      "Uses <tags> & entities freely."',  # a CDATA section's text
        '  book (line 13) id="b2" lang="de"',
        "    dc:title (line 14)",
        '      "Rexx f\xc3\xbcr Fortgeschrittene"',  # a character reference, in UTF-8
        "    author (line 15)",
        '      "M. F. Cowlishaw"',
        "    publisher (line 16)",
        '      "Quillmark Press"',  # an internal entity
        '    <?render style="compact"?>',
    ]


def test_outline_of_mixed_content_and_a_long_start_tag(rexx):
    attributes = " ".join(f'a{i}="{i}"' for i in range(1, 18))
    document = rexx.write("mixed.xml", "<r>\n  <p>one <b>two</b>\n three<!--\n note\n--><?go?></p>\n"
                                       f"  <e {attributes}/>\n</r>\n")
    run = outline(rexx, document)
    assert (run.returncode, run.errors) == (0, []), run
    assert run.lines == [
        "r (line 1)", "  p (line 2)", '    "one"', "    b (line 2)", '      "two"',
        '    "three"', "    <!-- note -->", "    <?go?>",
        "  e (line 6) " + " ".join(f'a{i}="{i}"' for i in range(1, 18)),
    ]


def test_outline_of_a_broken_document(rexx):
    run = outline(rexx, EXAMPLES / "samples" / "broken.xml")
    assert run.returncode == 1, run
    assert run.lines == ["inventory (line 2)", "  item (line 3) sku=\"A-100\"", '    "Widget"',
                         "  item (line 4) sku=\"A-101\"", '    "Gadget"',
                         f"{rexx_path(EXAMPLES / 'samples' / 'broken.xml')}:5:2: mismatched tag"]
