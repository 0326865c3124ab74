#!/usr/bin/env bash
# Builds and installs the module into the environment of one interpreter,
# then runs the Python test suite against the installed module.
#   scripts/test-python.sh 3.14 [pytest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=$1
shift
venv=$("$root/scripts/bootstrap.sh" "$flavour")
"$venv/bin/python" -m pip install -q --no-build-isolation -C cmake.define.MARQUILL_WERROR=ON "$root"
echo "== Python tests on $("$venv/bin/python" -c 'import sys; print(sys.version.split()[0], sys.abiflags or "")')"
"$venv/bin/python" -m pytest -q "$root/tests/python" "$@"
