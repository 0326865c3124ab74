#!/usr/bin/env bash
# The parser's C++ unit tests on musl: built statically for x86_64-linux-musl
# with zig c++ and run natively, see cmake/toolchains/x86_64-linux-musl.cmake.
# zig comes from the ziglang package on PyPI, installed into the project's
# CPython 3.14 venv (scripts/bootstrap.sh) rather than into the system; its
# first use builds musl and libc++ for the target into zig's cache (about
# three minutes of CPU), later ones reuse them. Usage: test-musl.sh [CTEST ARGS...]
set -euo pipefail
shopt -s inherit_errexit
root=$(cd "$(dirname "$0")/.." && pwd)
ziglang=ziglang==0.17.1
venv=$("$root/scripts/bootstrap.sh" 3.14)
"$venv/bin/python" -m pip install -q "$ziglang"
MARQUILL_ZIG=$("$venv/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
export MARQUILL_ZIG
exec "$root/scripts/test-cross.sh" x86_64-linux-musl "$@"
