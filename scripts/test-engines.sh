#!/usr/bin/env bash
# Spark and Ray Data, each on a local cluster of two cores, parse the columns
# of docs/columns.md's recipes on each interpreter named: the sessions
# engines-VERSION of noxfile.py, run as scripts/test-python.sh runs its own.
# An interpreter without a wheel of an engine skips that engine's tests and
# says so; Spark needs Java 17 or newer (group engines of
# scripts/install-system-deps.sh).
#   scripts/test-engines.sh 3.14 3.11 3.14t [-- pytest arguments...]
MARQUILL_NOX_SESSION=engines exec "$(dirname "$0")/test-python.sh" "$@"
