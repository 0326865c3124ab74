#!/usr/bin/env bash
# Prepares .venv/lint, the environment of the formatters and linters pinned
# in requirements-lint.txt, and prints its directory. It is made from the
# system's python3 (3.10 or newer, MARQUILL_LINT_PYTHON to choose another),
# not from the CPython 3.14 that the module is built for, so linting never
# waits for an interpreter to be built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=${MARQUILL_LINT_PYTHON:-python3}
venv=$root/.venv/lint
stamp=$venv/.requirements
want=$(cat "$root/requirements-lint.txt")
"$python" -c 'import sys; sys.exit(sys.version_info < (3, 10))' ||
    { echo "lint-env: $python is older than 3.10 (set MARQUILL_LINT_PYTHON)" >&2; exit 1; }
mkdir -p "$root/.venv"
(
    # make targets run side by side share the environment
    flock 9
    if [ ! -x "$venv/bin/python" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
        echo "lint-env: creating $venv with $python" >&2
        rm -rf "$venv"
        "$python" -m venv "$venv"
        "$venv/bin/python" -m pip install -q --upgrade pip
        "$venv/bin/python" -m pip install -q -r "$root/requirements-lint.txt"
        echo "$want" >"$stamp"
    fi
) 9>"$root/.venv/.lock-lint" || { echo "lint-env: could not set up $venv" >&2; exit 1; }
echo "$venv"
