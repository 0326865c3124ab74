"""Throughput against input size for parse_str, the regex equivalent, the
reference model and the object floor, on markup-typical text (the corpus
lines joined by newlines, cut to 1 KiB ... 4 MiB), all measured in this run.

    python bench/plot.py --workloads DIR --floor-dir DIR --out PNG [--data JSON]

Each point is the best of a few samples timed with time.perf_counter, a
sample being enough calls to last at least 10 ms. The four are timed one
after the other at each size, after a check that the regex equivalent and the
model return what parse_str returns on that text.
"""

import argparse
import json
import sys
import time
from collections.abc import Callable
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (after the backend is chosen)

import corpus  # noqa: E402
import regex_equivalent  # noqa: E402
from marquill_parsing import parse_str  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
import reference_model  # noqa: E402

SIZES = [1 << shift for shift in range(10, 23, 2)]  # 1 KiB, 4 KiB, ... 4 MiB
MIN_SAMPLE_SECONDS = 0.01
SAMPLES = 5
BUDGET_SECONDS = 2.0  # per point: fewer samples for the slowest calls, but at least two
STYLES = {"module": "o-", "regex": "s--", "model": "^:", "floor": "d-."}


Build = Callable[[str, int], object]  # the object floor's build


def sample(call: Callable[[], object], loops: int) -> float:
    start = time.perf_counter()
    for _ in range(loops):
        call()
    return time.perf_counter() - start


def best_seconds_per_call(call: Callable[[], object]) -> float:
    loops = 1
    while (elapsed := sample(call, loops)) < MIN_SAMPLE_SECONDS:
        loops *= 2
    best, spent, taken = elapsed, elapsed, 1
    while taken < SAMPLES and (taken < 2 or spent < BUDGET_SECONDS):
        elapsed = sample(call, loops)
        best, spent, taken = min(best, elapsed), spent + elapsed, taken + 1
    return best / loops


def calls_for(text: str, build: Build) -> dict[str, Callable[[], object]]:
    k = len(parse_str(text)[1])
    return {
        "module": lambda: parse_str(text),
        "regex": lambda: regex_equivalent.parse(text),
        "model": lambda: reference_model.parse(text),
        "floor": lambda: build(text, k),
    }


def check_agreement(text: str) -> None:
    expected = parse_str(text)
    for name, parse in (("regex", regex_equivalent.parse), ("model", reference_model.parse)):
        if parse(text) != expected:
            sys.exit(f"plot: {name} disagrees with parse_str on {len(text)} characters of the corpus")


def measure(joined: str, build: Build) -> dict[str, list[tuple[int, float]]]:
    """(input bytes, MB/s) for each implementation at each size."""
    points: dict[str, list[tuple[int, float]]] = {name: [] for name in STYLES}
    for size in SIZES:
        text = corpus.repeated(joined + "\n", size)
        check_agreement(text)
        size_bytes = len(text.encode())
        for name, call in calls_for(text, build).items():
            points[name].append((size_bytes, size_bytes / best_seconds_per_call(call) / 1e6))
    return points


def draw(points: dict[str, list[tuple[int, float]]], out: Path) -> None:
    labels = {"module": "parse_str", "regex": "regex equivalent", "model": "reference model", "floor": "object floor"}
    figure, axes = plt.subplots(figsize=(9, 5), dpi=100)
    for name, style in STYLES.items():
        sizes, throughputs = zip(*points[name], strict=True)
        axes.plot(sizes, throughputs, style, label=labels[name])
    axes.set_xscale("log", base=2)
    axes.set_yscale("log")
    axes.set_xticks(SIZES, [f"{size >> 10} KiB" if size < 1 << 20 else f"{size >> 20} MiB" for size in SIZES])
    axes.set_xlabel("input size (markup-typical text)")
    axes.set_ylabel("throughput (MB/s of UTF-8 input)")
    axes.set_title(f"Markup-typical text, one call per input, CPython {sys.version.split()[0]}")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(loc="upper left", bbox_to_anchor=(1.01, 1))
    figure.tight_layout()
    figure.savefig(out)


def main() -> None:
    parser = argparse.ArgumentParser(description="Plots throughput against input size.")
    parser.add_argument("--workloads", required=True, type=Path)
    parser.add_argument("--floor-dir", required=True)
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--data", type=Path, help="where to write the measured points as JSON")
    args = parser.parse_args()
    sys.path.insert(0, args.floor_dir)
    from _object_floor import build

    points = measure((args.workloads / "joined_corpus.txt").read_text(encoding="utf-8"), build)
    if args.data:
        args.data.write_text(json.dumps(points, indent=1))
    draw(points, args.out)
    print(f"plot: wrote {args.out}")


if __name__ == "__main__":
    main()
