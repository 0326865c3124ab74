#!/usr/bin/env bash
# Writes the sdist and a manylinux wheel for CPython 3.14 into dist/.
#
# The wheel is built from the unpacked sdist, so the sdist is known to hold
# all a build needs. It is built twice, once against the shared libstdc++ and
# once with libstdc++ linked in (MARQUILL_STATIC_RUNTIME, see CMakeLists.txt);
# auditwheel tags each with the oldest manylinux policy its symbol versions
# allow, and the wheel that runs on the older systems is kept (on a tie, the
# one with the shared libstdc++, which is smaller). `auditwheel show` then
# names the symbol versions that pin the tag. Logs go to build/wheel/.
#
# Nothing is grafted into the wheel: the module needs only libc, libstdc++
# and libgcc_s, which every manylinux system has. auditwheel therefore runs
# without an ELF patcher (--patcher none), and would stop, saying so, if the
# module ever needed a library that it would have to copy in.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
venv=$("$root/scripts/bootstrap.sh" 3.14)
work=$root/build/wheel
dist=$root/dist
rm -rf "$work" "$dist"
mkdir -p "$work/src" "$dist"

run() {  # $1: log file, then the command; shows the log if the command fails
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { cat "$log"; echo "build-wheel: failed: $*" >&2; exit 1; }
}

run "$work/sdist.log" "$venv/bin/python" -m build --sdist --outdir "$work" "$root"
sdist=$(echo "$work"/marquill_parsing-*.tar.gz)
tar xzf "$sdist" -C "$work/src"
src=$(echo "$work"/src/marquill_parsing-*)

best="" best_minor=""
for runtime in shared static; do
    static=OFF
    [ "$runtime" = static ] && static=ON
    # the two builds share the build directory: only the module is linked again
    run "$work/$runtime.log" "$venv/bin/python" -m build --wheel --outdir "$work/$runtime" \
        -C cmake.define.MARQUILL_STATIC_RUNTIME=$static "$src"
    run "$work/$runtime-repair.log" "$venv/bin/auditwheel" repair --patcher none \
        --wheel-dir "$work/$runtime/repaired" "$work/$runtime"/*.whl
    wheel=$(echo "$work/$runtime"/repaired/*.whl)
    minor=$(basename "$wheel" | sed -nE 's/.*manylinux_2_([0-9]+)_x86_64.*\.whl$/\1/p')
    [ -n "$minor" ] || { echo "build-wheel: no manylinux tag on $wheel" >&2; exit 1; }
    echo "== libstdc++ $runtime: $(basename "$wheel")"
    if [ -z "$best" ] || [ "$minor" -lt "$best_minor" ]; then
        best=$wheel best_minor=$minor
    fi
done

cp "$sdist" "$best" "$dist/"
echo "== dist/: $(cd "$dist" && echo *)"
"$venv/bin/auditwheel" show "$dist"/*.whl
