#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzzer and the
# benchmarks need. Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    # what CPython needs for the modules the tests use (ssl, zlib, ctypes, ...)
    libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev
    libreadline-dev uuid-dev
    # C++ unit tests and benchmarks
    libgtest-dev libbenchmark-dev
    # the C++ unit tests on other targets: cross compilers, the emulators
    # that run the tests, GoogleTest's sources to build for each target
    g++-aarch64-linux-gnu qemu-user g++-mingw-w64-x86-64 wine64 googletest
    # libFuzzer and the sanitizer runtimes
    clang libclang-rt-dev
    # the build with LLVM's libc++ 14
    libc++-dev libc++abi-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]} (run this script as root)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
