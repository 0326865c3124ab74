"""Time per line and throughput of parse_str beside the regex a user would
write (regex_equivalent.py), the figures the README's speed section shows.
A quick check with timeit-style loops, not the pyperf suite of run.sh:

    python bench/per_line.py [ROUNDS]

with a python that has the module installed. Each round times one pass of
each parser over each workload, the parsers taking turns, so that a burst of
other work on the machine falls on both; the median pass is reported. The
dialogue lines are the same str objects every pass, as in a program that
parses its lines again.
"""

import statistics
import sys
import time
from collections.abc import Callable

import corpus
import regex_equivalent
from marquill_parsing import parse_str

PARSERS = {"parse_str": parse_str, "regex": regex_equivalent.parse}


def workloads() -> dict[str, list[str]]:
    joined = corpus.joined_corpus()
    return {
        "dialogue lines": corpus.short_lines(),
        f"the dialogue joined into one str ({len(joined.encode()) / 1e6:.2f} MB)": [joined],
        "1 MiB of markup-free text": [corpus.markup_free()],
    }


def pass_time(parse: Callable[[str], object], lines: list[str]) -> float:
    start = time.perf_counter()
    for line in lines:
        parse(line)
    return time.perf_counter() - start


def main() -> None:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 15
    print(f"CPython {sys.version.split()[0]}, median of {rounds} passes\n")
    print("| workload | parser | time per line | throughput | regex / parse_str |")
    print("| --- | --- | ---: | ---: | ---: |")
    for name, lines in workloads().items():
        assert all(parse_str(line) == regex_equivalent.parse(line) for line in lines), name
        size = sum(len(line.encode()) for line in lines)
        times: dict[str, list[float]] = {label: [] for label in PARSERS}
        for _ in range(rounds):
            for label, parse in PARSERS.items():
                times[label].append(pass_time(parse, lines))
        medians = {label: statistics.median(values) for label, values in times.items()}
        for label, seconds in medians.items():
            per_line = f"{seconds / len(lines) * 1e9:,.0f} ns" if len(lines) > 1 else "—"
            ratio = f"{medians['regex'] / seconds:.1f}" if label == "parse_str" else ""
            print(f"| {name} | {label} | {per_line} | {size / seconds / 1e6:,.0f} MB/s | {ratio} |")


if __name__ == "__main__":
    main()
