#!/usr/bin/env bash
# The C++ tests, built as the module is (Release), run under qemu's x86-64
# user-mode emulator on processors without AVX-512 (Haswell) and without AVX
# (Nehalem): the kernel chosen must be the fastest each one runs, and no
# instruction it lacks may run, in the kernels or in anything around them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/x86-cpus
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMARQUILL_BUILD_MODULE=OFF -DBUILD_TESTING=ON \
    -DMARQUILL_WERROR=ON >/dev/null
cmake --build "$build" -j2
for model in Nehalem:sse2 Haswell:avx2; do
    cpu=${model%%:*} best=${model#*:}
    echo "== C++ tests on a $cpu processor under qemu-x86_64 (best kernel: $best)"
    output=$(qemu-x86_64 -cpu "$cpu" "$build/parser_tests" 2>&1) || { echo "$output" | tail -40; exit 1; }
    echo "$output" | grep -E '^kernels:|PASSED'
    grep -q "(best: $best)" <<<"$output" || { echo "expected the $best kernel on $cpu" >&2; exit 1; }
done
