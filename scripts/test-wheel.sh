#!/usr/bin/env bash
# Tests what make wheel left in dist/: checks what the sdist and the repaired
# wheel hold and how the wheel is tagged, installs the wheel into a fresh
# environment and runs there the Python tests, the way cibuildwheel runs them
# for every published wheel (its test-command in pyproject.toml, from a copy
# of the tests), then mypy --strict and stubtest against the installed module.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
venv=$("$root/scripts/bootstrap.sh" 3.14)
dist=$root/dist
shopt -s nullglob
wheels=("$dist"/marquill_parsing-*.whl)
sdists=("$dist"/marquill_parsing-*.tar.gz)
[ ${#wheels[@]} -eq 1 ] && [ ${#sdists[@]} -eq 1 ] ||
    { echo "test-wheel: expected one wheel and one sdist in dist/ (make wheel)" >&2; exit 1; }
wheel=${wheels[0]}
echo "== checking $(basename "${sdists[0]}") and $(basename "$wheel")"
"$venv/bin/python" - "$wheel" "${sdists[0]}" <<'PY'
import re, sys, sysconfig, tarfile, zipfile
from email.parser import HeaderParser

wheel, sdist = sys.argv[1:]
z = zipfile.ZipFile(wheel)
# auditwheel's rewritten zip lists directories too
names = sorted(n for n in z.namelist() if ".dist-info/" not in n and not n.endswith("/"))
expected = sorted([f"marquill_parsing{sysconfig.get_config_var('EXT_SUFFIX')}",
                   "marquill_parsing.pyi", "marquill_parsing-stubs/__init__.pyi"])
# nothing grafted by auditwheel: the module needs only libraries every
# manylinux system has
assert names == expected, names
tag = re.search(r"-cp314-cp314-(.+)\.whl$", wheel)
# the policy of the published wheels, as build-wheel.sh asks auditwheel for
assert tag and tag[1] == "manylinux_2_28_x86_64", wheel
info = next(n for n in z.namelist() if n.endswith(".dist-info/METADATA"))
meta = HeaderParser().parsestr(z.read(info).decode())
# the module's licence and that of the nanoarrow compiled into it
licences = ["LICENSE", "src/third_party/nanoarrow/LICENSE.txt", "src/third_party/nanoarrow/NOTICE.txt"]
assert meta["License-Expression"] == "MIT AND Apache-2.0", meta["License-Expression"]
assert meta.get_all("License-File") == licences, meta.get_all("License-File")
assert not [c for c in meta.get_all("Classifier") if c.startswith("License ::")]
assert z.read(info.replace("METADATA", "licenses/LICENSE")).startswith(b"MIT License")
apache = z.read(info.replace("METADATA", "licenses/src/third_party/nanoarrow/LICENSE.txt"))
assert b"Apache License" in apache and b"Version 2.0" in apache

members = {m.split("/", 1)[1] for m in tarfile.open(sdist).getnames() if "/" in m}
for needed in ["LICENSE", "pyproject.toml", "CMakeLists.txt", "README.md", "PKG-INFO", *licences,
               "src/third_party/nanoarrow/nanoarrow.cc", "src/third_party/nanoarrow/nanoarrow.h",
               "src/marquill_parsing/module.cpp", "src/marquill_parsing/marquill_parsing.pyi",
               "tests/reference_model.py", "tests/python/test_parse_str.py"]:
    assert needed in members, needed
stray = sorted(m for m in members if m.split("/")[0] in {"build", "dist", ".venv", ".ci", ".git"})
assert not stray, stray
print(f"   {len(names)} files in the wheel, {len(members)} in the sdist; tag {tag[1]}")
PY

fresh=$root/build/wheel-venv
rm -rf "$fresh"
"$venv/bin/python" -m venv "$fresh"
# the test group of pyproject.toml, which cibuildwheel installs too, and the
# type checkers
"$fresh/bin/python" -m pip install -q "$wheel" --group "$root/pyproject.toml:test" mypy
# and the readers of Arrow the column tests use, from their wheels, each
# required: a test of one missing fails rather than skips
"$fresh/bin/python" -m pip install -q --only-binary :all: --group "$root/pyproject.toml:columns"
export MARQUILL_READERS="pyarrow polars pandas duckdb dask"

# the copy stands where cibuildwheel puts its test-sources, away from the
# source tree, so only the installed module can be imported
copy=$root/build/wheel-tests
rm -rf "$copy"
mkdir -p "$copy"
cp -r "$root/tests" "$root/examples" "$root/docs" "$root/pyproject.toml" "$root/README.md" "$copy/"
test_command=$("$venv/bin/python" -c '
import sys, tomllib
print(tomllib.load(open(sys.argv[1], "rb"))["tool"]["cibuildwheel"]["test-command"])' \
    "$root/pyproject.toml")
echo "== tests against the installed wheel: $test_command"
(cd "$copy" && PATH=$fresh/bin:$PATH && eval "$test_command")

cd "$fresh"
echo "== mypy --strict and stubtest"
"$fresh/bin/python" -m mypy --strict --no-incremental "$root/examples/demo.py"
"$fresh/bin/python" -m mypy.stubtest marquill_parsing
