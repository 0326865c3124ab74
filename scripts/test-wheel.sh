#!/usr/bin/env bash
# Builds the sdist and, from it alone, the wheel; checks what the wheel
# holds; installs it into a fresh environment and runs the Python tests and
# the type checks against the installed module.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
venv=$("$root/scripts/bootstrap.sh" 3.14)
dist=$root/build/dist
rm -rf "$dist"
# python -m build makes the sdist first and the wheel from the unpacked sdist
"$venv/bin/python" -m build --outdir "$dist" "$root" >"$root/build/dist.log" 2>&1 ||
    { cat "$root/build/dist.log"; exit 1; }
wheel=$(ls "$dist"/*.whl)
echo "== built $(cd "$dist" && ls)"
"$venv/bin/python" - "$wheel" <<'PY'
import sys, sysconfig, zipfile
names = sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if ".dist-info/" not in n)
expected = sorted([f"marquill_parsing{sysconfig.get_config_var('EXT_SUFFIX')}",
                   "marquill_parsing.pyi", "marquill_parsing-stubs/__init__.pyi"])
assert names == expected, names
assert "-cp314-cp314-" in sys.argv[1], sys.argv[1]
PY

fresh=$root/build/wheel-venv
rm -rf "$fresh"
"$venv/bin/python" -m venv "$fresh"
"$fresh/bin/python" -m pip install -q "$wheel" pytest hypothesis mypy
cd "$fresh"  # away from the source tree
echo "== tests against the installed wheel"
"$fresh/bin/python" -m pytest -q -p no:cacheprovider --rootdir "$root" "$root/tests/python"
echo "== mypy --strict and stubtest"
"$fresh/bin/python" -m mypy --strict --no-incremental "$root/examples/demo.py"
"$fresh/bin/python" -m mypy.stubtest marquill_parsing
