"""The example programs' command lines and loading lines (what each example prints for its
documents is tested with the part of the package it shows, and in test_readme.py)."""

import subprocess

import pytest

import conftest
from conftest import SOURCE_DIR

EXAMPLES = SOURCE_DIR / "examples"
XMLCHECK = EXAMPLES / "xmlcheck.rexx"

# A document of several 64 KiB pieces, whole and cut short in its last piece.
BIG = "<list>\n" + "".join(f'  <item n="{i}">entry {i}</item>\n' for i in range(6000)) + "</list>\n"
DOCUMENTS = {"ok.xml": "<a/>", "bad.xml": "<a>", "my  notes.xml": "<a>b</a>", "big.xml": BIG,
             "big-cut.xml": BIG[:-8]}


def run(folder, *arguments, env=None):
    proc = subprocess.run(conftest.regina_command(*arguments), cwd=folder, capture_output=True,
                          timeout=300, env=env)
    return proc.returncode, proc.stdout.decode("utf-8").splitlines(), proc.stderr


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


@pytest.mark.parametrize("example", ["outline.rexx", "xmlcheck.rexx", "settings.rexx",
                                     "encodings.rexx"])
def test_example_says_why_it_cannot_load_the_package(rexx, example):
    catalog = EXAMPLES / "samples" / "catalog.xml"
    result = run(rexx.folder, EXAMPLES / example, catalog, env=conftest.without_the_package(rexx))
    assert result == (2, [conftest.NOT_LOADED], b"")
