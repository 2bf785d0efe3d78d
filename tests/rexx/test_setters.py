"""The handler-setting functions: results, which slots each call fills or empties, what Expat
is told, invalid calls, invocation modes and environment names."""

import pytest

from conftest import rexx_string


def src(tag):
    """In-store handler source that says the tag and the event's second argument."""
    return rexx_string(f"say '{tag}' arg(2)")


S, E1, E2, C, D, X = src("start"), src("end1"), src("end2"), src("comment"), src("D"), src("X")


def run_calls(rexx, calls, doc, create="ExpatParserCreate()"):
    """Makes each setter call in turn (saying its result), then parses doc."""
    said = "\n".join(f"say 'result' try({rexx_string(c)})" for c in calls)
    return rexx.ok(f"""
p = {create}
{said}
say 'parse' ExpatParse(p, {rexx_string(doc)}, 0)
call ExpatParserFree p
""")


@pytest.mark.parametrize("calls,results,events", [
    ([f"ExpatSetCommentHandler(p, {C}, , 1)"], ["3"], ["comment 1", "comment 2"]),
    ([f"ExpatSetCommentHandler(p, {C}, , 1)", "ExpatSetCommentHandler(p)"], ["3", "0"], []),
    ([f"ExpatSetCommentHandler(p, {C}, , 1)", "ExpatSetCommentHandler(p, '')"], ["3", "0"], []),
    ([f"ExpatSetCommentHandler(p, {C}, , 1)", "ExpatSetCommentHandler(p, , 'SYSTEM', 1)"],
     ["3", "0"], []),  # a group without a procedure clears its slot
    ([f"ExpatSetCommentHandler(p, {C}, , 1)"] * 2, ["3", "3"], ["comment 1", "comment 2"]),
    ([f"ExpatSetCommentHandler(p, {C}, , 1, 'ignored', 'extra')"], ["3"],
     ["comment 1", "comment 2"]),  # arguments after the group are ignored
], ids=["set", "handle-alone", "empty-procedure", "omitted-procedure", "twice", "extra-args"])
def test_one_slot_setter(rexx, calls, results, events):
    lines = run_calls(rexx, calls, "<a><!--1--><!--2--></a>")
    assert lines == [f"result {r}" for r in results] + events + ["parse 1"]


FULL = f"ExpatSetElementHandler(p, {S}, , 1, {E1}, , 1)"


@pytest.mark.parametrize("calls,results,events", [
    ([FULL], ["3"], ["start a", "D x", "start b", "end1 b", "end1 a"]),
    # first group only: the second slot is emptied and unregistered
    ([FULL, f"ExpatSetElementHandler(p, {S}, , 1)"], ["3", "0"],
     ["start a", "D x", "start b", "D </a>"]),
    # exactly four arguments: the second group counts as omitted
    ([FULL, f"ExpatSetElementHandler(p, {S}, '', 1)"], ["3", "0"],
     ["start a", "D x", "start b", "D </a>"]),
    # first group empty: the call ends there; the second slot keeps its earlier record, and start
    # tags, still registered, reach neither a procedure nor the default handler
    ([FULL, f"ExpatSetElementHandler(p, , , , {E2}, , 1)"], ["3", "0"],
     ["D x", "end1 b", "end1 a"]),
    ([f"ExpatSetElementHandler(p, , , , {E2}, , 1)"], ["0"],
     ["D <a>", "D x", "D <b/>", "D </a>"]),  # on a fresh parser: nothing filled, nothing set
    ([FULL, "ExpatSetElementHandler(p)"], ["3", "0"], ["D x", "end1 b", "end1 a"]),
    ([FULL, f"ExpatSetElementHandler(p, {S}, , 1, {E2}, , 1)"], ["3", "3"],
     ["start a", "D x", "start b", "end2 b", "end2 a"]),
], ids=["both", "first-only", "four-args", "second-only", "second-only-fresh", "handle-alone",
        "replace"])
def test_two_slot_setter(rexx, calls, results, events):
    # The default procedure shows which markup no element procedure took.
    calls = [f"ExpatSetDefaultHandler(p, {src('D')}, , 1)"] + calls
    lines = run_calls(rexx, calls, "<a>x<b/></a>")
    assert lines == ["result 3"] + [f"result {r}" for r in results] + events + ["parse 1"]


@pytest.mark.parametrize("call", [
    "ExpatSetCommentHandler()",
    "ExpatSetElementHandler()",
    f"ExpatSetCommentHandler(, {C}, , 1)",
    f"ExpatSetCommentHandler('', {C}, , 1)",
    f"ExpatSetCommentHandler('0x1', {C}, , 1)",
    f"ExpatSetCommentHandler(q, {C}, , 1)",  # a freed parser
    f"ExpatSetElementHandler(q, {S}, , 1, {E1}, , 1)",
])
def test_invalid_setter_call_answers_40_and_changes_nothing(rexx, call):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
q = ExpatParserCreate()
call ExpatParserFree q
call ExpatSetCommentHandler p, {src('kept')}, , 1
say try({rexx_string(call)})
say 'parse' ExpatParse(p, '<a><!--1--></a>', 0)
call ExpatParserFree p
""")
    assert lines == ["ERROR 40", "kept 1", "parse 1"]


ENTITY_DOC = '<!DOCTYPE a [<!ENTITY e "v">]><a>&e;</a>'


@pytest.mark.parametrize("calls,results,events", [
    ([f"ExpatSetDefaultHandler(p, {D}, , 1)"], ["3"], ["D &e;"]),
    ([f"ExpatSetDefaultHandlerExpand(p, {X}, , 1)"], ["3"], ["X v"]),
    # one Expat default handler: the later call decides which procedure runs
    ([f"ExpatSetDefaultHandler(p, {D}, , 1)", f"ExpatSetDefaultHandlerExpand(p, {X}, , 1)"],
     ["3", "3"], ["X v"]),
    ([f"ExpatSetDefaultHandlerExpand(p, {X}, , 1)", f"ExpatSetDefaultHandler(p, {D}, , 1)"],
     ["3", "3"], ["D &e;"]),
    # emptying either slot stops Expat's default handler, whichever slot registered it
    ([f"ExpatSetDefaultHandler(p, {D}, , 1)", f"ExpatSetDefaultHandlerExpand(p, {X}, , 1)",
      "ExpatSetDefaultHandler(p)"], ["3", "3", "0"], []),
    ([f"ExpatSetDefaultHandlerExpand(p, {X}, , 1)", f"ExpatSetDefaultHandler(p, {D}, , 1)",
      "ExpatSetDefaultHandlerExpand(p)"], ["3", "3", "0"], []),
])
def test_default_and_default_expand_share_expats_handler(rexx, calls, results, events):
    lines = run_calls(rexx, calls, ENTITY_DOC)
    # The document type declaration's markup also goes to the default handler: only the
    # element's content is compared.
    content = [line for line in lines if line in ("D &e;", "X v", "D v", "X &e;")]
    assert lines[:len(calls)] == [f"result {r}" for r in results]
    assert content == events
    assert lines[-1] == "parse 1"


@pytest.mark.parametrize("kind,mode", [
    ("1", "instore"), ("' 2'", "instore"), ("-1", "instore"), ("'7abc'", "instore"),
    ("'3rd'", "instore"),
    ("0", "external"), ("'abc'", "external"), ("'Macro'", "external"),
    ("'macro '", "external"), ("'-'", "external"), ("''", "external"), ("", "external"),
    ("'Internal'", "external"),
    ("'macro'", "macro"), ("'MACRO'", "macro"),
    ("'internal'", "label"), ("'INTERNAL'", "label"),
])
def test_invocation_type_selects_the_mode(rexx, kind, mode):
    # The same procedure text runs as source in in-store mode; in external mode it names a
    # program that does not exist, and as a label one the program does not have; in
    # macro-space mode Regina runs nothing.
    run = rexx(f"""
p = ExpatParserCreate()
say ExpatSetCommentHandler(p, "say 'in-store'", , {kind})
say 'parse' ExpatParse(p, '<a><!--1--></a>', 0)
call ExpatParserFree p
""")
    assert run.returncode == 0, run
    failed = {"external": -3, "label": -16}.get(mode)
    assert run.lines == (["3"] + (["in-store"] if mode == "instore" else []) +
                         ["parse 0" if failed else "parse 1"])
    expected = (f"Quillmark (Error {failed}): rexx interpreter error (Comment handler "
                "\"say 'in-store'\")")
    assert run.errors == ([expected] if failed else [])


@pytest.mark.parametrize("environment,expected", [
    ("'SYSTEM'", "env SYSTEM"), ("", "env "), ("''", "env "), ("'PATH'", "env PATH"),
])
def test_environment_name_reaches_the_procedure(rexx, environment, expected):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, "say 'env' address()", {environment}, 1
call ExpatParse p, '<a><!--1--></a>', 0
call ExpatParserFree p
""")
    assert lines == [expected]


def test_procedure_is_stored_up_to_a_nul(rexx):
    rexx.write("cut.rexx", "say 'external cut'\n")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, "say 'in-store cut'" || '00'x || "say 'never'", , 1
call ExpatSetProcessingInstructionHandler p, 'cut' || '00'x || 'never'
call ExpatParse p, '<a><!--1--><?t?></a>', 0
call ExpatParserFree p
""")
    assert lines == ["in-store cut", "external cut"]


def test_entity_parser_setters_change_only_their_own_parser(rexx):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {src('parent')}, , 1
c = ExpatExternalEntityParserCreate(p, 'e', '')
call ExpatSetCommentHandler p
say 'child' ExpatParse(c, '<!--1-->', 0)
call ExpatSetCommentHandler c, {src('child')}, , 1
call ExpatSetCommentHandler p, {src('again')}, , 1
call ExpatParserFree c
say 'parent' ExpatParse(p, '<a><!--2--></a>', 0)
call ExpatParserFree p
""")
    # the child keeps its copy after the parent's slot is emptied, and the other way round
    assert lines == ["parent 1", "child 1", "again 2", "parent 1"]
