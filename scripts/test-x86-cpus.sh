#!/usr/bin/env bash
# The C++ tests, built as the module is (Release), run under qemu's x86-64
# user-mode emulator on processors without AVX-512 (Haswell) and without AVX
# (Nehalem): the kernel chosen must be the fastest each one runs, and no
# instruction it lacks may run, in the kernels or in anything around them.
# First, optimised and not, with g++ and clang++: the AVX2 and AVX-512 kernel
# files may define no function outside their unnamed namespace, since the
# linker could hand such a copy, built for their instruction set, to code that
# runs without it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/x86-cpus
cd "$root"
for preset in x86-cpus x86-cpus-debug; do  # CMakePresets.json, into build/PRESET
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j2
done
# The kernel files alone with clang++ as well, optimised and not.
for type in Release Debug; do
    cmake -S "$root" -B "$build-clang-$type" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=$type \
        -DMARQUILL_BUILD_MODULE=OFF >/dev/null
    cmake --build "$build-clang-$type" -j2 --target marquill_kernels
done
# Unoptimised, clang gives each file whose noexcept functions call functions
# that are not a copy of its terminate handler, __clang_call_terminate: a
# push and two calls, with no instruction of any set.
for dir in "$build" "$build-debug" "$build-clang-Release" "$build-clang-Debug"; do
    shared=$(nm -C --defined-only "$dir"/CMakeFiles/marquill_kernels.dir/src/parser/kernels/avx{2,512}.cpp.o |
        grep -E ' [TtWw] ' | grep -v -e '(anonymous namespace)' -e ' W __clang_call_terminate$' || true)
    [ -z "$shared" ] || { echo "functions a kernel file shares: $shared" >&2; exit 1; }
done
echo "== the AVX2 and AVX-512 kernel files share no function (g++ and clang++, optimised and not)"
for model in Nehalem:sse2 Haswell:avx2; do
    cpu=${model%%:*} best=${model#*:}
    echo "== C++ tests on a $cpu processor under qemu-x86_64 (best kernel: $best)"
    output=$(qemu-x86_64 -cpu "$cpu" "$build/parser_tests" 2>&1) || { echo "$output" | tail -40; exit 1; }
    echo "$output" | grep -E '^kernels:|PASSED'
    grep -q "(best: $best)" <<<"$output" || { echo "expected the $best kernel on $cpu" >&2; exit 1; }
    output=$(qemu-x86_64 -cpu "$cpu" "$build/column_tests" 2>&1) || { echo "$output" | tail -40; exit 1; }
    echo "$output" | grep -E 'PASSED'
done
