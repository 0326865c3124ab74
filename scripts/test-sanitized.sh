#!/usr/bin/env bash
# Runs the Python test suite on CPython 3.14 against a build of the module
# instrumented with AddressSanitizer and UndefinedBehaviorSanitizer.
# PYTHONMALLOC=malloc sends the interpreter's small objects through malloc
# too, so the sanitizer sees reads and writes in them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
venv=$("$root/scripts/bootstrap.sh" 3.14)
site=$root/build/sanitized-site
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
rm -rf "$site"
"$venv/bin/python" -m pip install -q --no-build-isolation --target "$site" \
    -C build-dir="$root/build/sanitized" -C cmake.build-type=RelWithDebInfo \
    -C cmake.define.CMAKE_CXX_FLAGS="$flags" "$root"
echo "== Python tests on 3.14 under ASan and UBSan"
# The interpreter itself is not instrumented and frees little at exit, so
# leaks are left to the leak tests; the C++ tests run under LeakSanitizer.
LD_PRELOAD=$(g++ -print-file-name=libasan.so) \
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
PYTHONMALLOC=malloc PYTHONPATH="$site" \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/tests/python" "$@"
