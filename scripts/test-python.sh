#!/usr/bin/env bash
# Runs the Python suite on each interpreter named, as the sessions of
# noxfile.py: each session builds and installs the module, warnings as
# errors, into an environment of its interpreter under .nox/ (made on the
# first run, kept for the next) and runs pytest there.
#   scripts/test-python.sh 3.14 3.11 3.14t [-- pytest arguments...]
# MARQUILL_NOX_SESSION names another session of noxfile.py to run in the same
# way (scripts/test-engines.sh: engines).
#
# scripts/bootstrap.sh finds each interpreter, building CPython 3.14 and
# 3.14t when there is none. nox finds them on PATH, where a directory of
# links named python3.14, python3.11, python3.14t goes first: not the
# interpreters' own directories, since 3.14t's holds a python3.14 too. nox
# itself runs from the first one's development environment (.venv/3.14 for
# make test-python), at the version of requirements-nox.txt.
set -euo pipefail
shopt -s inherit_errexit
root=$(cd "$(dirname "$0")/.." && pwd)
links=$root/build/nox-interpreters
rm -rf "$links"
mkdir -p "$links"
session=${MARQUILL_NOX_SESSION:-tests}
sessions=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    python=$("$root/scripts/bootstrap.sh" --interpreter "$1")
    # the executable itself, not a launcher such as pyenv's shim
    ln -s "$("$python" -c 'import sys; print(sys.executable)')" "$links/python$1"
    sessions+=("$session-$1")
    shift
done
[ ${#sessions[@]} -gt 0 ] || { echo "usage: test-python.sh INTERPRETER... [-- PYTEST ARGS...]" >&2; exit 2; }
venv=$("$root/scripts/bootstrap.sh" "${sessions[0]#"$session"-}")
"$venv/bin/python" -m pip install -q -r "$root/requirements-nox.txt"
cd "$root"
PATH=$links:$PATH MARQUILL_WERROR=ON "$venv/bin/nox" --error-on-missing-interpreters --reuse-venv=yes \
    -s "${sessions[@]}" "$@"
