#!/usr/bin/env bash
# Prepares a virtual environment with the development tools for one
# interpreter and prints its directory.
#
#   scripts/bootstrap.sh 3.14    CPython 3.14 (the target)
#   scripts/bootstrap.sh 3.14t   free-threaded CPython 3.14
#   scripts/bootstrap.sh 3.11    pyenv's CPython 3.11
#
# A python3.14 (python3.14t) on PATH is used as it is. Otherwise CPython is
# built once per machine from the release tarball into a per-user cache:
#   MARQUILL_CPYTHON_TARBALL  the tarball (default: the project's shared copy)
#   MARQUILL_CACHE            the cache (default: ~/.cache/marquill_parsing)
# The interpreter is built without --enable-shared: a shared libpython makes
# every C-API call pay a thread-local lookup, which distorts benchmarks.
set -euo pipefail
# errexit also inside $(...): a failure while finding the interpreter must
# stop the script there, not surface a line later as a missing file
shopt -s inherit_errexit

root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-3.14}
cpython_version=3.14.4
cpython_sha256=d923c51303e38e249136fc1bdf3568d56ecb03214efdef48516176d3d7faaef8
cpython_url=https://www.python.org/ftp/python/$cpython_version/Python-$cpython_version.tar.xz
tarball=${MARQUILL_CPYTHON_TARBALL:-$root/../shared/toolchain/Python-$cpython_version.tar.xz}
cache=${MARQUILL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/marquill_parsing}

log() { echo "bootstrap: $*" >&2; }
die() { log "$*"; exit 1; }

build_cpython() {  # $1: install prefix, $2: extra configure flags
    local prefix=$1 flags=$2 work
    echo "$cpython_sha256  $tarball" | sha256sum --check --quiet - ||
        die "sha256 mismatch for $tarball (expected $cpython_sha256)"
    work=$(mktemp -d "$cache/build.XXXXXX")
    log "building CPython $cpython_version $flags into $prefix (about 5 minutes)"
    tar xf "$tarball" -C "$work"
    (
        cd "$work/Python-$cpython_version"
        # shellcheck disable=SC2086
        ./configure --prefix="$prefix" --with-ensurepip=install $flags >"$work/configure.log" 2>&1
        make -j"$(nproc)" >"$work/make.log" 2>&1
        make install >"$work/install.log" 2>&1
    ) || die "CPython build failed; logs in $work"
    rm -rf "$work"
}

cpython() {  # $1: 3.14 or 3.14t; prints the interpreter's path
    local suffix=${1#3.14} flags="" prefix exe
    [ "$suffix" = t ] && flags=--disable-gil
    if exe=$(command -v "python3.14$suffix"); then echo "$exe"; return; fi
    prefix=$cache/cpython-$cpython_version$suffix
    exe=$prefix/bin/python3.14$suffix
    if [ ! -f "$prefix/.complete" ] && [ ! -f "$tarball" ]; then
        die "CPython $1 is needed: put a python3.14$suffix on PATH, or set" \
            "MARQUILL_CPYTHON_TARBALL to a download of $cpython_url (there is none at $tarball)"
    fi
    mkdir -p "$cache"
    (
        # one build per machine, even when several make targets start at once;
        # the marker is written last, so an interrupted build is redone
        flock 9
        if [ ! -f "$prefix/.complete" ]; then
            rm -rf "$prefix"
            build_cpython "$prefix" "$flags"
            touch "$prefix/.complete"
        fi
    ) 9>"$cache/.lock-$1" || exit 1
    echo "$exe"
}

interpreter() {
    case $flavour in
        3.14 | 3.14t) cpython "$flavour" ;;
        3.11) command -v python3.11 || pyenv which python3.11 2>/dev/null ||
            die "CPython 3.11 is needed: put a python3.11 on PATH or install it with pyenv" ;;
        *) log "unknown interpreter '$flavour' (3.14, 3.14t or 3.11)"; exit 2 ;;
    esac
}

python=$(interpreter) || exit 1
venv=$root/.venv/$flavour
stamp=$venv/.requirements
want=$(cat "$root/requirements-dev.txt")
mkdir -p "$root/.venv"
(
    # make targets run side by side share the environment: one of them
    # (re)creates it while the others wait
    flock 9
    if [ ! -x "$venv/bin/python" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
        log "creating $venv with $python"
        rm -rf "$venv"
        "$python" -m venv "$venv"
        "$venv/bin/python" -m pip install -q --upgrade pip
        "$venv/bin/python" -m pip install -q -r "$root/requirements-dev.txt"
        echo "$want" >"$stamp"
    fi
) 9>"$root/.venv/.lock-$flavour" || die "could not set up $venv"
echo "$venv"
