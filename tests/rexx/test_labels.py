"""Labels of the program as handlers, as Regina's RexxCallBack finds them.

Labels inside a DO, SELECT or IF group must never reach RexxCallBack: Regina answers "not
found" for them, but releases a string twice on the way, and the program crashes a few clauses
later. The package finds such labels by reading the running program's source; these programs
give it sources that are hard to read, or none it can trust.
"""

import subprocess

import pytest

from conftest import PROLOGUE, EPILOGUE, regina_command, rexx_string

# Parses with the label L as start handler, then works the interpreter's memory: after a call
# of a grouped label through RexxCallBack the string work crashes.
GROUPED_USER = """
do k = 1 to 20
  p = ExpatParserCreate()
  call ExpatSetElementHandler p, 'L', , 'internal'
  r = ExpatParse(p, '<a><b/></a>', 0)
  call ExpatParserFree p
  s.k = copies('x', k) || k
end
t = ''
do k = 1 to 20; t = t || s.k; end
say 'parse' r 'alive' length(t)
"""
ALIVE = f"parse 0 alive {sum(k + len(str(k)) for k in range(1, 21))}"
LABEL_NOT_FOUND = 'Quillmark (Error -16): rexx interpreter error (StartElement handler "L")'


def grouped_label(opening, closing="end"):
    return f"""exit
{opening}
L: procedure
  say 'never' arg(2)
  return
{closing}
"""


# The label stands in a group whose DO follows THEN or ELSE on a continued line; the file's
# lines end in LF, or in CR LF as files written on Windows do.
@pytest.mark.parametrize("line_end", [pytest.param("\n", id="lf"), pytest.param("\r\n", id="crlf")])
@pytest.mark.parametrize("opening,closing", [
    pytest.param("if 1 then do", "end", id="plain"),
    pytest.param("if 1 then,\n  do", "end", id="then"),
    pytest.param("if 0 then nop\nelse,\n  do", "end", id="else"),
    pytest.param("if 1 then /* c */ ,\n  do", "end", id="then-comment"),
    pytest.param("if 1 = 1 ,\n  & 2 = 2 then do", "end", id="condition"),
    # the missed DO's END closes the outer group in the scan: L is read as outside it
    pytest.param("do 1\n  if 1 then,\n    do\n    end", "end",
                 id="after-inner-group"),
])
def test_label_in_a_group_opened_on_a_continued_line(rexx, opening, closing, line_end):
    run = rexx(GROUPED_USER + grouped_label(opening, closing), line_end=line_end)
    assert run.returncode == 0, run
    assert run.lines == [ALIVE]
    assert set(run.errors) == {LABEL_NOT_FOUND}


# When the source cannot be read, or changed after the program started, nothing tells where the
# label stands: the package asks for no label then, and says why.
@pytest.mark.parametrize("how", ["deleted", "rewritten", "stdin"])
def test_label_in_a_group_of_a_program_whose_file_is_gone(rexx, how):
    before = {
        "deleted": "parse source . . me\naddress system 'rm' me\n",
        "rewritten": ("parse source . . me\n"
                      "address system \"sed -i 's/^if 1 then do$/nop/' \" me\n"),
        "stdin": "",
    }[how]
    body = before + GROUPED_USER + grouped_label("if 1 then do")
    if how == "stdin":
        proc = subprocess.run(regina_command("-"), cwd=rexx.folder, env=rexx.env(),
                              input=(PROLOGUE + body + EPILOGUE).encode(), capture_output=True,
                              timeout=300)
        returncode, lines = proc.returncode, proc.stdout.decode().splitlines()
        errors = proc.stderr.decode().splitlines()
    else:
        run = rexx(body)
        returncode, lines, errors = run.returncode, run.lines, run.errors
    assert returncode == 0, (returncode, lines, errors)
    assert lines == [ALIVE]
    assert set(errors) == {LABEL_NOT_FOUND[:-1] + ": the program's source cannot be read, or "
                           "changed after it started)"}


# A file dated later than now (unpacked from a machine whose clock runs ahead) was not changed
# while the program ran: its labels are called.
def test_labels_of_a_program_file_dated_in_the_future(rexx):
    lines = rexx.ok("""
parse source . . me
address system 'touch -d "+1 hour"' me
p = ExpatParserCreate()
call ExpatSetElementHandler p, 'OnStart', , 'internal'
say 'parse' ExpatParse(p, '<a><b/></a>', 0)
call ExpatParserFree p
exit
OnStart: say 'start' arg(2); return
""")
    assert lines == ["start a", "start b", "parse 1"]


# An in-store procedure calls a program file that parses with its own labels.
def test_label_in_a_group_of_a_program_called_by_an_in_store_procedure(rexx):
    rexx.write("parses.rexx", GROUPED_USER + "return\n" + grouped_label("if 1 then do"))
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetCommentHandler p, {rexx_string("call 'parses.rexx'")}, , 1
say 'outer' ExpatParse(p, '<a><!--c--></a>', 0)
call ExpatParserFree p
""")
    assert run.returncode == 0, run
    assert run.lines == [ALIVE, "outer 1"]
    assert set(run.errors) == {LABEL_NOT_FOUND}


def test_label_with_a_long_name(rexx):
    # Regina takes labels of this length.
    long = "L" + "x" * 299
    short = long[:255]
    lines = rexx.ok(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, '{long}', , 'internal'
say 'parse' ExpatParse(p, '<a/>', 0)
call ExpatParserFree p
call {long} 'handle', 'by call'
exit
{short}: say 'the short one' arg(2); return
{long}: say 'the long one' arg(2); return
""")
    assert lines == ["the long one a", "parse 1", "the long one by call"]
