"""Handlers and the program that calls ExpatParse, as users write them: labels of the program,
and procedures of their own (in-store source, program files) that run isolated from it.

A program reads a document of several megabytes in 64 KiB pieces with charin while its handlers
run, keeps writing its own file, runs commands and uses the queue; none of it may be disturbed.
Labels share the program's variables; the other modes keep their counts in environment
variables, which every thread of the process shares.
"""

import os
import re
import subprocess

import pytest

import wine
from conftest import TRY, VALGRIND, SANITIZED, rexx_path, rexx_string

MODES = ["label", "instore", "external"]

# The peak resident size of the process, in kB, as its last line.
PEAK = """
f = '/proc/self/status'
do until left(l, 6) = 'VmHWM:'
  l = linein(f)
end
say 'peak' word(l, 2)
"""
MEASURED = not VALGRIND and not SANITIZED


def scaled(full, light):
    return light if VALGRIND else full


def handler(rexx, mode, name, source, expose=""):
    """Setter arguments for a handler running source in this mode."""
    if mode == "label":
        return rexx.label(name, source, expose)
    if mode == "instore":
        return f"{rexx_string(source)}, , 1"
    rexx.write(f"{name}.rexx", source + "\n")
    return f"'{name}', , ''"


def write_catalog(path, items):
    """A document of items with attributes, entities and text; answers (start tags, text bytes)."""
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<catalog>\n']
    for i in range(items):
        parts.append(f'<item id="i{i}" n="{i}"><name>Item {i} &amp; co</name>'
                     f'<note>{"x" * 90}</note></item>\n')
    parts.append("</catalog>\n")
    text = "".join(parts)
    path.write_text(text)
    starts = 1 + 3 * items
    inner = sum(len(f"Item {i} & co") + 90 for i in range(items))
    newlines = items + 1  # between the elements of the catalog
    return len(text), starts, inner + newlines


# Counting in the program's variables (labels) or in environment variables (the others).
COUNT_START = {
    "label": "starts = starts + 1",
    "other": "call value 'QM_STARTS', value('QM_STARTS', , 'ENVIRONMENT') + 1, 'ENVIRONMENT'",
}
COUNT_TEXT = {
    "label": "chars = chars + length(arg(2))",
    "other": ("call value 'QM_CHARS', value('QM_CHARS', , 'ENVIRONMENT') + length(arg(2)), "
              "'ENVIRONMENT'"),
}


@pytest.mark.parametrize("mode", MODES)
def test_large_document_in_pieces_keeps_the_program_whole(rexx, mode):
    size, starts, chars = write_catalog(rexx.folder / "catalog.xml", scaled(20000, 1500))
    assert size > scaled(2 << 20, 100 << 10)
    how = "label" if mode == "label" else "other"
    on_start = handler(rexx, mode, "OnStart", COUNT_START[how], "starts")
    on_text = handler(rexx, mode, "OnText", COUNT_TEXT[how], "chars")
    lines = rexx.ok(f"""
file = 'catalog.xml'
out = 'out.txt'
call lineout out, 'before'
queue 'kept'
starts = 0; chars = 0
call value 'QM_STARTS', 0, 'ENVIRONMENT'
call value 'QM_CHARS', 0, 'ENVIRONMENT'
p = ExpatParserCreate()
call ExpatSetElementHandler p, {on_start}
call ExpatSetCharacterDataHandler p, {on_text}
pieces = 0
do while chars(file) > 0
  piece = charin(file, , 65536)
  pieces = pieces + 1
  ok = ExpatParse(p, piece, chars(file) > 0)
  call lineout out, 'piece' pieces length(piece)
  if \\ok then leave
end
if \\ok then say 'error' ExpatErrorString(ExpatGetErrorCode(p)) 'line' ExpatGetCurrentLineNumber(p)
call ExpatParserFree p
if {int(how == "other")} then do
  starts = value('QM_STARTS', , 'ENVIRONMENT'); chars = value('QM_CHARS', , 'ENVIRONMENT')
end
say 'parse' ok 'pieces' pieces 'starts' starts 'chars' chars
parse source . . name
say 'source' name
address system 'echo command ran>cmd.txt'
say 'command' rc linein('cmd.txt')
pull line
say 'queue' line queued()
call lineout out, 'after'
call lineout out
""")
    # (no blank before '>' in the command: Windows' cmd would write it into the file)
    pieces = -(-size // 65536)
    assert lines[0] == f"parse 1 pieces {pieces} starts {starts} chars {chars}"
    # the program's name as the interpreter was given it (a Windows path on Windows)
    assert lines[1] == f"source {rexx_path(rexx.folder / f'main{rexx.count}.rexx')}"
    assert lines[2:] == ["command 0 command ran", "queue KEPT 0"]
    written = (rexx.folder / "out.txt").read_text().splitlines()
    assert written[0] == "before" and written[-1] == "after"
    assert len(written) == pieces + 2
    assert all(re.fullmatch(r"piece \d+ \d+", w) for w in written[1:-1])


def test_parse_source_after_every_mode(rexx):
    # A nested RexxStart freed the calling program's name: PARSE SOURCE then crashed.
    on = {mode: handler(rexx, mode, f"On{mode}", "nop") for mode in MODES}
    lines = rexx.ok(f"""
do m = 1 to 3
  p = ExpatParserCreate()
  select
    when m = 1 then call ExpatSetCommentHandler p, {on["label"]}
    when m = 2 then call ExpatSetCommentHandler p, {on["instore"]}
    otherwise call ExpatSetCommentHandler p, {on["external"]}
  end
  ok = ExpatParse(p, '<a><!--c--></a>', 0)
  call ExpatParserFree p
  parse source system how name
  say ok how (name \\== '')
end
signal on syntax
x = 1 + 'a'
syntax:
say 'error line' sigl
""")
    # Conditions name the program's line too.
    program = (rexx.folder / f"main{rexx.count}.rexx").read_text().splitlines()
    line = program.index("x = 1 + 'a'") + 1
    assert lines == ["1 COMMAND 1"] * 3 + [f"error line {line}"]


@pytest.mark.parametrize("mode", ["instore", "external"])
def test_queue_is_shared_with_procedures_of_their_own(rexx, mode):
    # A handler pulls what the program queued; what it queues and pushes is the program's
    # afterwards, in the same order.
    on_comment = handler(rexx, mode, "OnComment", """
pull line
say 'handler pulled' line 'left' queued()
queue 'fifo' arg(2)
push 'lifo' arg(2)""")
    lines = rexx.ok(f"""
queue 'first'; queue 'second'; queue 'third'
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {on_comment}
say 'parse' ExpatParse(p, '<a><!--1--><!--2--></a>', 0)
call ExpatParserFree p
do queued()
  pull line
  say line
end
""")
    assert lines == ["handler pulled FIRST left 2", "handler pulled LIFO 1 left 3", "parse 1",
                     "LIFO 2", "SECOND", "THIRD", "FIFO 1", "FIFO 2"]


def test_queue_is_the_programs_own_in_labels(rexx):
    on_comment = rexx.label("OnComment", "pull line; say 'label pulled' line; queue 'from' arg(2)")
    lines = rexx.ok(f"""
queue 'first'; queue 'second'
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {on_comment}
say 'parse' ExpatParse(p, '<a><!--1--><!--2--></a>', 0)
call ExpatParserFree p
do queued(); pull line; say line; end
""")
    assert lines == ["label pulled FIRST", "label pulled SECOND", "parse 1", "FROM 1", "FROM 2"]


@pytest.mark.parametrize("mode", ["instore", "external"])
def test_system_environment_in_procedures_and_program(rexx, mode):
    # A procedure run with environment SYSTEM deleted the program's SYSTEM environment, and
    # its own from the second run on.
    source = "address system 'echo' arg(2) '>> commands.txt'; say 'rc' rc address()"
    if mode == "instore":
        group = f"{rexx_string(source)}, 'SYSTEM', 1"
    else:
        rexx.write("OnComment.rexx", source + "\n")
        group = "'OnComment', 'SYSTEM'"
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {group}
say 'parse' ExpatParse(p, '<a><!--1--><!--2--><!--3--></a>', 0)
call ExpatParserFree p
address system 'echo program >> commands.txt'
say 'program rc' rc
""")
    assert lines == ["rc 0 SYSTEM"] * 3 + ["parse 1", "program rc 0"]
    assert (rexx.folder / "commands.txt").read_text().split() == ["1", "2", "3", "program"]


def test_labels_share_the_programs_variables(rexx):
    lines = rexx.ok("""
count = 0; names = ''
p = ExpatParserCreate()
call ExpatSetElementHandler p, 'Shared', , 'internal', 'Exposed', , 'INTERNAL'
say ExpatParse(p, '<a><b/><c/></a>', 0)
call ExpatParserFree p
say count names symbol('local')
exit
Shared:  /* no PROCEDURE: the program's own variables */
  count = count + 1
  return
Exposed: procedure expose names
  names = names arg(2)
  local = 'x'
  return
""")
    assert lines == ["1", "3  b c a LIT"]


@pytest.mark.parametrize("count", [15, 16, 40])
def test_labels_get_long_attribute_lists_in_the_stem(rexx, count):
    attributes = " ".join(f'n{i}="v{i}"' for i in range(1, count + 1))
    lines = rexx.ok(f"""
attribute.99 = 'stale'
p = ExpatParserCreate()
call ExpatSetElementHandler p, 'OnStart', , 'internal'
say ExpatParse(p, '<a {attributes}/>', 0)
call ExpatParserFree p
exit
OnStart: procedure expose attribute.
  n = arg() - 2
  if symbol('attribute.0') == 'VAR' then say 'stem' attribute.0 attribute.1 attribute.2,
    value('attribute.'attribute.0) symbol('attribute.99')
  say 'args' arg() arg(3) arg(arg())
  return
""")
    if count <= 15:
        assert lines == [f"args {2 + 2 * count} n1 v{count}", "1"]
    else:
        # 32 arguments hold the handle, the name and 15 attributes; the stem holds them all,
        # and nothing of what it held before.
        assert lines == [f"stem {2 * count} n1 v1 v{count} LIT", "args 32 n1 v15", "1"]


# ---- labels that do not return ---------------------------------------------------------------

TRAP_CHECK = """
say 'later parse' ExpatParse(p, '<x/>', 0) ExpatGetErrorCode(p)
say 'free' ExpatParserFree(p) '.'
q = ExpatParserCreate()
call ExpatSetElementHandler q, 'Fine', , 'internal'
say 'other parser' ExpatParse(q, '<other/>', 0)
call ExpatParserFree q
"""


@pytest.mark.parametrize("where", ["start", "text", "entity"])
def test_trapped_error_in_a_label_leaves_the_parser_consistent(rexx, where):
    # The trap runs at the label's level; the program goes on from there and ends with EXIT.
    setters = {
        "start": "call ExpatSetElementHandler p, 'Bad', , 'internal'",
        "text": "call ExpatSetCharacterDataHandler p, 'Bad', , 'internal'",
        "entity": "call ExpatSetExternalEntityRefHandler p, 'Bad', , 'internal'",
    }
    run = rexx(f"""
signal on syntax name trapped
p = ExpatParserCreate()
{setters[where]}
say 'parse' ExpatParse(p, '<!DOCTYPE a [<!ENTITY e SYSTEM "e.xml">]><a>t&e;<b/></a>', 0)
say 'not reached'
exit 1
trapped:
say 'trapped' rc
{TRAP_CHECK}
exit 0
Bad:  /* the trap runs here, with the program's variables */
  say 'bad' arg(2)
  x = 1 + 'a'
  return 1
Fine: procedure
  say 'fine' arg(2)
  return
""", valgrind=True)
    assert run.returncode == 0, run
    first = {"start": "bad a", "text": "bad t", "entity": "bad e"}[where]
    assert run.lines == [first, "trapped 41", "later parse 0 35", "free  .", "fine other",
                         "other parser 1"]


def test_trap_that_returns_answers_for_the_label(rexx):
    # A trap that returns ends the label's call, as it ends any call: the parse goes on.
    lines = rexx.ok("""
signal on syntax name trapped
p = ExpatParserCreate()
call ExpatSetElementHandler p, 'Bad', , 'internal'
say 'parse' ExpatParse(p, '<a><b/></a>', 0)
call ExpatParserFree p
exit
Bad:
  say 'bad' arg(2)
  x = 1 + 'a'
trapped:
  say 'trapped' rc
  return
""")
    assert lines == ["bad a", "trapped 41", "bad b", "trapped 41", "parse 1"]


def test_exit_in_a_label_of_a_called_program(rexx):
    # The called program ends inside its label; the caller goes on with the parser it made.
    rexx.write("parsesub.rexx", """parse arg p
call ExpatSetElementHandler p, 'Leave', , 'internal'
say 'sub parse' ExpatParse(p, '<a><b/></a>', 0)
say 'not reached'
return 'not reached'
Leave:
  say 'leaving at' arg(2)
  exit 'left'
""")
    run = rexx(f"""
p = ExpatParserCreate()
call 'parsesub.rexx' p
say 'sub answered' result
{TRAP_CHECK}
exit
Fine: procedure
  return
""", valgrind=True)
    assert run.returncode == 0, run
    assert run.lines == ["leaving at a", "sub answered left", "later parse 0 35", "free  .",
                         "other parser 1"]


def test_exit_in_a_label_ends_the_program(rexx):
    run = rexx("""
p = ExpatParserCreate()
call ExpatSetElementHandler p, 'Leave', , 'internal'
say 'parse' ExpatParse(p, '<a><b/></a>', 0)
say 'not reached'
Leave:
  say 'leaving at' arg(2)
  exit 7
""", valgrind=True)
    assert run.returncode == 7, run
    assert run.lines == ["leaving at a"]


def test_label_feeding_or_freeing_its_own_parser(rexx):
    run = rexx("""
p = ExpatParserCreate()
call ExpatSetElementHandler p, 'Feed', , 'internal'
say 'fed' ExpatParse(p, '<a><b/></a>', 0) ExpatGetErrorCode(p)
call ExpatParserFree p
q = ExpatParserCreate()
call ExpatSetElementHandler q, 'Free', , 'internal'
say 'freed' ExpatParse(q, '<a><b/></a>', 0) try('ExpatGetErrorCode(q)')
exit
Feed: procedure
  say 'inner' ExpatParse(arg(1), '<c/>', 0) ExpatGetErrorCode(arg(1))
  return
Free: procedure
  say 'free' ExpatParserFree(arg(1)) '.'
  return
""", valgrind=True)
    assert run.returncode == 0, run
    # A parser cannot be fed from inside its own label: that ends its parse.
    assert run.lines == ["inner 0 35", "fed 0 35", "free  .", "freed 0 ERROR 40"]


# ---- limits -----------------------------------------------------------------------------------

@pytest.mark.parametrize("mode", ["label", "instore", "mixed"])
def test_nested_parses_are_refused_past_the_limit(rexx, mode):
    # Each level's handler parses a document whose handler parses the next one. Mixed: labels of
    # the program for the first ten levels, then in-store procedures on helper threads.
    instore = "value('QM_SOURCE', , 'ENVIRONMENT'), , 1"
    nest = """parse arg h
n = value('QM_DEPTH', , 'ENVIRONMENT') + 1
call value 'QM_DEPTH', n, 'ENVIRONMENT'
c = ExpatParserCreate()
{again}
r = try("ExpatParse(c, '<a><!--x--></a>', 0)")
if r \\== 1 then say 'depth' n r
call ExpatParserFree c
return
""" + TRY
    rexx.write("nest.src", nest.format(again=f"call ExpatSetCommentHandler c, {instore}"))
    if mode == "label":
        group = rexx.label("Nest", nest.format(again="call ExpatSetCommentHandler c, 'Nest', , 'internal'"))
    elif mode == "mixed":
        group = rexx.label("Nest", nest.format(again=f"""if n < 10 then call ExpatSetCommentHandler c, 'Nest', , 'internal'
else call ExpatSetCommentHandler c, {instore}"""))
    else:
        group = instore
    lines = rexx.ok(f"""
call value 'QM_DEPTH', 0, 'ENVIRONMENT'
call value 'QM_SOURCE', charin('nest.src', 1, chars('nest.src')), 'ENVIRONMENT'
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {group}
say 'parse' ExpatParse(p, '<a><!--x--></a>', 0)
call ExpatParserFree p
""", timeout=600)
    # Level 100 is the last one allowed; its handler's parse is refused.
    assert lines[0] == "depth 100 ERROR 40"
    assert all(line.startswith("depth ") and line.endswith(" 0") for line in lines[1:-1]), lines
    assert lines[-1] == "parse 1"


@pytest.mark.parametrize("mode", MODES)
def test_memory_does_not_grow_with_the_events(rexx, mode):
    if not MEASURED:
        pytest.skip("memory is measured on plain runs only")
    if wine.ENABLED:
        pytest.skip("under wine a program's /proc/self is the wineserver's")
    peaks = []
    for events in (5000, 50000):
        on_text = handler(rexx, mode, "OnText", "nop")
        lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCharacterDataHandler p, {on_text}
call ExpatParse p, '<doc>', 1
text = '<t>' || copies('x', 1024) || '</t>'
do i = 1 to {events} % 100
  call ExpatParse p, copies(text, 100), 1
end
call ExpatParse p, '</doc>', 0
call ExpatParserFree p
f = '/proc/self/status'
do until left(l, 6) = 'VmHWM:'
  l = linein(f)
end
say word(l, 2)
""", timeout=600)
        peaks.append(int(lines[-1]))
    # 45 000 more events of 1 KiB: within a few MiB.
    assert peaks[1] - peaks[0] < 6 * 1024, peaks


# ---- one parser, several modes ------------------------------------------------------------

MIXED_DOC = ('<!DOCTYPE a [<!ENTITY e "&lt;x/>">]><a k="v">t<b/><?p d?><![CDATA[c]]>&e;'
             '<!--c--></a>')
MIXED_KINDS = [("ExpatSetElementHandler", ["start", "end"]),
               ("ExpatSetCharacterDataHandler", ["text"]),
               ("ExpatSetProcessingInstructionHandler", ["pi"]),
               ("ExpatSetCdataSectionHandler", ["scdata", "ecdata"]),
               ("ExpatSetCommentHandler", ["comment"]),
               ("ExpatSetDefaultHandler", ["default"])]


def mixed_events(rexx, modes):
    # Starts and PIs return a value: their markup goes to the default procedure too.
    each = iter(modes.split())
    calls = []
    for setter, tags in MIXED_KINDS:
        groups = []
        for tag in tags:
            answer = "return 'pass'" if tag in ("start", "pi") else "return"
            groups.append(handler(rexx, next(each), f"On{tag}", f"say '{tag}' arg(2)\n{answer}"))
        calls.append(f"call {setter} p, {', '.join(groups)}")
    body = "\n".join(calls)
    return rexx.ok(f"""
p = ExpatParserCreate()
{body}
say 'parse' ExpatParse(p, '{MIXED_DOC}', 0)
call ExpatParserFree p
""")


@pytest.mark.parametrize("modes", [
    "label label label label label label label label",
    "label instore external label instore label instore external",
    "instore label label instore label external label label",
    "external external instore label label label label instore",
])
def test_mixed_modes_report_events_in_document_order(rexx, modes):
    reference = mixed_events(rexx, " ".join(["instore"] * 8))
    assert reference[:3] == ["default <!DOCTYPE", "default  ", "default a"]
    assert "start a" in reference and "default <a k=\"v\">" in reference
    assert reference[-1] == "parse 1"
    assert mixed_events(rexx, modes) == reference


def test_label_handed_back_by_a_helper_starts_a_parse_of_its_own(rexx):
    # The parse of p runs on a helper (its comment handler is in-store); its unknown-encoding
    # label runs on the program's thread while that helper waits, and parses q, whose in-store
    # handler needs a helper too.
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {rexx_string("say 'p comment' arg(2)")}, , 1
call ExpatSetUnknownEncodingHandler p, 'OnMap', , 'internal'
say 'p' ExpatParse(p, '<?xml version="1.0" encoding="x-mine"?><a><!--outer--></a>', 0)
call ExpatParserFree p
exit
OnMap: procedure
  q = ExpatParserCreate()
  call ExpatSetCommentHandler q, {rexx_string("say 'q comment' arg(2)")}, , 1
  say 'q' ExpatParse(q, '<b><!--inner--></b>', 0)
  call ExpatParserFree q
  return copies('.', 256)
""", valgrind=True, timeout=120)
    assert run.returncode == 0, run
    assert run.lines == ["q comment inner", "q 1", "p comment outer", "p 1"]


# ---- procedures of their own: what they may do, what they cost ---------------------------

def test_functions_dropped_by_a_procedure_stay_for_the_next(rexx):
    # Handlers written with the loading lines at the top often drop the functions at the end.
    drops = rexx_string("say 'comment'; call ExpatDropFuncs")
    line = rexx_string("say arg(2) 'line' ExpatGetCurrentLineNumber(arg(1))")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {drops}, , 1
call ExpatSetProcessingInstructionHandler p, {line}, , 1
say 'parse' ExpatParse(p, '<a><!--c-->' || '0a'x || '<?p x?></a>', 0)
call ExpatParserFree p
q = ExpatParserCreate()
call ExpatSetProcessingInstructionHandler q, {line}, , 1
say 'parse' ExpatParse(q, '<a><?q x?></a>', 0)
call ExpatParserFree q
""")
    assert lines == ["comment", "p line 2", "parse 1", "q line 1", "parse 1"]


@pytest.mark.parametrize("call,refused", [
    ("ExpatParserFree(arg(1))", "refused 40"),
    ("ExpatParse(arg(1), '<z/>', 0)", "refused 40"),
])
def test_isolated_procedure_cannot_free_or_feed_its_own_parser(rexx, call, refused):
    # The end of b comes in the token of b's start, whose label is kept: so is the end's
    # procedure. The end of a comes alone and runs while Expat waits.
    on_end = rexx_string(f"""signal on syntax name refused
say 'end' arg(2) {call} '.'
return
refused: say 'end' arg(2) 'refused' rc""")
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, 'OnStart', , 'internal', {on_end}, , 1
say 'parse' ExpatParse(p, '<a><b/></a>', 0)
call ExpatParserFree p
exit
OnStart: say 'start' arg(2); return
""")
    assert lines == ["start a", "start b", f"end b {refused}", f"end a {refused}", "parse 1"]


def test_parses_after_called_programs_left_from_labels(rexx):
    # Each level of a recursion hands a parser to a program that leaves from its label, as a
    # called program may; the parser is freed, and the next level goes one frame deeper.
    rexx.write("leaves.rexx", """parse arg p
call ExpatParse p, '<a/>', 0
return 'not reached'
Leave: exit 'left'
""")
    run = rexx("""
say deeper(1)
exit
deeper: procedure
  parse arg d
  p = ExpatParserCreate()
  call ExpatSetElementHandler p, 'Leave', , 'internal'
  call 'leaves.rexx' p
  if result \\== 'left' then return 'level' d 'answered' result
  call ExpatParserFree p
  if d < 110 then return deeper(d + 1)
  q = ExpatParserCreate()
  call ExpatSetElementHandler q, 'Fine', , 'internal'
  r = try('ExpatParse(q, "<z/>", 0)')
  call ExpatParserFree q
  return 'level' d 'parse' r
Fine: return
""")
    assert run.returncode == 0, run
    assert run.lines == ["level 110 parse 1"]


def text_events(group, events, text, before="", report="''"):
    """A program whose character-data handler is group gets this many events of text, fed in
    pieces of 100 elements; it says 'parse' with the result and the report, then its peak."""
    return f"""
{before}
p = ExpatParserCreate()
call ExpatSetCharacterDataHandler p, {group}
call ExpatParse p, '<doc>', 1
do i = 1 to {events} % 100
  call ExpatParse p, copies('<t>{text}</t>', 100), 1
end
say strip('parse' ExpatParse(p, '</doc>', 0) {report})
call ExpatParserFree p
""" + PEAK


@pytest.mark.parametrize("mode", ["instore", "external"])
def test_memory_of_procedures_with_many_loops_stays_bounded(rexx, mode):
    if not MEASURED:
        pytest.skip("memory is measured on plain runs only")
    # A handler of 40 small loops, each with a control variable of its own.
    group = handler(rexx, mode, "loops", "\n".join(f"do j{i} = 1 to 2; end" for i in range(40)))
    peaks = []
    for events in (1000, 30000):
        lines = rexx.ok(text_events(group, events, "xxxxxxxxxx"), timeout=600)
        assert lines[0] == "parse 1"
        peaks.append(int(lines[-1].split()[1]))
    # 29 000 more events: within the 4 MiB a helper may keep, and some.
    assert peaks[1] - peaks[0] < 8 * 1024, peaks


@pytest.mark.parametrize("mode", ["instore", "external"])
def test_counting_events_in_an_environment_variable_keeps_memory_flat(rexx, mode):
    # The manual's way to keep state between runs of procedures of their own: each event sets
    # the variable to a value it never had. The C library's setenv keeps every such string.
    if not MEASURED or wine.ENABLED:
        pytest.skip("memory is measured on plain Linux runs only")
    source = ("call value 'QM_SEEN', word(value('QM_SEEN', , 'ENVIRONMENT'), 1) + 1 "
              "copies('v', 100), 'ENVIRONMENT'")
    group = handler(rexx, mode, "seen", source)
    peaks = []
    for events in (5000, 100000):
        lines = rexx.ok(text_events(group, events, "x",
                                    before="call value 'QM_SEEN', 0, 'ENVIRONMENT'",
                                    report="'seen' word(value('QM_SEEN', , 'ENVIRONMENT'), 1)"),
                        timeout=600)
        assert lines[0] == f"parse 1 seen {events}"
        peaks.append(int(lines[-1].split()[1]))
    # 95 000 values of over 100 bytes each: about 13 MiB if each stayed.
    assert peaks[1] - peaks[0] < 4 * 1024, peaks


# Counts the lines the package hands to the interpreter's queues, and reports at exit.
QUEUE_COUNTER = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
typedef unsigned long (*Add)(char*, void*, unsigned long);
static unsigned long added;
unsigned long RexxAddQueue(char* queue, void* line, unsigned long order) {
    static Add next;
    if (!next) next = (Add)dlsym(RTLD_NEXT, "RexxAddQueue");
    ++added;
    return next(queue, line, order);
}
__attribute__((destructor)) static void report(void) {
    fprintf(stderr, "queued by the package: %lu\n", added);
}
"""


def test_queued_lines_are_carried_once_not_at_every_hand_off(rexx, tmp_path):
    if not MEASURED or wine.ENABLED:
        pytest.skip("the counter is preloaded into a plain Linux regina only")
    source = tmp_path / "counter.c"
    source.write_text(QUEUE_COUNTER)
    counter = tmp_path / "counter.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-o", str(counter), str(source), "-ldl"],
                   check=True)
    # A label and an in-store procedure on one parser: the parse runs on a helper, which hands
    # each of the 2 000 labels' events back to the program. Only the procedure's one run needs
    # the program's 5 000 lines: over to the helper before it, back at the next hand-back.
    run = rexx("""
do i = 1 to 5000; queue 'line' i; end
p = ExpatParserCreate()
call ExpatSetCommentHandler p, 'nop', , 1
call ExpatSetElementHandler p, 'OnStart', , 'internal'
ok = ExpatParse(p, '<a><!--once-->' || copies('<b/>', 2000) || '</a>', 0)
say 'parse' ok 'queued' queued()
parse pull first
say first
call ExpatParserFree p
exit
OnStart: return
""", env={"LD_PRELOAD": str(counter)})
    assert run.returncode == 0, run
    assert run.lines == ["parse 1 queued 5000", "line 1"]
    added = [int(line.split()[-1]) for line in run.errors
             if line.startswith("queued by the package:")]
    assert added and added[0] <= 2 * 5000, run.stderr
