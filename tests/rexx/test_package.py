"""Loading and registration, the exported symbols, and the argument-count rules."""

import subprocess

import pytest

import wine
from conftest import BUILD_DIR, FUNCTIONS, HANDLE, rexx_string

# What ExpatLoadFuncs registers: every function but itself.
REGISTERED = FUNCTIONS[1:]


@pytest.mark.skipif(wine.ENABLED, reason="tests/windows_dll.sh checks Quillmark.dll's table")
def test_exports_exactly_the_entry_points():
    out = subprocess.run(["nm", "-D", "--defined-only", str(BUILD_DIR / "libquillmark.so")],
                         capture_output=True, text=True, check=True).stdout
    exported = sorted(line.split()[-1] for line in out.splitlines() if line.strip())
    assert FUNCTIONS[0] == "ExpatLoadFuncs" and len(FUNCTIONS) == 39
    assert exported == sorted(FUNCTIONS)


def load_way(how, folder):
    """The library argument of RxFuncAdd and the environment that find the package one way."""
    if wine.ENABLED:
        return wine.load_way(how, BUILD_DIR, folder)
    if how == "addon-dir":
        return "'quillmark'", None
    env = {"REGINA_ADDON_DIR": "/nonexistent"}
    if how == "ld-library-path":
        env["LD_LIBRARY_PATH"] = str(BUILD_DIR)
        return "'quillmark'", env
    return f"'{BUILD_DIR}/libquillmark.so'", env


# Every way Regina finds the package must register all 38 functions. The ways differ: Regina on
# Linux looks in REGINA_ADDON_DIR and on the ld.so path, Windows Regina leaves the search to
# LoadLibrary (PATH, the current folder).
@pytest.mark.parametrize("how", wine.LOAD_WAYS if wine.ENABLED else
                         ["addon-dir", "ld-library-path", "file-path"])
def test_loads_and_registers_every_function(rexx, how):
    library, env = load_way(how, rexx.folder)
    names = " ".join(REGISTERED)
    lines = rexx.ok(f"""
call RxFuncAdd 'ExpatLoadFuncs', {library}, 'ExpatLoadFuncs'
call ExpatLoadFuncs
say 'load' length(result)
names = '{names}'
missing = ''
do i = 1 to words(names)
  if RxFuncQuery(word(names, i)) then missing = missing word(names, i)
end
say 'missing:'strip(missing)
p = ExpatParserCreate()
say ExpatParse(p, '<a/>', 0) ExpatParserFree(p)
""", prologue="options NOEXT_COMMANDS_AS_FUNCS\n", env=env)
    assert lines == ["load 0", "missing:", "1 "]


def test_loading_twice_and_from_handlers_is_harmless(rexx):
    # Handler procedures usually start with the same load lines as the main program.
    handler = rexx_string_load()
    lines = rexx.ok(f"""
call ExpatLoadFuncs
say 'again' length(result)
p = ExpatParserCreate()
call ExpatSetElementHandler p, {handler}, , 1
say ExpatParse(p, '<a><b/></a>', 0)
call ExpatParserFree p
""")
    assert lines == ["again 0", "in a 0", "in b 0", "1"]


def rexx_string_load():
    from conftest import rexx_string
    return rexx_string("""
call RxFuncAdd 'ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs'
call ExpatLoadFuncs
say 'in' arg(2) length(result)
""")


def test_drop_then_load_again(rexx):
    lines = rexx.ok("""
call ExpatDropFuncs
say 'drop' length(result)
say try('ExpatParserCreate()')
say RxFuncQuery('ExpatDropFuncs') RxFuncQuery('ExpatLoadFuncs')
call ExpatLoadFuncs
p = ExpatParserCreate()
say p '['ExpatParserFree(p)']'
""")
    assert lines[:3] == ["drop 0", "ERROR 43", "1 0"]
    # The handle's text is the C library's "%p", which differs between Linux and Windows.
    handle, freed = lines[3].split()
    assert HANDLE.fullmatch(handle) and freed == "[]", lines


# Dropping the package's functions while a handler runs makes Regina unload the library; the
# package must stay loaded while its code is on the stack.
@pytest.mark.parametrize("in_program,in_handler", [
    ("call RxFuncDrop 'ExpatLoadFuncs'", "call ExpatDropFuncs"),
    ("", "call ExpatDropFuncs; call RxFuncDrop 'ExpatLoadFuncs'"),
])
def test_dropping_the_functions_during_a_parse(rexx, in_program, in_handler):
    handler = rexx_string(f"say 'start' arg(2); {in_handler}")
    run = rexx(f"""
p = ExpatParserCreate()
call ExpatSetElementHandler p, {handler}, , 1
{in_program}
say 'parse' ExpatParse(p, '<a><b/></a>', 0)
say 'alive'
""")
    assert run.returncode == 0, run
    assert run.lines == ["start a", "start b", "parse 1", "alive"]


# (call, valid?) for each function with one argument too many or too few, omitted where a
# given one is needed, and the accepted borderline forms.
ARGUMENT_CASES = [
    ("ExpatParserFree()", False),
    ("ExpatParserFree(p, 1)", False),
    ("ExpatParse(p, '<a/>')", False),
    ("ExpatParse(p, '<a/>', 0, 1)", False),
    ("ExpatParse(p, , 0)", False),
    ("ExpatParse(, '<a/>', 0)", False),
    ("ExpatParse('', '<a/>', 0)", False),
    ("ExpatGetErrorCode()", False),
    ("ExpatGetErrorCode(p, p)", False),
    ("ExpatGetCurrentLineNumber('')", False),
    ("ExpatGetBase(p, 1)", False),
    ("ExpatErrorString()", False),
    ("ExpatErrorString(1, 2)", False),
    ("ExpatErrorString(,)", False),
    ("ExpatSetBase(p)", False),
    ("ExpatSetBase(p, )", False),
    ("ExpatSetEncoding(p)", False),
    ("ExpatSetParamEntityParsing(p, '')", False),
    ("ExpatSetParamEntityParsing(p)", False),
    ("ExpatExternalEntityParserCreate(p, 'c')", False),
    ("ExpatExternalEntityParserCreate(p, , '')", False),
    ("ExpatExternalEntityParserCreate(p, '', )", False),
    ("ExpatSetCommentHandler()", False),
    ("ExpatSetVariablePool()", False),
    ("ExpatGetVariablePool(p, 1)", False),
    ("ExpatFreeVariablePool(p, 1)", False),
    ("ExpatErrorString('')", True),
    ("ExpatSetBase(p, '')", True),
    ("ExpatSetEncoding(p, '')", True),
    ("ExpatParse(p, '', '')", True),
    # Regina does not count trailing omitted arguments: this is a call with two.
    ("ExpatParse(p, '', )", False),
]


@pytest.mark.parametrize("call,valid", ARGUMENT_CASES, ids=[c for c, _ in ARGUMENT_CASES])
def test_argument_rules(rexx, call, valid):
    lines = rexx.ok(f"""
p = ExpatParserCreate()
r = try("{call}")
say (left(r, 5) = 'ERROR') r
""")
    if valid:
        assert lines[0].startswith("0 "), lines
    else:
        assert lines == ["1 ERROR 40"]
