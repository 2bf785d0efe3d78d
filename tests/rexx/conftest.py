"""Runs Rexx programs through the real `regina` interpreter against the freshly built package.

Every program gets a prologue that loads the package by its library name and an epilogue of
small helper routines. The package is found through REGINA_ADDON_DIR, which Regina searches
before anything installed. Handler programs for external mode live in the test's own folder,
which is put on REGINA_MACROS.

Set QUILLMARK_VALGRIND=1 to run every interpreter under valgrind memcheck; a report then fails
the test. Set QUILLMARK_WINDOWS_REGINA to run the Windows build under wine instead (wine.py).
"""

import os
import pathlib
import re
import subprocess

import pytest

import wine

BUILD_DIR = pathlib.Path(os.environ.get("QUILLMARK_BUILD_DIR", pathlib.Path(__file__).parents[2] / "build")).resolve()
SOURCE_DIR = pathlib.Path(__file__).parents[2]
VALGRIND = os.environ.get("QUILLMARK_VALGRIND") == "1"
# Under the sanitizers (scripts/hardening) regina carries ASan, which valgrind cannot run.
SANITIZED = os.environ.get("QUILLMARK_SANITIZED") == "1"
SUPPRESSIONS = SOURCE_DIR / "tests" / "valgrind.supp"

# The package's functions, from the one list in package/functions.h; ExpatLoadFuncs first.
FUNCTIONS = re.findall(r"X\((Expat\w+)\)", (SOURCE_DIR / "package" / "functions.h").read_text())

# A parser handle as the package writes it: the C library's "%p" (package/platform.h).
HANDLE = wine.HANDLE if wine.ENABLED else re.compile(r"0x[0-9a-f]+")


def rexx_path(path):
    """A file's path as the interpreter under test names it."""
    return wine.windows_path(path) if wine.ENABLED else str(path)


PROLOGUE = """options NOEXT_COMMANDS_AS_FUNCS
call RxFuncAdd 'ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs'
call ExpatLoadFuncs
"""

# try(expr): the value of a function call, or "ERROR n" when it raises Rexx error n (an
# external function answering 40 raises error 40). Variables are shared with the caller. Every
# program the tests run has it; handler sources that need it add TRY at their end.
TRY = """try:
  parse arg __expr
  signal on syntax name __tryfail
  interpret '__r =' __expr
  signal off syntax
  return __r
__tryfail:
  return 'ERROR' rc
"""
EPILOGUE = "\nexit 0\n" + TRY


def pytest_sessionstart(session):
    if wine.ENABLED:
        wine.start_server()


def pytest_sessionfinish(session):
    if wine.ENABLED:
        wine.stop_server()


class Run:
    def __init__(self, proc):
        self.returncode = proc.returncode
        self.stdout = proc.stdout
        self.stderr = proc.stderr
        self.lines = proc.stdout.decode("latin-1").splitlines()
        self.errors = proc.stderr.decode("latin-1").splitlines()

    def __repr__(self):
        return f"<Run rc={self.returncode} stdout={self.stdout!r} stderr={self.stderr!r}>"


def regina_command(*arguments, valgrind=False):
    """The command that runs regina with these arguments (a program and its own arguments, or
    regina's options first), under valgrind when QUILLMARK_VALGRIND=1 or valgrind=True."""
    if wine.ENABLED:
        return wine.regina_command(arguments, VALGRIND or valgrind)
    cmd = ["regina"] + [str(a) for a in arguments]
    if VALGRIND or (valgrind and not SANITIZED):
        # Commands a program runs fork first: valgrind stays out of those children.
        vg = ["valgrind", "--quiet", "--error-exitcode=99", "--child-silent-after-fork=yes",
              "--leak-check=full", "--errors-for-leak-kinds=definite",
              "--show-leak-kinds=definite"]
        if SUPPRESSIONS.exists():
            vg.append(f"--suppressions={SUPPRESSIONS}")
        cmd = vg + cmd
    return cmd


class Rexx:
    """rexx(body) runs body as a main program and answers its Run."""

    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.labels = []

    def label(self, name, source, expose=""):
        """Adds `name:` with source (its own variables, but for expose) to the next program;
        answers the setter arguments that name it as a handler."""
        procedure = f"procedure expose {expose}" if expose else "procedure"
        self.labels.append(f"{name}: {procedure}\n{source}\nreturn\n")
        return f"'{name}', , 'internal'"

    def env(self, extra=None):
        env = dict(os.environ)
        env["REGINA_ADDON_DIR"] = str(BUILD_DIR)
        env["REGINA_MACROS"] = str(self.folder)
        env.pop("REGINA_OPTIONS", None)
        if wine.ENABLED:
            env.update(wine.environment(BUILD_DIR, self.folder))
        if extra:
            env.update(extra)
        return env

    def write(self, name, text):
        path = self.folder / name
        path.write_text(text, encoding="latin-1")
        return path

    def __call__(self, body, *, prologue=PROLOGUE, env=None, stdin=None, timeout=300, args=(),
                 valgrind=False, line_end="\n"):
        """valgrind=True runs this program under valgrind memcheck whatever the suite does, for
        faults that show only there; line_end is what ends each line of the program's file."""
        self.count += 1
        labels, self.labels = "".join(self.labels), []
        text = prologue + body + EPILOGUE + labels
        program = self.write(f"main{self.count}.rexx", text.replace("\n", line_end))
        proc = subprocess.run(regina_command(program, valgrind=valgrind) + list(args), cwd=self.folder,
                              env=self.env(env), input=stdin, capture_output=True,
                              timeout=timeout)
        return Run(proc)

    def ok(self, body, **kw):
        """Runs body, expects a clean exit and nothing on stderr, answers stdout lines."""
        run = self(body, **kw)
        assert run.returncode == 0, run
        assert run.errors == [], run
        return run.lines


@pytest.fixture
def rexx(tmp_path):
    return Rexx(tmp_path)


def cache_value(name):
    """The value of a variable in the build's CMakeCache.txt."""
    for line in (BUILD_DIR / "CMakeCache.txt").read_text().splitlines():
        if line.split(":", 1)[0] == name and "=" in line:
            return line.split("=", 1)[1]
    raise KeyError(name)


def rexx_string(text):
    """A Rexx expression for text, lines joined with '0a'x (for in-store handler sources)."""
    parts = []
    for line in text.strip("\n").split("\n"):
        parts.append("'" + line.replace("'", "''") + "'")
    return " || '0a'x || ".join(parts) if parts else "''"


# What a program that checks RxFuncAdd says when Regina cannot find the library.
NOT_LOADED = ("cannot load quillmark: dlopen() failed: libquillmark.so: cannot open shared "
              "object file: No such file or directory")


def without_the_package(rexx):
    """An environment in which Regina cannot find libquillmark.so; skips where it is installed."""
    installed = os.path.join(cache_value("QUILLMARK_ADDON_DIR"), "libquillmark.so")
    if os.path.exists(installed):
        pytest.skip(f"{installed} is installed")
    empty = rexx.folder / "empty"
    empty.mkdir()
    env = rexx.env({"REGINA_ADDON_DIR": str(empty)})
    env.pop("LD_LIBRARY_PATH", None)
    return env
