#!/usr/bin/env bash
# Runs one of the formatters and linters from .venv/lint, the environment of
# scripts/lint-env.sh, so at the version requirements-lint.txt pins. The git
# hooks of .pre-commit-config.yaml run each tool this way, so that they and
# make lint never run different versions.
#   scripts/lint-tool.sh ruff check --fix FILE...
set -euo pipefail
tool=${1:?usage: lint-tool.sh TOOL [ARGS...]}
shift
venv=$("$(dirname "$0")/lint-env.sh")
exec "$venv/bin/$tool" "$@"
