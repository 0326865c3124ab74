#!/usr/bin/env bash
# Installs the Debian packages of the named groups, each what one target
# needs, so that `make demo` pulls in a compiler and CMake and nothing of the
# test machinery. Safe to run again: packages already present are skipped.
#
#   scripts/install-system-deps.sh build         one group (make demo's)
#   scripts/install-system-deps.sh aarch64 musl  several
#   scripts/install-system-deps.sh               all of make test's (group test)
set -euo pipefail

packages_of() {  # $1: group; prints its packages
    case $1 in
        # building the module: all make demo needs, with a CPython from PATH
        # or one scripts/bootstrap.sh builds (group cpython)
        build) echo g++ cmake make ;;
        # CPython 3.14 and 3.14t from the source tarball (scripts/bootstrap.sh),
        # with the modules the tools and the tests use (ssl, zlib, ctypes, ...)
        cpython) echo build-essential pkg-config xz-utils libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev \
            libsqlite3-dev libreadline-dev uuid-dev ;;
        # Debian's python3 (3.11 on Debian 12) with its headers and venv: the
        # python3 of make lint's environment, and the 3.11 of make test-python
        # where pyenv has none
        python) echo python3-dev python3-venv ;;
        # make test-cpp and test-portable: GoogleTest, under g++'s ASan and UBSan
        cpp-tests) echo g++ cmake make libgtest-dev ;;
        # make fuzz: libFuzzer and clang's sanitizer runtimes
        fuzz) echo clang libclang-rt-dev cmake make ;;
        # make test-x86-cpus: GoogleTest and qemu's user-mode emulator
        x86-cpus) echo g++ cmake make libgtest-dev qemu-user ;;
        # make test-aarch64 and test-python-aarch64: the cross compiler, qemu's
        # user-mode emulator, GoogleTest's sources to build for the target
        aarch64) echo g++-aarch64-linux-gnu qemu-user googletest cmake make ;;
        # make test-windows: MinGW-w64, wine, GoogleTest's sources
        windows) echo g++-mingw-w64-x86-64 wine64 googletest cmake make ;;
        # make test-musl: GoogleTest's sources (zig itself comes from PyPI)
        musl) echo googletest cmake make ;;
        # make test-libcxx: clang with LLVM's libc++ 14, GoogleTest's sources
        libcxx) echo clang libc++-dev libc++abi-dev googletest cmake make ;;
        # make test-engines: the Java runtime Spark runs on
        engines) echo openjdk-17-jre-headless ;;
        # make bench: Google Benchmark, and valgrind for the instruction counts
        bench) echo g++ cmake make libbenchmark-dev valgrind ;;
        # everything make test runs
        test) for group in build cpython python cpp-tests x86-cpus fuzz aarch64 windows musl libcxx engines; do packages_of "$group"; done ;;
        *) echo "install-system-deps.sh: unknown group '$1'" >&2; return 1 ;;
    esac
}

packages=()
for group in "${@:-test}"; do
    listed=$(packages_of "$group") || exit 2
    read -r -d '' -a listed <<<"$listed" || true
    packages+=("${listed[@]}")
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) || true
    [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]} (run this script as root)" >&2
    exit 1
fi
echo "install-system-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
# Java's packages link their manual pages there, which Debian's container
# images leave out, and fail to install without it
mkdir -p /usr/share/man/man1
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
