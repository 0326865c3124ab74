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
# The readers of Arrow the column tests use, wheels only, each required:
# a test of one missing fails rather than skips. DuckDB is left out: under
# LD_PRELOAD=libasan it aborts inside its own query optimizer, before it
# reads anything of ours.
readers=(pyarrow polars pandas "dask[dataframe]")
"$venv/bin/python" -m pip install -q --only-binary :all: --target "$site" "${readers[@]}"
export MARQUILL_READERS="pyarrow polars pandas dask"
export MARQUILL_LEFT_OUT="duckdb: it aborts in its own optimizer under LD_PRELOAD=libasan"
echo "== Python tests on 3.14 under ASan and UBSan, with ${readers[*]}; DuckDB left out (${MARQUILL_LEFT_OUT#*: })"
# The interpreter itself is not instrumented and frees little at exit, so
# leaks are left to the leak tests; the C++ tests run under LeakSanitizer.
LD_PRELOAD=$(g++ -print-file-name=libasan.so) \
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
PYTHONMALLOC=malloc PYTHONPATH="$site" \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/tests/python" "$@"
