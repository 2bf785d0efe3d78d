"""Runs the Rexx tests against the Windows build: the cross-built regina.exe, under wine, loading
Quillmark.dll (scripts/windows builds both and runs the Windows subset this way).

Set QUILLMARK_WINDOWS_REGINA to the path of regina.exe and QUILLMARK_BUILD_DIR to the folder of
Quillmark.dll, and WINEPREFIX to a prefix of the build's own; conftest.py then runs every
program with `wine regina.exe`. What differs from Linux, and is handled here:

- Windows Regina hands the library name of RxFuncAdd to LoadLibrary, which searches the folder
  of regina.exe, the current folder and PATH; REGINA_ADDON_DIR means nothing to it. The runs put
  the DLL's folder on the Windows PATH through WINEPATH.
- Windows programs see Linux paths through wine's drive Z: (the root of the file system), so
  every path handed to regina.exe, in its arguments or in REGINA_MACROS, is written Z:\\...
- Tests that run regina under valgrind check the Linux build: they are skipped here.
"""

import os
import pathlib
import re
import shutil
import subprocess

import pytest

REGINA = os.environ.get("QUILLMARK_WINDOWS_REGINA")
ENABLED = bool(REGINA)
LIBRARY_FILE = "Quillmark.dll"

# The package writes a handle with "%p" of MinGW-w64's own printf (its C++ headers select it
# over the Windows C library's): 16 lower-case hex digits, zero-padded, no 0x prefix.
HANDLE = re.compile(r"[0-9a-f]{16}")

# wine maps Windows' shared user data at the fixed address 0x7ffe0000 when a process starts. The
# kernel places the start of wine's heap at random within 1 GiB above its loader, so about one
# start in several thousand finds that address taken: wine prints "failed to map the shared user
# data" (only with its err messages on) and exits 1 before the program runs. With address space
# randomisation off the heap always starts just above the loader.
WINE = ["setarch", "-R", "wine"]

# The ways LoadLibrary finds the package by name or path (see load_way).
LOAD_WAYS = ["path", "current-folder", "file-path", "renamed-file-path"]


def windows_path(path):
    """path as a Windows program under wine sees it: Z: is the root of the Linux file system."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def regina_command(arguments, valgrind):
    """wine running regina.exe with these arguments; paths given as path objects are written as
    Windows paths, text is passed as it is."""
    if valgrind:
        pytest.skip("valgrind checks the Linux build")
    return WINE + [REGINA] + [windows_path(a) if isinstance(a, os.PathLike) else str(a)
                              for a in arguments]


def environment(build_dir, macros_dir):
    """What a run of regina.exe needs on top of the caller's environment."""
    return {
        "WINEPATH": windows_path(build_dir),
        "WINEDEBUG": "-all",
        "REGINA_MACROS": windows_path(macros_dir),
    }


def load_way(how, build_dir, folder):
    """The library argument of RxFuncAdd and the environment that find the package one way."""
    dll = pathlib.Path(build_dir) / LIBRARY_FILE
    if how == "path":
        return "'quillmark'", None
    off_path = {"WINEPATH": ""}
    if how == "current-folder":  # the folder the program runs in
        shutil.copy(dll, folder)
        return "'quillmark'", off_path
    if how == "renamed-file-path":
        # LoadLibrary("quillmark") finds a loaded Quillmark.dll by its name, wherever it was
        # loaded from; under another name only the file's own path registers the functions.
        dll = shutil.copy(dll, pathlib.Path(folder) / "renamed.dll")
    return f"'{windows_path(dll)}'", off_path


def start_server():
    """Starts the prefix's wineserver for the whole session, creating the prefix if need be.
    Started by a test's run instead, the server would bring up wine's own services with that
    run's output pipes, which they hold open for seconds after the program ended, and end with
    them: every run would then take about 3 s instead of 0.1 s."""
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        raise pytest.UsageError("set WINEPREFIX to a wine prefix for the Windows build")
    os.makedirs(prefix, exist_ok=True)
    subprocess.run(["wineserver", "-p"], check=True)
    # A new prefix is made here (about 10 s), without the Mono and Gecko installers.
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    subprocess.run(WINE + ["wineboot"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)


def stop_server():
    subprocess.run(["wineserver", "-k"], check=False)
