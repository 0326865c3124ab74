#!/usr/bin/env bash
# Runs make targets one after another, each under a banner with its name, and
# says how long each took; at the end, or at the first that fails, a table
# of them all. `make test` runs its stages through it, so that CI's log says
# where each stage starts and what it cost.
#   scripts/run-stages.sh lint test-cpp ...
# The make variables given on the command line (PYTHONS=3.14) reach each
# stage through MAKEFLAGS, as for any sub-make.
set -uo pipefail
make=${MAKE:-make}
summary=()

duration() {  # $1: seconds
    if [ "$1" -ge 60 ]; then echo "$(($1 / 60)) min $(($1 % 60)) s"; else echo "$1 s"; fi
}

report() {
    echo
    echo "==== stages of this run"
    printf '  %s\n' "${summary[@]}"
}

for stage in "$@"; do
    echo
    echo "==== make $stage"
    start=$SECONDS
    "$make" --no-print-directory "$stage"
    status=$?
    took=$(duration $((SECONDS - start)))
    if [ $status -ne 0 ]; then
        summary+=("$(printf '%-22s failed after %s' "$stage" "$took")")
        echo "==== make $stage: failed after $took"
        report
        exit $status
    fi
    summary+=("$(printf '%-22s %s' "$stage" "$took")")
    echo "==== make $stage: passed in $took"
done
report
