"""The manual's examples as a reader uses them: each Rexx example pasted after the manual's
loading lines and run by `regina` with the package, each Python, Perl and Lua example (the
page for users of pyexpat, XML::Parser and lxp) run by its own interpreter, and what each
prints (standard output and standard error together, as a terminal shows them) compared with
the `output` block written right after it."""

import re
import subprocess

import pytest

import conftest
from conftest import FUNCTIONS, SOURCE_DIR

MANUAL = (SOURCE_DIR / "docs" / "manual.md").read_text(encoding="utf-8")

# The command that runs an example of each language, given its file.
RUNNERS = {
    "rexx": lambda path: conftest.regina_command(path),
    "python": lambda path: ["/usr/bin/python3", str(path)],
    "perl": lambda path: ["perl", str(path)],
    "lua": lambda path: ["lua5.4", str(path)],
}
SUFFIXES = {"rexx": "rexx", "python": "py", "perl": "pl", "lua": "lua"}


def fenced_blocks(text):
    """(language, body, heading) of every fenced block, in order; heading is the section's."""
    found = []
    heading = ""
    lines = text.splitlines(keepends=True)
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("#"):
            heading = line.lstrip("#").strip()
        opening = re.match(r"^```(\w*)\n$", line)
        if opening:
            body = []
            i += 1
            while lines[i] != "```\n":
                body.append(lines[i])
                i += 1
            found.append((opening.group(1), "".join(body), heading))
        i += 1
    return found


BLOCKS = fenced_blocks(MANUAL)
LOADING = BLOCKS[0][1]


def examples():
    """(id, language, program, expected lines): every program block and the output block after
    it. The first Rexx block is the loading lines, which test_readme.py runs."""
    cases = []
    for n, (language, body, heading) in enumerate(BLOCKS[1:], start=1):
        if language not in RUNNERS:
            continue
        following = BLOCKS[n + 1] if n + 1 < len(BLOCKS) else ("", "", "")
        expected = following[1].splitlines() if following[0] == "output" else None
        cases.append((f"{heading} {n}", language, body, expected))
    return cases


EXAMPLES = examples()


def test_the_first_rexx_block_is_the_loading_lines():
    assert BLOCKS[0][0] == "rexx" and "RxFuncAdd('ExpatLoadFuncs'" in LOADING


def test_fenced_blocks_are_programs_or_their_output():
    # A block of another kind would be neither run nor checked.
    assert {language for language, _, _ in BLOCKS} <= set(RUNNERS) | {"output", "sh"}


@pytest.mark.parametrize("name,language,program,expected", EXAMPLES,
                         ids=[c[0] for c in EXAMPLES])
def test_manual_example(rexx, name, language, program, expected):
    assert expected is not None, f"no output block after the example in {name}"
    if language == "rexx":
        program = LOADING + program
    path = rexx.write(f"example.{SUFFIXES[language]}", program)
    proc = subprocess.run(RUNNERS[language](path), cwd=rexx.folder, env=rexx.env(),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    assert proc.stdout.decode("utf-8").splitlines() == expected
    assert proc.returncode == 0


def headings():
    return re.findall(r"^### (Expat\w+)$", MANUAL, re.M)


def test_every_function_has_one_entry():
    assert sorted(headings()) == sorted(FUNCTIONS)


@pytest.mark.parametrize("function", FUNCTIONS)
def test_every_function_entry_has_a_synopsis_and_an_example_that_calls_it(function):
    entry = MANUAL.split(f"\n### {function}\n", 1)[1].split("\n#", 1)[0]
    synopsis = entry.strip().splitlines()[0]
    assert re.fullmatch(rf"`(\w+ = |call )?{function}\b.*`", synopsis), synopsis
    programs = [body for language, body, _ in fenced_blocks(entry) if language == "rexx"]
    assert any(re.search(rf"\b{function}\b", body) for body in programs), function


def slug(heading):
    """The anchor a Markdown renderer gives a heading."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def test_links_within_the_manual_name_its_headings():
    anchors = {slug(h) for h in re.findall(r"^#+ (.*)$", MANUAL, re.M)}
    links = set(re.findall(r"\]\(#([^)]+)\)", MANUAL))
    assert links and links <= anchors, links - anchors
