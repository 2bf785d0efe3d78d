# shellcheck shell=bash
# Sourced by bench/run and bench/profile: installs what they need (Debian bookworm, as root),
# builds the library and the bare loops in build-bench/, and sets the paths they share.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
"$root/scripts/need" g++ cmake make libexpat1-dev libregina3-dev regina-rexx python3 "$@"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMARK_TESTS=OFF \
    -DQUILLMARK_BENCH=ON >/dev/null
cmake --build build-bench -j2 --target quillmark quillbench rexxstart_loop expat_loop >/dev/null

build=$root/build-bench
out=$build/results
docs=$build/documents
mkdir -p "$out" "$docs"
export REGINA_ADDON_DIR=$build REGINA_MACROS=$root/bench
# Debian's own interpreter (and its pyexpat), whatever else is first on PATH.
py=/usr/bin/python3
handle=0x9e3779b97f4a7c15 # what the package hands its first parser's procedures

document() { # KIND SIZE: the path of that generated document, made once
    local path=$docs/$1-$2.xml
    [ -s "$path" ] || "$py" bench/gendoc.py "$1" "$2" "$path"
    echo "$path"
}
events_in() { # DOCUMENT: start, end and character-data events, as Expat reports them
    "$build/bench/expat_loop" count "$1" | awk '{print $4}'
}
# The bare loops: COUNT calls with the arguments of the items document's events, run under the
# command PREFIX (valgrind ...) when one is given.
bare_rexxstart() { # COUNT [PREFIX...]
    local count=$1
    shift
    "$@" "$build/bench/rexxstart_loop" 'parse arg h, a' "$count" "$handle" item text item $'\n'
}
bare_callback() { # COUNT [PREFIX...]
    local count=$1
    shift
    "$@" regina bench/callback.rexx "$count" "$handle"
}
