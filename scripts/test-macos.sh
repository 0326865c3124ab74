#!/usr/bin/env bash
# Compiles every source of src/ for macOS 11 on arm64 and macOS 10.13 on
# x86-64, the oldest systems the wheels are built for, with zig's clang and
# the SDK headers zig carries (the ziglang package, as for musl): a header
# that Apple's SDK does not bring in indirectly fails here, not on a Mac.
# Nothing is linked or run. The binding's files compile against this
# machine's CPython 3.14 headers, whose pyconfig.h is Linux's, not a Mac's:
# they check our code against the SDK and libc++, not CPython's macOS
# configuration, which CI's macOS wheels build.
set -euo pipefail
shopt -s inherit_errexit
root=$(cd "$(dirname "$0")/.." && pwd)
venv=$("$root/scripts/bootstrap.sh" 3.14)
"$venv/bin/python" -m pip install -q ziglang==0.17.1
python_include=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
out=$root/build/macos
cd "$root"
mapfile -t sources < <(git ls-files 'src/*.cpp' 'src/*.cc')
for target in aarch64-macos.11.0 x86_64-macos.10.13; do
    echo "== $target: ${#sources[@]} sources"
    mkdir -p "$out/$target"
    for source in "${sources[@]}"; do
        flags=(-std=c++20 -Isrc -Wall -Wextra -Wpedantic -Werror)
        case $source in
            src/third_party/*) flags=(-std=c++20 -Isrc) ;;  # its own warnings left alone, as CMake does
            src/marquill_parsing/*) flags+=(-I"$python_include" -DMARQUILL_VERSION='"0"') ;;
        esac
        if [ "${target%%-*}" = x86_64 ]; then
            # as CMakeLists.txt builds the x86 kernels, each for its own instruction set
            flags+=(-DMARQUILL_X86_KERNELS=1)
            case $source in
                */avx2.cpp) flags+=(-mavx2 -mbmi -mbmi2) ;;
                */avx512.cpp) flags+=(-mavx512f -mavx512bw -mavx512vl -mavx2 -mbmi -mbmi2) ;;
            esac
        fi
        object=$out/$target/$(basename "$source").o
        "$venv/bin/python" -m ziglang c++ -target "$target" "${flags[@]}" -c "$source" -o "$object"
    done
done
echo "== every source compiles for both"
