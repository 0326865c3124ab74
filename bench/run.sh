#!/usr/bin/env bash
# Runs the benchmarks end to end: writes the workloads, then the stages
#   cpp        the parser core beside memcpy (Google Benchmark)
#   python     parse_str beside the regex, the model, the object floor and
#              str.find (pyperf); whether parse_str changes a str's size
#   callgrind  instructions per line of the core, of parse_str and of the floor
#   threads    parse_str in 1 thread against 2 on the free-threaded 3.14t
#   columns    parse_column on 1,000,000 dialogue lines beside the per-line
#              routes of pyarrow and Polars; 2 threads against 1; its memory;
#              the engines' routes (Polars import, dictionaries, streaming,
#              DuckDB, pandas) and their own regular expressions
#   plot       throughput against input size, bench/results/throughput.png
# and prints the tables of all of them (bench/report.py). Results go to
# bench/results/, which git ignores: a run rewrites no tracked file.
#
#   bench/run.sh                  every stage
#   bench/run.sh callgrind threads  only those (the table shows every result kept)
#
# A stage is a function stage_NAME below and a name in all_stages.
#
# By default it measures this checkout: it installs it into venvs of its own,
# .venv/bench-3.14 and .venv/bench-3.14t (made from the interpreters of
# scripts/bootstrap.sh), so that no other install of the module can change
# what a run imports halfway. To measure something else:
#   MARQUILL_BENCH_PYTHON     a CPython 3.14 with marquill_parsing installed
#                             (unstripped: pip install -C install.strip=false ...)
#   MARQUILL_BENCH_PYTHON_FT  the same for the free-threaded 3.14t
#   MARQUILL_BENCH_SOURCE     the checkout whose parser core the cpp stage builds
#   MARQUILL_BENCH_RESULTS    where results go (default bench/results)
#   MARQUILL_BENCH_PYPERF_ARGS  pyperf options (default: 4 processes of 3 values)
#   MARQUILL_BENCH_SWEEPS       runs of the whole pyperf suite, each with those
#                               options, their values pooled (default 1): more
#                               sweeps spread each benchmark over the run, so
#                               that a burst of other work on the machine does
#                               not fall on one side of a ratio only
#   MARQUILL_BENCH_GBENCH_ARGS  Google Benchmark options (default: 3 repetitions)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
results=${MARQUILL_BENCH_RESULTS:-$root/bench/results}
workloads=$results/workloads
source_dir=$(cd "${MARQUILL_BENCH_SOURCE:-$root}" && pwd)
pyperf_args=${MARQUILL_BENCH_PYPERF_ARGS:---processes 4 --values 3 --warmups 1}
sweeps=${MARQUILL_BENCH_SWEEPS:-1}
gbench_args=${MARQUILL_BENCH_GBENCH_ARGS:---benchmark_repetitions=3 --benchmark_min_time=0.2 --benchmark_display_aggregates_only=true}
all_stages=(cpp python callgrind threads columns plot)
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=("${all_stages[@]}")
for stage in "${stages[@]}"; do
    [[ " ${all_stages[*]} " == *" $stage "* ]] ||
        { echo "bench: no stage '$stage' (the stages: ${all_stages[*]})" >&2; exit 2; }
done

log() { echo "== $(date +%T) $*" >&2; }

# A venv of the benchmarks' own for one interpreter, holding `requirements`
# and this checkout, unstripped so that callgrind sees the function names
# (stripping changes no code). Prints its python.
bench_venv() {  # $1: 3.14 or 3.14t, $2: requirements file
    local dev base venv
    dev=$("$root/scripts/bootstrap.sh" "$1")
    base=$("$dev/bin/python" -c 'import sys; print(sys._base_executable)')
    venv=$root/.venv/bench-$1
    [ -x "$venv/bin/python" ] || "$base" -m venv "$venv" >&2
    "$venv/bin/python" -m pip install -q -r "$2" >&2
    "$venv/bin/python" -m pip install -q --no-build-isolation -C install.strip=false \
        -C "build-dir=$root/build/bench/wheel/{wheel_tag}" "$root" >&2
    echo "$venv/bin/python"
}

describe() {  # $1: python; what is measured
    "$1" - <<'EOF' >&2
import sys, sysconfig, marquill_parsing
gil = "" if not sysconfig.get_config_var("Py_GIL_DISABLED") else f", GIL {'on' if sys._is_gil_enabled() else 'off'}"
print(f"== measuring {marquill_parsing.__file__} on {sys.executable} ({sys.version.split()[0]}{sys.abiflags}{gil})")
EOF
}

# The C++ benchmark and the object floor, built against `python` from the
# core of `source_dir`, in a build directory of their own.
build_benchmarks() {  # $1: python, $2: targets...; prints the build directory
    local python=$1 key build
    shift
    key=$(printf '%s\n%s\n' "$source_dir" "$("$python" -c 'import sys; print(sys.executable)')" |
        sha1sum | cut -c1-12)
    build=$root/build/bench/$key
    cmake -S "$root/bench" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMARQUILL_SOURCE_DIR="$source_dir" \
        -DPython_EXECUTABLE="$python" >/dev/null
    cmake --build "$build" -j2 --target "$@" >&2
    echo "$build"
}

need_valgrind() {
    command -v valgrind >/dev/null && return
    if [ "$(id -u)" -eq 0 ]; then
        log "installing valgrind (Debian's package)"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends valgrind >&2 ||
            { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends valgrind >&2; }
    else
        echo "bench: the callgrind stage needs valgrind (apt-get install valgrind)" >&2
        exit 1
    fi
}

stage_cpp() {
    log "C++: the parser core of $source_dir and memcpy (Google Benchmark)"
    # shellcheck disable=SC2086
    "$build/parser_bench" "$workloads" --benchmark_out="$results/cpp.json" \
        --benchmark_out_format=json $gbench_args
}

stage_python() {
    log "Python: parse_str, the regex equivalent, the reference model and the object floor (pyperf)"
    rm -f "$results/python.json" "$results/checks.json"
    local sweep check
    for ((sweep = 1; sweep <= sweeps; sweep++)); do
        check=(--checks-out "$results/checks.json")
        [ "$sweep" -eq 1 ] || check=(--skip-check)  # the first sweep checked the same code
        # shellcheck disable=SC2086
        "$python" "$root/bench/bench_python.py" --workloads "$workloads" --floor-dir "$build" \
            --append "$results/python.json" --quiet $pyperf_args "${check[@]}"
    done
}

stage_callgrind() {
    log "instructions per line (valgrind --tool=callgrind)"
    need_valgrind
    "$python" "$root/bench/callgrind.py" --workloads "$workloads" --floor-dir "$build" \
        --out "$results/callgrind.json"
}

stage_threads() {
    local python_ft=${MARQUILL_BENCH_PYTHON_FT:-} build_ft
    [ -n "$python_ft" ] || python_ft=$(bench_venv 3.14t "$root/bench/requirements-threads.txt")
    describe "$python_ft"
    build_ft=$(build_benchmarks "$python_ft" _object_floor)
    log "1 thread against 2 on $("$python_ft" -c 'import sys; print(sys.version.split()[0] + sys.abiflags)')"
    "$python_ft" "$root/bench/threads.py" --workloads "$workloads" --floor-dir "$build_ft" \
        --out "$results/threads.json"
}

stage_columns() {
    log "parse_column on a whole column, beside the per-line routes and the engines' own (pyarrow, Polars, DuckDB, pandas)"
    "$python" -m pip install -q -r "$root/bench/requirements-columns.txt"
    "$python" "$root/bench/columns.py" | tee "$results/columns.txt"
}

stage_plot() {
    log "throughput against input size"
    "$python" "$root/bench/plot.py" --workloads "$workloads" --floor-dir "$build" \
        --out "$results/throughput.png" --data "$results/plot.json"
}

python=${MARQUILL_BENCH_PYTHON:-}
[ -n "$python" ] || python=$(bench_venv 3.14 "$root/bench/requirements.txt")
"$python" -m pip install -q -r "$root/bench/requirements.txt"
describe "$python"
mkdir -p "$results"
"$python" "$root/bench/corpus.py" "$workloads"
build=$(build_benchmarks "$python" parser_bench _object_floor core_lines)

for stage in "${stages[@]}"; do
    "stage_$stage"
done

log "tables (also in $results/table.md)"
"$python" "$root/bench/report.py" "$results"
