#!/usr/bin/env bash
# Builds the parser core, its C++ unit tests and the module with clang and
# LLVM's libc++ (Debian's libc++-dev, version 14), the oldest C++ runtime the
# sources are written for, then runs the C++ tests and the Python suite on
# CPython 3.14 against that module. A library feature the runtime lacks
# fails the build here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/libcxx
site=$build/site
flags="-stdlib=libc++"
cd "$root"

echo "== parser core and C++ unit tests with clang++ and libc++"
# the preset libcxx of CMakePresets.json, in build/libcxx/cpp
cmake --preset libcxx >/dev/null
cmake --build --preset libcxx -j2
ctest --preset libcxx

echo "== the module with clang++ and libc++, and the Python tests on 3.14"
venv=$("$root/scripts/bootstrap.sh" 3.14)
rm -rf "$site"
"$venv/bin/python" -m pip install -q --no-build-isolation --target "$site" \
    -C build-dir="$build/module" -C cmake.define.CMAKE_CXX_COMPILER=clang++ \
    -C cmake.define.CMAKE_CXX_FLAGS="$flags" -C cmake.define.MARQUILL_WERROR=ON "$root"
module=$(echo "$site"/marquill_parsing*.so)
# ldd's output is taken whole: with pipefail, `ldd | grep -q` fails whenever
# grep exits on the first match before ldd has written its last line.
linked=$(ldd "$module")
[[ $linked == *libc++* ]] || { echo "test-libcxx: $module does not link libc++" >&2; exit 1; }
# the readers of Arrow the column tests use, from their wheels, each
# required: a test of one missing fails rather than skips
"$venv/bin/python" -m pip install -q --only-binary :all: --target "$site" --group "$root/pyproject.toml:columns"
MARQUILL_READERS="pyarrow polars pandas duckdb dask" PYTHONPATH="$site" \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/tests/python" "$@"
