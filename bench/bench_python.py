"""parse_str beside the regex equivalent, the reference model and the object
floor, under pyperf, on the workloads that bench/corpus.py wrote.

    python bench/bench_python.py --workloads DIR --floor-dir DIR -o OUT.json \
        [--checks-out CHECKS.json] [pyperf options]

On a workload of lines one value is a pass over all its lines, each line
handed to the implementation on its own (the floor with the line's tag
count, counted before any timing); every other workload is one call on one
str. On the dialogue lines and the ASCII lines every pass sees the same str
objects. The CJK, Latin-1 and emoji lines are parsed once each on a fresh
str every pass, made before the pass's clock starts: parse_str reads the
str's own characters and leaves nothing cached in it, and fresh strs keep a
pass from gaining by anything an earlier call might leave (the checks below
count the strs whose size a call changed; bench/callgrind.py counts the same
case in instructions).

Timed: parse_str and the floor everywhere; the regex equivalent on every
workload but the adversarial shapes, where it disagrees or goes quadratic;
the model on the dialogue lines, the markup-free text and the joined corpus
only, since it takes seconds a call on the adversarial shapes; and
text.find("\0") on the markup-free text, a scan of the same str for one
character that is not there. Before any timing the master process checks
that the regex equivalent and the model return exactly what parse_str
returns on every workload of lines and every typical one, that the model
does on the adversarial shapes too, that the floor builds a str equal to the
text and one pair per tag parse_str finds, that the Latin-1 and emoji lines
are strs of the width their name says, and that the fresh copies are new
objects that hold no UTF-8. It also records, for every width of str, on how
many fresh strs parse_str changed sys.getsizeof (a cache left behind), and
writes it to --checks-out.
"""

import argparse
import functools
import json
import operator
import sys
import time
from collections.abc import Callable
from pathlib import Path

import pyperf

import corpus
import regex_equivalent
from callgrind import cache_utf8
from marquill_parsing import parse_str

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
import reference_model  # noqa: E402  (found through the path above)

LINES = "short_lines"
ASCII_LINES = "ascii_lines"
CJK_LINES = "cjk_lines"
LATIN1_LINES = "latin1_lines"
EMOJI_LINES = "emoji_lines"
LINE_WORKLOADS = (LINES, ASCII_LINES, CJK_LINES, LATIN1_LINES, EMOJI_LINES)
FRESH = (CJK_LINES, LATIN1_LINES, EMOJI_LINES)  # parsed on new str objects every pass
MARKUP_FREE = "markup_free_1mib"
TYPICAL = (MARKUP_FREE, "joined_corpus")
ADVERSARIAL = tuple(corpus.adversarial_shapes())


# (template, [(kind, value), ...]), from a parser or from the floor
Result = tuple[str, list[tuple[bytes, str]]]
Parse = Callable[[str], Result]
Build = Callable[[str, int], Result]  # the object floor's build(text, k)


def parsers() -> dict[str, Parse]:
    """The implementations that take one str."""
    return {"module": parse_str, "regex": regex_equivalent.parse, "model": reference_model.parse}


def timed_parsers(workload: str) -> tuple[str, ...]:
    """Which of parsers() are timed on `workload`; the floor is timed on all."""
    if workload in ADVERSARIAL:
        return ("module",)
    if workload in (ASCII_LINES, *FRESH):
        return ("module", "regex")
    return ("module", "regex", "model")


def checked_parsers(workload: str) -> tuple[str, ...]:
    """Which of parsers() are checked against parse_str on `workload`."""
    return ("model",) if workload in ADVERSARIAL else ("regex", "model")


def fresh_copy(line: str) -> str:
    """A new str equal to `line`, made at run time, so it holds nothing
    cached in `line`, such as its UTF-8 (slicing the whole of a str or joining
    one str gives back the same object; this slice is shorter than the
    concatenation it cuts, so it cannot)."""
    return (line + " ")[:-1]


def find_nul(text: str) -> int:
    """A scan of the whole str for a character it does not hold: the
    interpreter's own pass over a str's characters, at memchr's speed."""
    return text.find("\0")


def fresh_pairs(pairs: tuple[tuple[str, int], ...]) -> list[tuple[str, int]]:
    copies = [(fresh_copy(line), k) for line, k in pairs]
    if any(map(operator.is_, (line for line, _ in copies), (line for line, _ in pairs))):
        raise RuntimeError("bench: a fresh copy is the line itself")
    return copies


class Workloads:
    """The workload files, each read on first use, outside any timing."""

    def __init__(self, directory: str):
        self.directory = Path(directory)

    @functools.cache  # noqa: B019 (one Workloads lives as long as the run)
    def text(self, name: str) -> str:
        return (self.directory / f"{name}.txt").read_text(encoding="utf-8")

    @functools.cache  # noqa: B019 (one Workloads lives as long as the run)
    def line_pairs(self, name: str) -> tuple[tuple[str, int], ...]:
        """Each line of `name` with the number of tags parse_str finds in it.
        The lines of a FRESH workload are copies, new strs that no call has
        seen."""
        pairs = tuple((line, len(parse_str(line)[1])) for line in self.text(name).splitlines())
        return tuple(fresh_pairs(pairs)) if name in FRESH else pairs

    @functools.cache  # noqa: B019 (one Workloads lives as long as the run)
    def tag_count(self, name: str) -> int:
        return len(parse_str(self.text(name))[1])


def time_lines(loops: int, parse: Parse, workloads: Workloads, name: str) -> float:
    pairs = workloads.line_pairs(name)
    start = time.perf_counter()
    for _ in range(loops):
        for line, _k in pairs:
            parse(line)
    return time.perf_counter() - start


def time_lines_floor(loops: int, build: Build, workloads: Workloads, name: str) -> float:
    pairs = workloads.line_pairs(name)
    start = time.perf_counter()
    for _ in range(loops):
        for line, k in pairs:
            build(line, k)
    return time.perf_counter() - start


def time_fresh_lines(loops: int, parse: Parse, workloads: Workloads, name: str) -> float:
    pairs, elapsed = workloads.line_pairs(name), 0.0
    for _ in range(loops):
        copies = fresh_pairs(pairs)  # the previous pass's copies are freed here, untimed
        start = time.perf_counter()
        for line, _k in copies:
            parse(line)
        elapsed += time.perf_counter() - start
    return elapsed


def time_fresh_lines_floor(loops: int, build: Build, workloads: Workloads, name: str) -> float:
    pairs, elapsed = workloads.line_pairs(name), 0.0
    for _ in range(loops):
        copies = fresh_pairs(pairs)
        start = time.perf_counter()
        for line, k in copies:
            build(line, k)
        elapsed += time.perf_counter() - start
    return elapsed


def time_single(loops: int, parse: Parse, workloads: Workloads, name: str) -> float:
    text = workloads.text(name)
    start = time.perf_counter()
    for _ in range(loops):
        parse(text)
    return time.perf_counter() - start


def time_single_floor(loops: int, build: Build, workloads: Workloads, name: str) -> float:
    text, k = workloads.text(name), workloads.tag_count(name)
    start = time.perf_counter()
    for _ in range(loops):
        build(text, k)
    return time.perf_counter() - start


def check_fresh_copies(workloads: Workloads, name: str) -> None:
    """A fresh copy must be a new, equal str without the UTF-8 cached in the
    original (which sys.getsizeof counts)."""
    lines = [line for line, _ in workloads.line_pairs(name)]
    cache_utf8(lines)
    for line in lines:
        copy = fresh_copy(line)
        if copy is line or copy != line or (not line.isascii() and sys.getsizeof(copy) >= sys.getsizeof(line)):
            sys.exit(f"bench: a fresh copy of a line of {name} is not a new str without UTF-8")


WIDTHS = ("ASCII", "Latin-1", "BMP", "astral")


def str_width(text: str) -> str:
    """Which of WIDTHS a str's widest character needs."""
    widest = max(text, default="\0")
    return WIDTHS[(widest > "\x7f") + (widest > "\xff") + (widest > "\uffff")]


def check_widths(workloads: Workloads) -> None:
    """The Latin-1 lines must be strs of one byte a character but not ASCII,
    the emoji lines strs of four."""
    for name, width in ((LATIN1_LINES, "Latin-1"), (EMOJI_LINES, "astral")):
        if any(str_width(line) != width for line, _ in workloads.line_pairs(name)):
            sys.exit(f"bench: a line of {name} is not a {width} str")


def getsizeof_changes(workloads: Workloads) -> dict[str, dict[str, int]]:
    """For every width of str: how many fresh strs were parsed, and after how
    many of those sys.getsizeof(str) had changed."""
    counts = {width: {"strs": 0, "changed": 0} for width in WIDTHS}
    texts = [line for name in LINE_WORKLOADS for line, _ in workloads.line_pairs(name)]
    for text in texts + [workloads.text(name) for name in TYPICAL]:
        copy = fresh_copy(text)
        size = sys.getsizeof(copy)
        parse_str(copy)
        counts[str_width(copy)]["strs"] += 1
        counts[str_width(copy)]["changed"] += sys.getsizeof(copy) != size
    if not all(count["strs"] for count in counts.values()):
        sys.exit(f"bench: the workloads lack a width of str: {counts}")
    return counts


def check_agreement(workloads: Workloads, build: Build) -> None:
    """Exits before any timing if an implementation disagrees with parse_str,
    or if the floor does not build a str equal to the text and one pair per
    tag."""
    inputs = {name: [fresh_copy(line) for line, _ in workloads.line_pairs(name)] for name in LINE_WORKLOADS}
    inputs.update({name: [workloads.text(name)] for name in TYPICAL + ADVERSARIAL})
    for workload, texts in inputs.items():
        expected = [parse_str(text) for text in texts]
        for name in checked_parsers(workload):
            if [parsers()[name](text) for text in texts] != expected:
                sys.exit(f"bench: {name} disagrees with parse_str on {workload}")
        for text, (_, tags) in zip(texts, expected, strict=True):
            built_text, pairs = build(text, len(tags))
            if built_text != text or len(pairs) != len(tags):
                sys.exit(f"bench: the floor builds the wrong objects on {workload}")
    if find_nul(workloads.text(MARKUP_FREE)) != -1:
        sys.exit(f"bench: {MARKUP_FREE} holds a NUL, so find does not scan all of it")
    check_widths(workloads)
    for name in FRESH:
        check_fresh_copies(workloads, name)
    print("bench: the regex, the model and the floor agree with parse_str; the fresh copies are new strs", flush=True)


def load_floor(directory: str) -> Build:
    sys.path.insert(0, directory)
    import _object_floor

    return _object_floor.build


def add_cmdline_args(cmd: list[str], args: argparse.Namespace) -> None:
    cmd.extend(["--workloads", args.workloads, "--floor-dir", args.floor_dir])


def register(runner: pyperf.Runner, workloads: Workloads, build: Build) -> None:
    for workload in LINE_WORKLOADS:
        fresh = workload in FRESH
        for name in timed_parsers(workload):
            runner.bench_time_func(
                f"{workload}/{name}", time_fresh_lines if fresh else time_lines, parsers()[name], workloads, workload
            )
        runner.bench_time_func(
            f"{workload}/floor", time_fresh_lines_floor if fresh else time_lines_floor, build, workloads, workload
        )
    for workload in TYPICAL + ADVERSARIAL:
        for name in timed_parsers(workload):
            runner.bench_time_func(f"{workload}/{name}", time_single, parsers()[name], workloads, workload)
        runner.bench_time_func(f"{workload}/floor", time_single_floor, build, workloads, workload)
    runner.bench_time_func(f"{MARKUP_FREE}/find", time_single, find_nul, workloads, MARKUP_FREE)


def main() -> None:
    runner = pyperf.Runner(add_cmdline_args=add_cmdline_args)
    runner.argparser.add_argument("--workloads", required=True, help="directory of bench/corpus.py's files")
    runner.argparser.add_argument("--floor-dir", required=True, help="directory holding _object_floor")
    runner.argparser.add_argument(
        "--skip-check", action="store_true", help="time without checking agreement first (a run before checked it)"
    )
    runner.argparser.add_argument("--checks-out", help="where to write what the checks found (JSON)")
    args = runner.parse_args()
    workloads, build = Workloads(args.workloads), load_floor(args.floor_dir)
    if not args.worker and not args.skip_check:
        check_agreement(workloads, build)
        if args.checks_out:
            Path(args.checks_out).write_text(json.dumps({"getsizeof_changed": getsizeof_changes(workloads)}, indent=1))
    register(runner, workloads, build)


if __name__ == "__main__":
    main()
