#!/usr/bin/env bash
# Runs a Windows program under wine for ctest (the emulator that
# cmake/toolchains/x86_64-w64-mingw32.cmake sets), as a CI machine has it:
# no display and no terminal. Usage: run-wine.sh PROGRAM [ARGS...]
#
# The wine configuration lives in a prefix of the project's own in the user
# cache (MARQUILL_WINEPREFIX to choose another), so the user's ~/.wine is
# never touched. It stays out of the source tree: its drive z: is a link to
# the root of the file system, which a walk of the tree (the sdist's) would
# follow. It is made on first use, when wine's messages about it go to
# PREFIX.log rather than into the test's output. Without the mono and gecko
# DLLs wine does not offer to download them, and without winemenubuilder it
# writes no desktop menu entries.
set -euo pipefail
prefix=${MARQUILL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/marquill_parsing/wineprefix}
wine=$(command -v wine64 || true)
# Debian's wine64 package keeps the binary out of PATH
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
[ -x "$wine" ] || { echo "run-wine.sh: wine64 not found (Debian package wine64)" >&2; exit 1; }

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    # one process makes the prefix while the others wait for it
    (
        flock 9
        [ -f "$prefix/system.reg" ] || "$wine" wineboot --init >"$prefix.log" 2>&1 </dev/null
    ) 9>"$prefix.lock"
fi
exec "$wine" "$@" </dev/null
