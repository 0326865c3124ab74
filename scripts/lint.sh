#!/usr/bin/env bash
# The formatters and linters, from the environment of scripts/lint-env.sh.
#
#   scripts/lint.sh           check: clang-format and ruff format (nothing
#                             rewritten), ruff check, mypy --strict, zizmor
#                             over the workflows; every check runs, and the
#                             script fails if any of them did
#   scripts/lint.sh --format  rewrite: ruff's safe fixes, ruff format and
#                             clang-format over every C, C++ and Python file
#                             but the vendored ones of src/third_party/, kept as
#                             their authors wrote them
#
# Their settings: .clang-format, [tool.ruff] and [tool.mypy] in
# pyproject.toml, .github/zizmor.yml.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
venv=$("$root/scripts/lint-env.sh") || exit 1
bin=$venv/bin
cd "$root"

# tracked files and new ones not ignored, so a file not yet added is checked
# too; a tracked file deleted in the work tree is skipped
cxx=()
while read -r file; do
    [ -f "$file" ] && cxx+=("$file")
done < <(git ls-files --cached --others --exclude-standard -- '*.c' '*.h' '*.cpp' '*.hpp' ':!src/third_party')

if [ "${1:-}" = --format ]; then
    set -e
    "$bin/ruff" check --fix-only --quiet
    "$bin/ruff" format --quiet
    "$bin/clang-format" -i "${cxx[@]}"
    exit 0
fi

failed=()
check() {  # $1: name, then the command
    local name=$1
    shift
    echo "== $name" >&2
    "$@" || failed+=("$name")
}

check "clang-format" "$bin/clang-format" --dry-run --Werror "${cxx[@]}"
check "ruff format" "$bin/ruff" format --check --quiet
check "ruff check" "$bin/ruff" check --quiet
check "mypy --strict" "$bin/mypy"
check "zizmor" "$bin/zizmor" --offline --quiet .github/workflows

if [ ${#failed[@]} -gt 0 ]; then
    echo "lint: failed: ${failed[*]} (scripts/lint.sh --format, that is make format, fixes the formatting)" >&2
    exit 1
fi
echo "lint: all clean" >&2
