#!/usr/bin/env bash
# An investigation tool: the parser core of another revision beside this
# checkout's, natively, to weigh a change to the scan; make bench does not run
# it. The parser_bench of each, built as bench/run.sh builds it, runs in
# turns, the order alternating, and the fastest time of each benchmark is
# kept, so that a burst of other work on a shared machine falls on both sides
# alike. Prints each benchmark's time before and now and their ratio.
#
#   bench/compare_core.sh REV [ROUNDS] [FILTER]
#
# REV is any git revision, checked out in a worktree under build/; ROUNDS
# defaults to 9; FILTER is a Google Benchmark filter (default: every
# workload on every kernel). The workloads are those bench/run.sh wrote
# (bench/run.sh cpp writes them, or MARQUILL_BENCH_RESULTS names where).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rev=${1:?usage: bench/compare_core.sh REV [ROUNDS] [FILTER]}
rounds=${2:-9}
filter=${3:-parse/}
workloads=${MARQUILL_BENCH_RESULTS:-$root/bench/results}/workloads
[ -d "$workloads" ] || { echo "compare_core: no workloads in $workloads; run bench/run.sh cpp" >&2; exit 1; }

python=$("$root/scripts/bootstrap.sh" 3.14)/bin/python
tree=$root/build/compare/tree
git -C "$root" worktree remove --force "$tree" 2>/dev/null || rm -rf "$tree"
git -C "$root" worktree add --force --detach "$tree" "$rev" >/dev/null

build_core_bench() {  # $1: checkout, $2: build directory
    cmake -S "$root/bench" -B "$2" -DCMAKE_BUILD_TYPE=Release -DMARQUILL_SOURCE_DIR="$1" \
        -DPython_EXECUTABLE="$python" >/dev/null
    cmake --build "$2" -j2 --target parser_bench >&2
}
build_core_bench "$tree" "$root/build/compare/before"
build_core_bench "$root" "$root/build/compare/now"

printf '| benchmark | %s (ns) | now (ns) | now / %s |\n| --- | ---: | ---: | ---: |\n' "$rev" "$rev"
for ((round = 1; round <= rounds; round++)); do
    sides=(before now)
    ((round % 2)) || sides=(now before)
    for side in "${sides[@]}"; do
        "$root/build/compare/$side/parser_bench" "$workloads" --benchmark_filter="$filter" \
            --benchmark_min_time=0.1 2>/dev/null | awk -v side="$side" '/^parse\// {print $1, side, $2}'
    done
done | awk '
    { key = $1 SUBSEP $2; if (!(key in best) || $3 < best[key]) best[key] = $3; names[$1] = 1 }
    END {
        for (name in names) {
            before = best[name SUBSEP "before"]; now = best[name SUBSEP "now"]
            printf "| %s | %.0f | %.0f | %.2f |\n", name, before, now, now / before
        }
    }' | sort
git -C "$root" worktree remove --force "$tree"
