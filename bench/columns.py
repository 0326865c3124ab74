"""parse_column on a whole column against the per-line routes a dataframe
user has without it, on 1,000,000 dialogue lines (the corpus's generator),
side by side in one run:

    python bench/columns.py [--lines N] [--rounds N]

- Polars: pl.Series(parse_column(series)) against series.to_list(), then
  parse_str on each line, then a Polars column of structs built from the
  results;
- pyarrow: pa.chunked_array(parse_column(array)) against
  [parse_str(s) for s in lines] over a ready list, and its throughput in
  bytes of input a second, in turns with that route and in rounds of its
  own (the route makes and frees a million tuples between calls);
- two threads, each given its own half, against one thread given both;
- the peak memory of one call beyond its input, against the bytes of the
  output (measured in a fresh process, Linux only).

Each time is the median of the rounds, the routes interleaved round by
round; the ratios are what to compare, since times here move between runs.
"""

from __future__ import annotations

import argparse
import json
import statistics
import subprocess
import sys
import threading
import time
from collections.abc import Callable
from pathlib import Path

import polars as pl
import pyarrow as pa

from corpus import SEED, SPEAKERS, lines_of, random_word
from marquill_parsing import parse_column, parse_str


def dialogue(count: int) -> list[str]:
    return lines_of(SEED, SPEAKERS, ":", random_word, " ", count=count)


def median_times(routes: dict[str, Callable[[], object]], rounds: int) -> dict[str, float]:
    """Seconds a call, the median of `rounds`, the routes taking turns."""
    times: dict[str, list[float]] = {name: [] for name in routes}
    for _ in range(rounds):
        for name, route in routes.items():
            start = time.perf_counter()
            route()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(samples) for name, samples in times.items()}


def per_line_polars(series: pl.Series) -> pl.Series:
    results = [parse_str(line) for line in series.to_list()]
    rows = [{"template": t, "tags": [{"kind": k, "value": v} for k, v in tags]} for t, tags in results]
    return pl.Series(rows)


def in_threads(halves: list[pa.Array]) -> None:
    threads = [threading.Thread(target=lambda half=half: pa.chunked_array(parse_column(half))) for half in halves]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def peak_memory(count: int) -> dict[str, int]:
    """Run in a fresh process: the input built and settled, the peak resident
    memory reset, then one call; what the peak grew by, and the output's bytes."""

    def status(field: str) -> int:
        for line in Path("/proc/self/status").read_text().splitlines():
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
        raise LookupError(field)

    array = pa.array(dialogue(count), type=pa.large_string())
    Path("/proc/self/clear_refs").write_text("5")  # resets the peak to the present
    before = status("VmHWM")
    parsed = pa.chunked_array(parse_column(array))
    return {"input": array.nbytes, "output": parsed.nbytes, "peak_growth": status("VmHWM") - before}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--lines", type=int, default=1_000_000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--peak-memory", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.peak_memory:
        print(json.dumps(peak_memory(args.lines)))
        return

    lines = dialogue(args.lines)
    array = pa.array(lines, type=pa.large_string())
    series = pl.Series(lines)
    size = array.nbytes - 8 * (len(array) + 1)  # the strings' bytes, without their offsets
    half = len(array) // 2
    halves = [array.slice(0, half), array.slice(half)]
    print(f"{len(lines):,} dialogue lines, {size / 1e6:.1f} MB of UTF-8, {sys.version.split()[0]}")

    polars = median_times(
        {
            "parse_column": lambda: pl.Series(parse_column(series)),
            "per line": lambda: per_line_polars(series),
        },
        max(1, args.rounds // 2),
    )
    print(f"Polars: pl.Series(parse_column(series)) {polars['parse_column'] * 1e3:8.1f} ms")
    print(f"        to_list, parse_str, pl.Series      {polars['per line'] * 1e3:8.1f} ms")
    print(f"        per line / parse_column            {polars['per line'] / polars['parse_column']:8.1f}")

    arrow = median_times(
        {
            "parse_column": lambda: pa.chunked_array(parse_column(array)),
            "parse_str": lambda: [parse_str(line) for line in lines],
            "two threads": lambda: in_threads(halves),
        },
        args.rounds,
    )
    print(
        f"pyarrow: pa.chunked_array(parse_column(array)) {arrow['parse_column'] * 1e3:8.1f} ms, "
        f"{size / arrow['parse_column'] / 1e9:.2f} GB/s of input"
    )
    print(f"         [parse_str(s) for s in lines]         {arrow['parse_str'] * 1e3:8.1f} ms")
    print(f"         parse_str / parse_column              {arrow['parse_str'] / arrow['parse_column']:8.1f}")
    alone = median_times({"parse_column": lambda: pa.chunked_array(parse_column(array))}, args.rounds)
    print(
        f"         the same in rounds of its own          {alone['parse_column'] * 1e3:8.1f} ms, "
        f"{size / alone['parse_column'] / 1e9:.2f} GB/s of input"
    )
    print(
        f"threads: two halves at once                    {arrow['two threads'] * 1e3:8.1f} ms, "
        f"{arrow['parse_column'] / arrow['two threads']:.2f} times one thread's throughput"
    )

    if sys.platform == "linux":
        measured = subprocess.run(
            [sys.executable, __file__, "--peak-memory", "--lines", str(args.lines)],
            check=True,
            capture_output=True,
            text=True,
        )
        memory = json.loads(measured.stdout)
        print(
            f"memory: peak growth {memory['peak_growth'] / 1e6:.1f} MB for an output of "
            f"{memory['output'] / 1e6:.1f} MB: {(memory['peak_growth'] - memory['output']) / 1e6:+.1f} MB beyond it"
        )


if __name__ == "__main__":
    main()
