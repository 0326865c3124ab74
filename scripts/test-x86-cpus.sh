#!/usr/bin/env bash
# The C++ tests, built as the module is (Release), run under qemu's x86-64
# user-mode emulator on processors without AVX-512 (Haswell) and without AVX
# (Nehalem): the kernel chosen must be the fastest each one runs, and no
# instruction it lacks may run, in the kernels or in anything around them.
# First, optimised and not: the AVX2 and AVX-512 kernel files may define no
# function outside their unnamed namespace, since the linker could hand such a
# copy, built for their instruction set, to code that runs without it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/x86-cpus
cd "$root"
for preset in x86-cpus x86-cpus-debug; do  # CMakePresets.json, into build/PRESET
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j2
done
for dir in "$build" "$build-debug"; do
    shared=$(nm -C --defined-only "$dir"/CMakeFiles/marquill_kernels.dir/src/parser/kernels/avx{2,512}.cpp.o |
        grep -E ' [TtWw] ' | grep -v '(anonymous namespace)' || true)
    [ -z "$shared" ] || { echo "functions a kernel file shares: $shared" >&2; exit 1; }
done
echo "== the AVX2 and AVX-512 kernel files share no function"
for model in Nehalem:sse2 Haswell:avx2; do
    cpu=${model%%:*} best=${model#*:}
    echo "== C++ tests on a $cpu processor under qemu-x86_64 (best kernel: $best)"
    output=$(qemu-x86_64 -cpu "$cpu" "$build/parser_tests" 2>&1) || { echo "$output" | tail -40; exit 1; }
    echo "$output" | grep -E '^kernels:|PASSED'
    grep -q "(best: $best)" <<<"$output" || { echo "expected the $best kernel on $cpu" >&2; exit 1; }
done
