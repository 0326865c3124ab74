"""parse_str in 1 thread against 2 threads on a free-threaded interpreter.

    python3.14t bench/threads.py --workloads DIR --floor-dir DIR [--out JSON]

The work is a number of passes over the dialogue lines (enough for about
--seconds in one thread). A round times it in one thread, then in two threads
at once, each doing all of it, and takes the ratio of throughputs: 2 x (one
thread's time) / (two threads' wall time), 2.0 being perfect scaling on two
cores. On a machine shared with other work two threads rarely get two whole
cores, so it also gives 2 x (work per CPU second in two threads) / (work per
CPU second in one), from time.thread_time: what two idle cores would give.
That one stays at 2.0 unless the threads slow each other down while running
(shared cache lines, atomic reference counts, the allocator); a thread that
sleeps waiting for a lock shows only in the first.

Each thread parses lines it copied itself, as two workers with lines of
their own would, so the threads share no str whose reference count they
would both write. The object floor is measured the same way: what the
interpreter's allocator and object creation allow. Prints the median of
--rounds rounds for each, with the smallest and largest.

It refuses to run with the GIL enabled, which importing a module that does
not declare itself free-threading safe would turn on.
"""

import argparse
import json
import os
import statistics
import sys
import sysconfig
import threading
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

from marquill_parsing import parse_str

# one pass over a thread's own lines, given the tag count of each
OnePass = Callable[[list[str], list[int]], None]
# a thread's (start, end, CPU seconds)
Span = tuple[float, float, float]
Task = Callable[[threading.Barrier, list[Span]], None]


def fresh_copy(line: str) -> str:
    return (line + " ")[:-1]  # a new str: see bench_python.fresh_copy


def parse_pass(own: list[str], _counts: list[int]) -> None:
    for line in own:
        parse_str(line)


def floor_pass(build: Callable[[str, int], object]) -> OnePass:
    def run(own: list[str], counts: list[int]) -> None:
        for line, k in zip(own, counts, strict=True):
            build(line, k)

    return run


def worker_task(one_pass: OnePass, lines: list[str], counts: list[int], passes: int) -> Task:
    """Returns a function for one thread: copy the lines, make one pass
    untimed (which also caches their UTF-8), wait for the start, then time
    `passes` passes."""

    def run(start: threading.Barrier, spans: list[Span]) -> None:
        own = [fresh_copy(line) for line in lines]
        one_pass(own, counts)
        start.wait()
        begin, cpu = time.perf_counter(), time.thread_time()
        for _ in range(passes):
            one_pass(own, counts)
        spans.append((begin, time.perf_counter(), time.thread_time() - cpu))

    return run


def run_threads(task: Task, threads: int) -> tuple[float, float]:
    """Wall seconds from the first thread's start to the last one's end, and
    the CPU seconds of all threads added up."""
    start = threading.Barrier(threads)
    spans: list[Span] = []
    workers = [threading.Thread(target=task, args=(start, spans)) for _ in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    if len(spans) != threads:
        sys.exit("threads: a thread failed")
    return max(end for _, end, _ in spans) - min(begin for begin, _, _ in spans), sum(cpu for *_, cpu in spans)


def scaling(one_pass: OnePass, lines: list[str], counts: list[int], seconds: float, rounds: int) -> dict[str, Any]:
    pass_seconds, _ = run_threads(worker_task(one_pass, lines, counts, 1), 1)
    passes = max(1, round(seconds / pass_seconds))
    task = worker_task(one_pass, lines, counts, passes)
    single: list[tuple[float, float]] = []
    double: list[tuple[float, float]] = []
    for _ in range(rounds):
        single.append(run_threads(task, 1))
        double.append(run_threads(task, 2))
    ratios = [2 * one[0] / two[0] for one, two in zip(single, double, strict=True)]
    # work per CPU second in two threads over that in one, times 2: the ratio
    # two idle cores would give, 2.0 unless the threads slow each other down,
    # whatever else runs on the machine
    cpu_ratios = [2 * (2 * one[1] / two[1]) for one, two in zip(single, double, strict=True)]
    return {
        "passes": passes,
        "lines": len(lines),
        "ratio": statistics.median(ratios),
        "ratios": ratios,
        "cpu_ratio": statistics.median(cpu_ratios),
        "cpu_ratios": cpu_ratios,
        "one_thread_seconds": single,
        "two_threads_seconds": double,
    }


def main() -> None:
    parser = argparse.ArgumentParser(description="1 thread against 2 on a free-threaded interpreter.")
    parser.add_argument("--workloads", required=True, type=Path, help="directory of bench/corpus.py's files")
    parser.add_argument("--floor-dir", required=True, help="directory holding _object_floor for this interpreter")
    parser.add_argument("--seconds", type=float, default=0.5, help="one thread's time per round")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--out", type=Path, help="where to write the results as JSON")
    args = parser.parse_args()
    sys.path.insert(0, args.floor_dir)
    from _object_floor import build

    if not sysconfig.get_config_var("Py_GIL_DISABLED"):
        sys.exit("threads: this interpreter is not free-threaded (use 3.14t)")
    if sys.version_info >= (3, 13) and sys._is_gil_enabled():
        sys.exit("threads: the GIL is enabled: a module imported here does not declare itself free-threading safe")

    lines = (args.workloads / "short_lines.txt").read_text(encoding="utf-8").splitlines()
    counts = [len(parse_str(fresh_copy(line))[1]) for line in lines]
    results: dict[str, Any] = {
        "parse_str": scaling(parse_pass, lines, counts, args.seconds, args.rounds),
        "floor": scaling(floor_pass(build), lines, counts, args.seconds, args.rounds),
    }
    results["python"] = sys.version
    results["load_average"] = os.getloadavg()
    if args.out:
        args.out.write_text(json.dumps(results, indent=1))
    for name in ("parse_str", "floor"):
        ratios = results[name]["ratios"]
        print(
            f"threads: {name} on the dialogue lines, 2 threads / 1 thread throughput: "
            f"{results[name]['ratio']:.2f} (median of {len(ratios)}, {min(ratios):.2f} to {max(ratios):.2f}); "
            f"in CPU time {results[name]['cpu_ratio']:.2f}"
        )
    print(
        "threads: load average (1, 5, 15 min) at the end: "
        + ", ".join(f"{load:.2f}" for load in results["load_average"])
    )


if __name__ == "__main__":
    main()
