#!/usr/bin/env bash
# Checks Quillmark.dll's tables:
# - it exports exactly the package's entry points, under their plain names (no @N decoration, no
#   leading underscore), and nothing else: the names Regina looks up with GetProcAddress are the
#   ones the Linux build exports, listed in package/functions.h;
# - it imports from regina.dll and from DLLs every Windows has, and needs no MinGW runtime DLL
#   beside it (the C++ and GCC runtimes and winpthreads are linked in).
#   tests/windows_dll.sh DLL SOURCE_DIR
set -euo pipefail
dll=$1 source_dir=$2
status=0

# The package's entry points, one a line: the names of the list in package/functions.h.
package_functions() {
    grep -o 'X(Expat[A-Za-z]*)' "$source_dir/package/functions.h" | sed 's/^X(//; s/)$//'
}

table=$(x86_64-w64-mingw32-objdump -p "$dll")
exported=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' \
    <<< "$table" | sort)
imported=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$table" | sort -f)

expected=$(package_functions | sort)
if [ -z "$expected" ]; then
    echo "no function names read from $source_dir/package/functions.h" >&2
    exit 1
fi
if [ "$expected" != "$exported" ]; then
    echo "export table of $dll differs from the package's functions (< expected, > exported):" >&2
    diff <(echo "$expected") <(echo "$exported") >&2 || true
    status=1
else
    echo "exports: $(wc -l <<< "$exported") functions, as in package/functions.h"
fi

unexpected=$(grep -v -i -x -e regina.dll -e kernel32.dll -e msvcrt.dll <<< "$imported" || true)
if [ -n "$unexpected" ]; then
    echo "$dll needs DLLs that are not part of Windows or Regina:" $unexpected >&2
    status=1
else
    echo "imports:" $imported
fi
exit $status
