"""parse_str beside the regex equivalent, the reference model and the object
floor, under pyperf, on the workloads that bench/corpus.py wrote.

    python bench/bench_python.py --workloads DIR --floor-dir DIR -o OUT.json [pyperf options]

On the short lines one value is a pass over the whole corpus, each line
handed to the implementation on its own (the floor with the line's tag
count, counted before any timing); every other workload is one call on one
str. All four are timed on the short lines, the markup-free text and the
joined corpus. On the adversarial shapes only parse_str and the floor are:
there the regex equivalent disagrees or goes quadratic, and the model takes
seconds a call. Before any timing the master process checks that the regex
equivalent and the model return exactly what parse_str returns on those
three workloads, that the model does on the adversarial shapes too, and that
the floor builds a str of the text and one pair per tag parse_str finds.
"""

import functools
import sys
import time
from pathlib import Path

import pyperf

import corpus
import regex_equivalent
from marquill_parsing import parse_str

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
import reference_model  # noqa: E402  (found through the path above)

LINES = "short_lines"
TYPICAL = ("markup_free_1mib", "joined_corpus")
ADVERSARIAL = tuple(corpus.adversarial_shapes())


def parsers() -> dict[str, object]:
    """The implementations that take one str."""
    return {"module": parse_str, "regex": regex_equivalent.parse, "model": reference_model.parse}


def timed_parsers(workload: str) -> tuple[str, ...]:
    """Which of parsers() are timed on `workload`; the floor is timed on all."""
    return ("module",) if workload in ADVERSARIAL else ("module", "regex", "model")


def checked_parsers(workload: str) -> tuple[str, ...]:
    """Which of parsers() are checked against parse_str on `workload`."""
    return ("model",) if workload in ADVERSARIAL else ("regex", "model")


class Workloads:
    """The workload files, each read on first use, outside any timing."""

    def __init__(self, directory: str):
        self.directory = Path(directory)

    @functools.cache
    def text(self, name: str) -> str:
        return (self.directory / f"{name}.txt").read_text(encoding="utf-8")

    @functools.cache
    def line_pairs(self) -> tuple[tuple[str, int], ...]:
        """Each short line with the number of tags parse_str finds in it."""
        return tuple((line, len(parse_str(line)[1])) for line in self.text(LINES).splitlines())

    @functools.cache
    def tag_count(self, name: str) -> int:
        return len(parse_str(self.text(name))[1])


def time_lines(loops: int, parse, workloads: Workloads) -> float:
    pairs = workloads.line_pairs()
    start = time.perf_counter()
    for _ in range(loops):
        for line, _k in pairs:
            parse(line)
    return time.perf_counter() - start


def time_lines_floor(loops: int, build, workloads: Workloads) -> float:
    pairs = workloads.line_pairs()
    start = time.perf_counter()
    for _ in range(loops):
        for line, k in pairs:
            build(line, k)
    return time.perf_counter() - start


def time_single(loops: int, parse, workloads: Workloads, name: str) -> float:
    text = workloads.text(name)
    start = time.perf_counter()
    for _ in range(loops):
        parse(text)
    return time.perf_counter() - start


def time_single_floor(loops: int, build, workloads: Workloads, name: str) -> float:
    text, k = workloads.text(name), workloads.tag_count(name)
    start = time.perf_counter()
    for _ in range(loops):
        build(text, k)
    return time.perf_counter() - start


def check_agreement(workloads: Workloads, build) -> None:
    """Exits before any timing if an implementation disagrees with parse_str,
    or if the floor does not build a str of the text and one pair per tag."""
    inputs = {LINES: [line for line, _ in workloads.line_pairs()]}
    inputs.update({name: [workloads.text(name)] for name in TYPICAL + ADVERSARIAL})
    for workload, texts in inputs.items():
        expected = [parse_str(text) for text in texts]
        for name in checked_parsers(workload):
            if [parsers()[name](text) for text in texts] != expected:
                sys.exit(f"bench: {name} disagrees with parse_str on {workload}")
        for text, (_, tags) in zip(texts, expected):
            built_text, pairs = build(text, len(tags))
            if built_text != text or len(pairs) != len(tags):
                sys.exit(f"bench: the floor builds the wrong objects on {workload}")
    print("bench: the regex, the model and the floor agree with parse_str", flush=True)


def load_floor(directory: str):
    sys.path.insert(0, directory)
    import _object_floor

    return _object_floor.build


def add_cmdline_args(cmd: list[str], args) -> None:
    cmd.extend(["--workloads", args.workloads, "--floor-dir", args.floor_dir])


def register(runner: pyperf.Runner, workloads: Workloads, build) -> None:
    for name in timed_parsers(LINES):
        runner.bench_time_func(f"{LINES}/{name}", time_lines, parsers()[name], workloads)
    runner.bench_time_func(f"{LINES}/floor", time_lines_floor, build, workloads)
    for workload in TYPICAL + ADVERSARIAL:
        for name in timed_parsers(workload):
            runner.bench_time_func(f"{workload}/{name}", time_single, parsers()[name], workloads, workload)
        runner.bench_time_func(f"{workload}/floor", time_single_floor, build, workloads, workload)


def main() -> None:
    runner = pyperf.Runner(add_cmdline_args=add_cmdline_args)
    runner.argparser.add_argument("--workloads", required=True, help="directory of bench/corpus.py's files")
    runner.argparser.add_argument("--floor-dir", required=True, help="directory holding _object_floor")
    args = runner.parse_args()
    workloads, build = Workloads(args.workloads), load_floor(args.floor_dir)
    if not args.worker:
        check_agreement(workloads, build)
    register(runner, workloads, build)


if __name__ == "__main__":
    main()
