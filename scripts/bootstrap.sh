#!/usr/bin/env bash
# Prepares a virtual environment with the development tools for one
# interpreter and prints its directory.
#
#   scripts/bootstrap.sh 3.14    CPython 3.14 (the target)
#   scripts/bootstrap.sh 3.14t   free-threaded CPython 3.14
#   scripts/bootstrap.sh 3.11    pyenv's CPython 3.11
#   scripts/bootstrap.sh demo    the interpreter make demo runs on, in an
#                                environment without the development tools
#   scripts/bootstrap.sh --interpreter 3.14t
#                                the interpreter itself, built if missing,
#                                and no environment (scripts/test-python.sh)
#
# A python3.14 (python3.14t) on PATH is used as it is. Otherwise CPython is
# built once per machine from the release tarball into a per-user cache,
# after the Debian packages its build needs (install-system-deps.sh cpython):
#   MARQUILL_CPYTHON_TARBALL  the tarball (default: the project's shared copy,
#                             beside the checkout or the repository it was
#                             cloned from)
#   MARQUILL_CACHE            the cache (default: ~/.cache/marquill_parsing)
# The interpreter is built without --enable-shared: a shared libpython makes
# every C-API call pay a thread-local lookup, which distorts benchmarks.
set -euo pipefail
# errexit also inside $(...): a failure while finding the interpreter must
# stop the script there, not surface a line later as a missing file
shopt -s inherit_errexit

root=$(cd "$(dirname "$0")/.." && pwd)
interpreter_only=false
if [ "${1:-}" = --interpreter ]; then
    interpreter_only=true
    shift
fi
flavour=${1:-3.14}
cpython_version=3.14.4
cpython_sha256=d923c51303e38e249136fc1bdf3568d56ecb03214efdef48516176d3d7faaef8
cpython_url=https://www.python.org/ftp/python/$cpython_version/Python-$cpython_version.tar.xz
# The project's shared copy lies beside the checkout, or beside the
# repository a fresh clone was made from.
shared_tarball() {
    local origin
    origin=$(git -C "$root" config --get remote.origin.url 2>/dev/null || true)
    for dir in "$root/.." ${origin:+"$origin/.."}; do
        if [ -f "$dir/shared/toolchain/Python-$cpython_version.tar.xz" ]; then
            echo "$dir/shared/toolchain/Python-$cpython_version.tar.xz"
            return
        fi
    done
    echo "$root/../shared/toolchain/Python-$cpython_version.tar.xz"
}
tarball=${MARQUILL_CPYTHON_TARBALL:-$(shared_tarball)}
cache=${MARQUILL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/marquill_parsing}

log() { echo "bootstrap: $*" >&2; }
die() { log "$*"; exit 1; }

build_cpython() {  # $1: install prefix, $2: extra configure flags
    local prefix=$1 flags=$2 work
    echo "$cpython_sha256  $tarball" | sha256sum --check --quiet - ||
        die "sha256 mismatch for $tarball (expected $cpython_sha256)"
    "$root/scripts/install-system-deps.sh" cpython >&2
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

# Prints "MINOR PATH" if the interpreter can build the module and make a
# venv: CPython 3.10 or newer with its headers and ensurepip. Says why not
# for one that runs but cannot (Debian splits both out of its python3.X).
demo_candidate() {  # $1: interpreter
    local found minor exe include
    found=$("$1" -c 'import sys, sysconfig
if sys.implementation.name == "cpython" and sys.version_info >= (3, 10):
    print(sys.version_info[1], sys.executable, sysconfig.get_paths()["include"])' 2>/dev/null) || return 0
    read -r minor exe include <<<"$found"
    [ -n "${minor:-}" ] || return 0
    if [ ! -f "$include/Python.h" ]; then
        log "not using $exe: it has no headers (Debian: python3.$minor-dev)"
    elif ! "$exe" -c "import ensurepip" 2>/dev/null; then
        log "not using $exe: it cannot make a venv (Debian: python3.$minor-venv)"
    else
        echo "$minor $exe"
    fi
}

# CPython 3.14 when there is one, on PATH or already built; otherwise the
# newest CPython 3.10 or newer on PATH that can build the module; only
# when there is none, 3.14 built from source.
demo_interpreter() {
    local names chosen preferred
    names=$(compgen -c | grep -E '^python3(\.[0-9]+)?$' | sort -u)
    chosen=$(
        for name in $names; do demo_candidate "$name"; done
        if [ -f "$cache/cpython-$cpython_version/.complete" ]; then
            demo_candidate "$cache/cpython-$cpython_version/bin/python3.14"
        fi
    )
    [ -n "$chosen" ] || { cpython 3.14; return; }
    # awk reads all its input, so no writer of these pipelines can die of
    # SIGPIPE (which pipefail would report as a failure), as with head.
    preferred=$(awk '$1 == 14 && !found { print; found = 1 }' <<<"$chosen")
    [ -n "$preferred" ] || preferred=$(sort -k1,1nr <<<"$chosen" | awk 'NR == 1')
    echo "${preferred#* }"
}

interpreter() {
    case $flavour in
        3.14 | 3.14t) cpython "$flavour" ;;
        demo) demo_interpreter ;;
        3.11) command -v python3.11 || pyenv which python3.11 2>/dev/null ||
            die "CPython 3.11 is needed: put a python3.11 on PATH or install it with pyenv" ;;
        *) log "unknown interpreter '$flavour' (3.14, 3.14t, 3.11 or demo)"; exit 2 ;;
    esac
}

python=$(interpreter) || exit 1
if $interpreter_only; then
    echo "$python"
    exit 0
fi
venv=$root/.venv/$flavour
stamp=$venv/.requirements
requirements=$root/requirements-dev.txt
if [ "$flavour" = demo ]; then
    log "the demo runs on $("$python" -c 'import sys; print("CPython", sys.version.split()[0])') at $python"
    requirements=""  # pip builds the module in an isolated environment of its own
fi
want="$python
$([ -z "$requirements" ] || cat "$requirements")"
mkdir -p "$root/.venv"
(
    # make targets run side by side share the environment: one of them
    # (re)creates it while the others wait
    flock 9
    if [ ! -x "$venv/bin/python" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
        log "creating $venv with $python"
        rm -rf "$venv"
        "$python" -m venv "$venv"
        if [ -n "$requirements" ]; then
            "$venv/bin/python" -m pip install -q --upgrade pip
            "$venv/bin/python" -m pip install -q -r "$requirements"
        fi
        echo "$want" >"$stamp"
    fi
) 9>"$root/.venv/.lock-$flavour" || die "could not set up $venv"
echo "$venv"
