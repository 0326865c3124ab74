#!/usr/bin/env bash
# Cross-builds the parser core and its C++ unit tests for another target and
# runs them there: through qemu for aarch64-linux-gnu, wine for
# x86_64-w64-mingw32, natively for x86_64-linux-musl (linked statically; see
# test-musl.sh). Usage: test-cross.sh TARGET [CTEST ARGS...]
#
# TARGET names a toolchain file in cmake/toolchains/, which says how to
# compile and how to run; GoogleTest is built from source with the same
# compiler. The build is optimised, as the module ships, and warnings are
# errors, as in the native build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: test-cross.sh TARGET [CTEST ARGS...]}
shift
toolchain=$root/cmake/toolchains/$target.cmake
[ -f "$toolchain" ] || { echo "test-cross.sh: no toolchain file $toolchain" >&2; exit 1; }
build=$root/build/cross-$target

echo "== parser core and C++ unit tests for $target"
mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMARQUILL_BUILD_MODULE=OFF -DBUILD_TESTING=ON -DMARQUILL_WERROR=ON >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure "$@"
# the kernels the tests found for the target (they check them)
grep -h -m1 "kernels:" "$build/Testing/Temporary/LastTest.log" | sed "s/^/== $target: /" || true
