#!/usr/bin/env bash
# Cross-builds the parser core and its C++ unit tests for another target and
# runs them there: through qemu for aarch64-linux-gnu, wine for
# x86_64-w64-mingw32, natively for x86_64-linux-musl (linked statically; see
# test-musl.sh). Usage: test-cross.sh TARGET [CTEST ARGS...]
#
# TARGET names a toolchain file in cmake/toolchains/, which says how to
# compile and how to run, and the preset cross-TARGET of CMakePresets.json
# that builds with it; GoogleTest is built from source with the same
# compiler. The build is optimised, as the module ships, and warnings are
# errors, as in the native build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: test-cross.sh TARGET [CTEST ARGS...]}
shift
preset=cross-$target
build=$root/build/$preset
cd "$root"
[ -f "cmake/toolchains/$target.cmake" ] || { echo "test-cross.sh: no toolchain file cmake/toolchains/$target.cmake" >&2; exit 1; }

echo "== parser core and C++ unit tests for $target"
mkdir -p "$build"
cmake --preset "$preset" >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build --preset "$preset" -j2
ctest --preset "$preset" "$@"
# the kernels the tests found for the target (they check them)
grep -h -m1 "kernels:" "$build/Testing/Temporary/LastTest.log" | sed "s/^/== $target: /" || true
