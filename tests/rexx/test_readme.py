"""The README and the manual as a user reads them: the Rexx programs they show run as they
say, and every example command of the README prints exactly what the README shows after it
(in its `console` blocks, a line `$ COMMAND` and then the output; a command that ends in
`; echo "exit $?"` shows its exit status last, any other must exit 0; a command that ends in
`2>&1` shows its standard error with its standard output, any other must write nothing
there)."""

import glob
import re
import shlex
import subprocess

import pytest

import conftest
from conftest import SOURCE_DIR

README = (SOURCE_DIR / "README.md").read_text(encoding="utf-8")
MANUAL = (SOURCE_DIR / "docs" / "manual.md").read_text(encoding="utf-8")
SHOW_EXIT = '; echo "exit $?"'
SHOW_ERRORS = " 2>&1"


def blocks(text, language):
    return re.findall(rf"^```{language}\n(.*?)^```$", text, re.M | re.S)


def console_commands(text):
    commands = []
    for block in blocks(text, "console"):
        for line in block.splitlines():
            if line.startswith("$ "):
                commands.append((line[2:], []))
            else:
                commands[-1][1].append(line)
    return commands


COMMANDS = console_commands(README)


def command_words(command):
    """The words of a README command without the suffixes the test understands."""
    return shlex.split(command.removesuffix(SHOW_EXIT).removesuffix(SHOW_ERRORS))


def test_the_readme_shows_a_command_for_each_example():
    shown = {command_words(command)[1] for command, _ in COMMANDS}
    assert shown == {f"examples/{p.name}" for p in (SOURCE_DIR / "examples").glob("*.rexx")}


@pytest.mark.parametrize("command,expected", COMMANDS, ids=[c for c, _ in COMMANDS])
def test_readme_command(rexx, command, expected):
    words = command_words(command)
    assert words[0] == "regina"
    arguments = []
    for word in words[1:]:
        arguments += sorted(glob.glob(word, root_dir=SOURCE_DIR)) if "*" in word else [word]
    errors = subprocess.STDOUT if command.endswith(SHOW_ERRORS) else subprocess.PIPE
    proc = subprocess.run(conftest.regina_command(*arguments), cwd=SOURCE_DIR, env=rexx.env(),
                          stdout=subprocess.PIPE, stderr=errors, timeout=300)
    lines = proc.stdout.decode("utf-8").splitlines()
    if command.endswith(SHOW_EXIT):
        lines.append(f"exit {proc.returncode}")
    else:
        assert proc.returncode == 0, proc
    assert proc.stderr in (None, b""), proc
    assert lines == expected


def test_readme_program(rexx):
    (program,) = blocks(README, "rexx")
    assert rexx.ok(program, prologue="") == ["start doc", "start item"]


def test_readme_program_says_why_it_cannot_load_the_package(rexx):
    (program,) = blocks(README, "rexx")
    path = rexx.write("readme.rexx", program)
    proc = subprocess.run(conftest.regina_command(path), cwd=rexx.folder, capture_output=True,
                          timeout=300, env=conftest.without_the_package(rexx))
    assert (proc.returncode, proc.stdout.decode().splitlines(), proc.stderr) == (
        1, [conftest.NOT_LOADED], b"")


def test_manual_loading_lines(rexx):
    loading = blocks(MANUAL, "rexx")[0]
    assert rexx.ok(loading + "p = ExpatParserCreate()\nsay p \\= 0\ncall ExpatParserFree p\n",
                   prologue="") == ["1"]


def test_the_loading_lines_of_readme_and_manual_are_the_same():
    (program,) = blocks(README, "rexx")
    assert program.startswith(blocks(MANUAL, "rexx")[0])
