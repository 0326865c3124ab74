#!/usr/bin/env bash
# Writes the sdist and a manylinux wheel for CPython 3.14 into dist/.
#
# The wheel is built from the unpacked sdist, so the sdist is known to hold
# all a build needs. auditwheel tags it manylinux_2_28 alone (--only-plat),
# as the published wheels are tagged (pyproject.toml), and refuses if the
# module asks glibc or libstdc++ for anything newer than that policy allows;
# `auditwheel show` then names the symbol versions the module needs.
# Logs go to build/wheel/.
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

run "$work/wheel.log" "$venv/bin/python" -m build --wheel --outdir "$work/built" "$src"
run "$work/repair.log" "$venv/bin/auditwheel" repair --patcher none --plat manylinux_2_28_x86_64 --only-plat \
    --wheel-dir "$work/repaired" "$work/built"/*.whl
wheel=$(echo "$work"/repaired/*.whl)

cp "$sdist" "$wheel" "$dist/"
echo "== dist/: $(cd "$dist" && echo *)"
"$venv/bin/auditwheel" show "$dist"/*.whl
