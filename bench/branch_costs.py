"""What the scan pays when the processor cannot foresee its branches.

    python bench/branch_costs.py PARSER_BENCH [KERNEL]

PARSER_BENCH is a built parser_bench (bench/run.sh builds one under
build/bench/); KERNEL defaults to the fastest the processor runs. Writes pairs
of workloads of 20,000 lines into a temporary directory, the two of a pair
alike but in one respect: in the first, every line is the same in it, in the
second it varies from line to line at random. The scan of each runs in
parser_bench, the fastest of five repetitions kept, and the table gives the
time a line of each and their difference, which is what the branches on
that respect cost when mispredicted:

- the length of a line, which decides how its windows are read;
- the number of tags in it, which decides when the walk over its marks ends;
- where its tags lie, in the first 64 units or after them, and how near its
  end;
- the kind of its one tag, which decides the rule each mark takes;
- the lines themselves: 2,000 dialogue lines ten times over against 20,000
  different ones, the same bytes in memory, whose branches the processor can
  learn only in the first.
"""

import json
import random
import subprocess
import sys
import tempfile
from collections.abc import Callable
from pathlib import Path

import corpus

LINES = 20_000
ROUNDS = 5

Line = Callable[[random.Random], str]


def prose(rng: random.Random, size: int) -> str:
    """`size` bytes of ASCII words, without markup."""
    words: list[str] = []
    while len(" ".join(words)) < size:
        words.append(rng.choice(corpus.WORDS))
    return " ".join(words)[:size]


def with_tags(tags: list[str], rng: random.Random, size: int = 87) -> str:
    """Prose with `tags` between its words, about `size` bytes in all."""
    words = prose(rng, size - sum(len(tag) + 1 for tag in tags)).split(" ")
    for tag in tags:
        words.insert(rng.randrange(len(words) + 1), tag)
    return " ".join(words)


def at_same_places(tags: list[str], rng: random.Random, size: int = 87) -> str:
    """Prose of `size` bytes in all with `tags` spread over it evenly."""
    piece = (size - sum(len(tag) + 2 for tag in tags)) // (len(tags) + 1)
    return "".join(f"{prose(rng, piece)} {tag} " for tag in tags) + prose(rng, piece)


def repeated_dialogue(count: int) -> Callable[[], list[str]]:
    def lines() -> list[str]:
        first = corpus.short_lines()[:count]
        return first * (LINES // count)

    return lines


def generated(line: Line, seed: int) -> Callable[[], list[str]]:
    def lines() -> list[str]:
        rng = random.Random(seed)
        return [line(rng) for _ in range(LINES)]

    return lines


# respect -> ((name, lines) alike in every line, (name, lines) varying)
PAIRS: dict[str, tuple[tuple[str, Callable[[], list[str]]], tuple[str, Callable[[], list[str]]]]] = {
    "line length": (
        ("87 bytes", generated(lambda rng: prose(rng, 87), 1)),
        ("40 to 120 bytes", generated(lambda rng: prose(rng, rng.randint(40, 120)), 2)),
    ),
    "tags in a line": (
        ("2 [center]", generated(lambda rng: with_tags(["[center]"] * 2, rng), 3)),
        ("0 to 4 [center]", generated(lambda rng: with_tags(["[center]"] * rng.randint(0, 4), rng), 4)),
    ),
    "where its tags lie": (
        ("2 [center] at the same places", generated(lambda rng: at_same_places(["[center]"] * 2, rng), 7)),
        ("2 [center] anywhere", generated(lambda rng: with_tags(["[center]"] * 2, rng), 8)),
    ),
    "kind of its one tag": (
        ("[center]", generated(lambda rng: with_tags(["[center]"], rng), 5)),
        ("any kind", generated(lambda rng: with_tags([corpus.random_tag(rng)], rng), 6)),
    ),
    "the lines": (
        ("2,000 dialogue lines 10 times", repeated_dialogue(2_000)),
        ("20,000 dialogue lines", corpus.short_lines),
    ),
}


def file_name(respect: str, side: int) -> str:
    return f"{respect.replace(' ', '_')}_{side}_lines"


def fastest_kernel(parser_bench: str) -> str:
    listing = subprocess.run(
        [parser_bench, ".", "--benchmark_list_tests=true"], check=True, capture_output=True, text=True
    ).stdout
    return next(name.split("/")[1] for name in listing.split() if name.startswith("parse/"))


def times_per_line(parser_bench: str, directory: Path, kernel: str) -> dict[str, float]:
    """The fastest repetition of each workload, in ns a line."""
    run = subprocess.run(
        [
            parser_bench,
            str(directory),
            f"--benchmark_filter=^parse/{kernel}/",
            f"--benchmark_repetitions={ROUNDS}",
            "--benchmark_min_time=0.1",
            "--benchmark_format=json",
        ],
        check=True,
        capture_output=True,
        text=True,
    )
    best: dict[str, float] = {}
    for result in json.loads(run.stdout)["benchmarks"]:
        if result.get("run_type") != "iteration":
            continue
        assert result["time_unit"] == "ns", result["time_unit"]
        workload = result["name"].split("/")[2]
        best[workload] = min(best.get(workload, float("inf")), result["real_time"] / LINES)
    return best


def main() -> None:
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: branch_costs.py PARSER_BENCH [KERNEL]")
    parser_bench = sys.argv[1]
    kernel = sys.argv[2] if len(sys.argv) == 3 else fastest_kernel(parser_bench)
    with tempfile.TemporaryDirectory() as tmp:
        directory = Path(tmp)
        for respect, sides in PAIRS.items():
            for side, (_, lines) in enumerate(sides):
                text = "\n".join(lines()) + "\n"
                (directory / f"{file_name(respect, side)}.txt").write_text(text, encoding="utf-8")
        times = times_per_line(parser_bench, directory, kernel)
    print(f"kernel {kernel}, the fastest of {ROUNDS} repetitions, ns a line\n")
    print("| varies | alike | ns | varying | ns | cost of the variation |")
    print("| --- | --- | ---: | --- | ---: | ---: |")
    for respect, ((alike, _), (varying, _)) in PAIRS.items():
        steady, random_ = times[file_name(respect, 0)], times[file_name(respect, 1)]
        print(f"| {respect} | {alike} | {steady:.1f} | {varying} | {random_:.1f} | {random_ - steady:+.1f} |")


if __name__ == "__main__":
    main()
