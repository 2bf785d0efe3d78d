#!/usr/bin/env bash
# Compiles every source of the package for Windows (MinGW-w64), with the interpreter's and
# Expat's headers alone on the include path: the DLL build must not lean on Linux headers or on
# 64-bit lengths. No Windows libraries are at hand here, so nothing is linked.
set -euo pipefail
compiler=$1 source_dir=$2
include=$(mktemp -d)
trap 'rm -rf "$include"' EXIT
cp /usr/include/rexxsaa.h /usr/include/expat.h /usr/include/expat_external.h "$include"/
status=0
for f in "$source_dir"/{package,parser,handlers,varpool}/*.cpp; do
    "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror -fno-exceptions \
        -isystem "$include" "$f" || status=1
done
exit $status
