#!/usr/bin/env bash
# Cross-builds the module for aarch64 Linux and runs the Python suite against
# it under qemu-user, on Debian's own arm64 CPython 3.11. Usage:
#   scripts/test-python-aarch64.sh [pytest arguments...]
#
# The interpreter is not built: Debian's arm64 packages of it are fetched
# with `apt-get download` and unpacked into a folder of the user cache,
# together with the C and C++ runtimes, which qemu then takes as the
# target's root (-L). apt reads the machine's sources but keeps an arm64
# package index of its own beside that folder, so the system's apt state
# and architectures are untouched. pytest and hypothesis, pure Python, are
# installed into the folder by the build machine's pip. The suite's tests
# whose mechanism the emulator lacks skip and say why; the interface tests
# check that the module took the NEON search.
set -euo pipefail
shopt -s inherit_errexit
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${MARQUILL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/marquill_parsing}
target=$cache/debian-arm64-python3.11
sysroot=$target/root
packages=(
    python3.11-minimal libpython3.11-minimal libpython3.11-stdlib libpython3.11-dev
    libc6 libcrypt1 libgcc-s1 libstdc++6 zlib1g libexpat1 libffi8 libssl3 libbz2-1.0 liblzma5 libuuid1
)
test_tools=(pytest hypothesis)
# the readers of Arrow the column tests use, from their arm64 wheels, each
# required: a test of one missing fails rather than skips. Dask is left out:
# its process pool starts sys.executable, an arm64 binary the machine runs
# only through qemu-user, and only when binfmt_misc is set up for it.
readers=(pyarrow polars pandas duckdb)
want="${packages[*]} ${test_tools[*]} ${readers[*]}"

log() { echo "test-python-aarch64: $*" >&2; }

fetch_interpreter() {
    local apt=(-o APT::Architecture=arm64 -o APT::Architectures::=arm64 -o "Dir::State::Lists=$target/lists"
               -o "Dir::State::status=$target/status" -o "Dir::Cache=$target/cache")
    local venv
    venv=$("$root/scripts/bootstrap.sh" 3.14)
    log "fetching Debian's arm64 CPython 3.11 into $target"
    rm -rf "$target"
    mkdir -p "$target/lists/partial" "$target/cache" "$target/debs" "$sysroot"
    touch "$target/status"
    apt-get "${apt[@]}" -qq update
    # _apt cannot write into the user cache; root downloads without its sandbox
    (cd "$target/debs" && apt-get "${apt[@]}" -qq -o APT::Sandbox::User=root download "${packages[@]}")
    for deb in "$target"/debs/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
    rm -rf "$target/debs"
    "$venv/bin/python" -m pip install -q --target "$target/site" --python-version 3.11 \
        --platform manylinux2014_aarch64 --platform manylinux_2_28_aarch64 --only-binary=:all: \
        "${test_tools[@]}" "${readers[@]}"
    # the interpreter as CMake's FindPython and the tests run it
    printf '#!/bin/sh\nexec qemu-aarch64 -L "%s" "%s/usr/bin/python3.11" "$@"\n' "$sysroot" "$sysroot" \
        >"$target/python3.11"
    chmod +x "$target/python3.11"
    echo "$want" >"$target/.complete"
}

mkdir -p "$cache"
(
    flock 9
    [ "$(cat "$target/.complete" 2>/dev/null)" = "$want" ] || fetch_interpreter
) 9>"$cache/.lock-debian-arm64-python3.11"

echo "== the module for aarch64 Linux, tested under qemu-user on Debian's CPython 3.11"
build=$root/build/python-aarch64
mkdir -p "$build"
cd "$root"
# The preset python-aarch64 of CMakePresets.json finds the interpreter and its
# headers (Debian's pyconfig.h includes the multiarch one under
# <aarch64-linux-gnu/...>) in this folder.
export MARQUILL_AARCH64_PYTHON_ROOT=$target
cmake --preset python-aarch64 >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build --preset python-aarch64 -j2
MARQUILL_READERS="${readers[*]}" MARQUILL_LEFT_OUT="dask: its process pool cannot start an arm64 interpreter here" \
    PYTHONPATH=$build:$target/site \
    "$target/python3.11" -m pytest -q -p no:cacheprovider "$root/tests/python" "$@"
