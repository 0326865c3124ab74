#!/usr/bin/env bash
# Runs the benchmarks end to end on CPython 3.14 (static libpython): installs
# the module and bench/requirements.txt into its venv, writes the workloads,
# builds and runs the C++ benchmark, runs the pyperf benchmark, prints the
# table of ratios and draws bench/throughput.png. Raw results go to
# bench/results/.
#
#   MARQUILL_BENCH_PYPERF_ARGS  pyperf options (default: 4 processes of 3 values)
#   MARQUILL_BENCH_GBENCH_ARGS  Google Benchmark options (default: 3 repetitions)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
results=$root/bench/results
workloads=$results/workloads
build=$root/build/bench
pyperf_args=${MARQUILL_BENCH_PYPERF_ARGS:---processes 4 --values 3 --warmups 1}
gbench_args=${MARQUILL_BENCH_GBENCH_ARGS:---benchmark_repetitions=3 --benchmark_min_time=0.2 --benchmark_display_aggregates_only=true}

log() { echo "== $*" >&2; }

prepare_python() {
    venv=$("$root/scripts/bootstrap.sh" 3.14)
    python=$venv/bin/python
    "$python" -m pip install -q --no-build-isolation "$root"
    "$python" -m pip install -q -r "$root/bench/requirements.txt"
}

build_benchmarks() {
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMARQUILL_BUILD_BENCHMARKS=ON \
        -DPython_EXECUTABLE="$python" >/dev/null
    cmake --build "$build" -j2 --target parser_bench _object_floor
}

run_cpp() {
    log "C++: the parser core and memcpy (Google Benchmark)"
    # shellcheck disable=SC2086
    "$build/bench/parser_bench" "$workloads" --benchmark_out="$results/cpp.json" \
        --benchmark_out_format=json $gbench_args
}

run_python() {
    log "Python: parse_str, the regex equivalent, the reference model and the object floor (pyperf)"
    rm -f "$results/python.json"
    # shellcheck disable=SC2086
    "$python" "$root/bench/bench_python.py" --workloads "$workloads" --floor-dir "$build/bench" \
        -o "$results/python.json" --quiet $pyperf_args
}

prepare_python
mkdir -p "$results"
"$python" "$root/bench/corpus.py" "$workloads"
build_benchmarks
run_cpp
run_python
log "ratios (medians of this run; also in bench/results/table.md)"
"$python" "$root/bench/report.py" "$results"
log "throughput against input size"
"$python" "$root/bench/plot.py" --workloads "$workloads" --floor-dir "$build/bench" \
    --out "$root/bench/throughput.png" --data "$results/plot.json"
