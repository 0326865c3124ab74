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
  output (measured in a fresh process, Linux only);
- what Polars spends importing the result: pl.Series(parsed) against the
  parse itself;
- a dictionary column of 1,000 distinct lines against the same rows as
  plain strings, of large_string and of string_view (a Polars Categorical's),
  and against writing as many bytes as its rows hold into fresh pages: the
  least any route that writes those rows can take;
- the Polars query of docs/columns.md on the streaming engine, in fresh
  processes limited to 1 and to 2 threads (POLARS_MAX_THREADS), in turns;
- DuckDB: parse_column as a SQL function against a query over a
  ParsedColumn; pandas: Series.from_arrow against ArrowExtensionArray;
- the engines' own regular expressions for the same markup (the pattern of
  regex_equivalent.py): Polars str.replace_all and str.extract_all, eager
  and lazy, DuckDB regexp_replace and regexp_extract_all, pyarrow compute;
  each with its count of rows that differ from parse_str's on markup-dense
  lines.

Each time is the median of the rounds, after one untimed call of each
route, the routes interleaved round by round; where a route runs for
seconds (Polars' per-line route, the regex routes), each route in rounds of
its own (own_rounds says why). The ratios are what to
compare, since times here move between runs.
"""

from __future__ import annotations

import argparse
import json
import mmap
import os
import random
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

import duckdb
import pandas as pd
import polars as pl
import pyarrow as pa
import pyarrow.compute as pc

import regex_equivalent
from corpus import SEED, SPEAKERS, lines_of, random_tag, random_word
from marquill_parsing import parse_column, parse_str

# docs/columns.md's expression and SQL type of a parsed line
PARSED = pl.Struct({"template": pl.String, "tags": pl.List(pl.Struct({"kind": pl.Binary, "value": pl.String}))})
PARSE_MARKUP = pl.col("line").map_batches(
    lambda lines: pl.Series(parse_column(lines)), return_dtype=PARSED, is_elementwise=True
)
PARSED_SQL = "struct(template varchar, tags struct(kind blob, value varchar)[])"
TAG = regex_equivalent.TAG.pattern
# markup a regex tends to read otherwise: unclosed and nested openers, stray brackets and braces
BROKEN = ("[pixel ", "[font a", "[style ", "{", "}", "]", "[", "{a}}", "x{a{b}c}", "[center ]", "[Center]")


def dialogue(count: int) -> list[str]:
    return lines_of(SEED, SPEAKERS, ":", random_word, " ", count=count)


def median_times(routes: dict[str, Callable[[], object]], rounds: int) -> dict[str, float]:
    """Seconds a call, the median of `rounds`, the routes taking turns after
    one untimed call each: a process's first call of a route pays for what it
    sets up once, and for memory the system has not yet handed it."""
    for route in routes.values():
        route()
    times: dict[str, list[float]] = {name: [] for name in routes}
    for _ in range(rounds):
        for name, route in routes.items():
            start = time.perf_counter()
            route()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(samples) for name, samples in times.items()}


def own_rounds(routes: dict[str, Callable[[], object]], rounds: int) -> dict[str, float]:
    """median_times, each route in rounds of its own: the engines, and the
    per-line routes' objects, keep the memory they free for their next call,
    where parse_column returns its memory to the system, which on a virtual
    machine may hand it back to the host during a long route, to be faulted
    in again at parse_column's next call."""
    return {name: median_times({name: route}, rounds)[name] for name, route in routes.items()}


def parse_route(column: pa.Array) -> Callable[[], object]:
    return lambda: pa.chunked_array(parse_column(column))


def fresh_pages(nbytes: int) -> Callable[[], None]:
    """A route that writes `nbytes` into pages fresh from the system, advised
    as huge pages as parse_column's are, and lets them go: what writing rows
    of that size costs, whatever computes them."""
    block = b"x" * (1 << 20)

    def write() -> None:
        with mmap.mmap(
            -1, nbytes, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS
        ) as pages:  # shared memory has no huge pages
            if hasattr(mmap, "MADV_HUGEPAGE"):
                pages.madvise(mmap.MADV_HUGEPAGE)
            for start in range(0, nbytes - len(block) + 1, len(block)):
                pages[start : start + len(block)] = block

    return write


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
    # what pyarrow's pool freed while building the array would otherwise leave
    # during the call, and hide as much of the call's own growth
    pa.default_memory_pool().release_unused()
    Path("/proc/self/clear_refs").write_text("5")  # resets the peak to the present
    before = status("VmHWM")
    parsed = pa.chunked_array(parse_column(array))
    return {"input": array.nbytes, "output": parsed.nbytes, "peak_growth": status("VmHWM") - before}


def markup_dense(count: int) -> list[str]:
    """Lines of 4 to 12 pieces, tags, words and a tenth of broken markup, some run together."""
    rng = random.Random(SEED + 29)
    pieces: list[Callable[[], str]] = [lambda: random_tag(rng), lambda: random_word(rng), lambda: rng.choice(BROKEN)]

    def piece() -> str:
        return rng.choices(pieces, (5, 4, 1))[0]() + rng.choice(("", " "))

    return ["".join(piece() for _ in range(rng.randint(4, 12))) for _ in range(count)]


def tags_of(matches: list[str]) -> list[tuple[bytes, str]]:
    """The (kind, value) pairs of a regex route's matched tags, each read by
    itself (not timed: only to compare the rows with parse_str's)."""
    return [pair for match in matches for pair in regex_equivalent.parse(match)[1]]


def regex_routes(lines: pa.Array) -> dict[str, Callable[[], tuple[Any, Any]]]:
    """Each engine's own route to the templates and the tags' text, by the
    pattern TAG: two columns, as the engine gives them."""
    frame = pl.DataFrame({"line": lines})
    replaced = pl.col("line").str.replace_all(TAG, "{}")
    found = pl.col("line").str.extract_all(TAG)
    con = duckdb.connect()
    con.register("lines", pa.table({"line": lines}))
    sql = f"select regexp_replace(line, '{TAG}', '{{}}', 'g'), regexp_extract_all(line, '{TAG}') from lines"

    def polars(result: pl.DataFrame) -> tuple[Any, Any]:
        return result.to_series(0), result.to_series(1)

    def arrow() -> tuple[Any, Any]:
        marked = pc.replace_substring_regex(lines, TAG, "\x1f\\0\x1f")  # each tag between two separators
        return pc.replace_substring_regex(lines, TAG, "{}"), pc.list_slice(pc.split_pattern(marked, "\x1f"), 1, None, 2)

    def duck() -> tuple[Any, Any]:
        result = con.sql(sql).to_arrow_table()
        return result.column(0), result.column(1)

    return {
        "Polars eager": lambda: polars(frame.select(replaced, found.alias("tags"))),
        "Polars lazy": lambda: polars(frame.lazy().select(replaced, found.alias("tags")).collect()),
        "DuckDB": duck,
        "pyarrow compute": arrow,
    }


def listed(column: Any) -> list[Any]:
    rows: list[Any] = column.to_list() if isinstance(column, pl.Series) else column.to_pylist()
    return rows


def wrong_rows(lines: list[str], route: Callable[[], tuple[Any, Any]]) -> int:
    """The rows of a regex route that differ from parse_str's."""
    templates, matches = route()
    return sum(
        parse_str(line) != (template, tags_of(found))
        for line, template, found in zip(lines, listed(templates), listed(matches), strict=True)
    )


def streaming_query(path: str, rounds: int) -> dict[str, float]:
    """Run in a fresh process, POLARS_MAX_THREADS set by the caller: the
    median time of the documented query on the streaming engine."""
    frame = pl.read_ipc(path)
    query = frame.lazy().select(PARSE_MARKUP)
    query.collect(engine="streaming")  # the thread pool started, the pages touched
    return median_times({"query": lambda: query.collect(engine="streaming")}, rounds)


def polars_threads(lines: list[str], rounds: int) -> dict[int, float]:
    """The streaming query's time with 1 and with 2 Polars threads: the
    median of `rounds` processes each, the two taking turns, so that a burst
    of other work on the machine does not fall on one side only."""
    with tempfile.TemporaryDirectory() as directory:
        path = str(Path(directory) / "lines.arrow")
        pl.DataFrame({"line": lines}).write_ipc(path)
        times: dict[int, list[float]] = {1: [], 2: []}
        for _ in range(rounds):
            for threads, samples in times.items():
                measured = subprocess.run(
                    [sys.executable, __file__, "--streaming-query", path, "--rounds", "3"],
                    env={**os.environ, "POLARS_MAX_THREADS": str(threads)},
                    check=True,
                    capture_output=True,
                    text=True,
                )
                samples.append(json.loads(measured.stdout)["query"])
    return {threads: statistics.median(samples) for threads, samples in times.items()}


def engines(
    args: argparse.Namespace, lines: list[str], array: pa.Array, series: pl.Series
) -> list[tuple[str, str, str]]:
    """The engines' routes; prints each and returns the summary's rows."""
    rounds = max(1, args.rounds // 2)
    parsed = parse_column(series)
    polars = median_times({"parse": lambda: parse_column(series), "import": lambda: pl.Series(parsed)}, args.rounds)
    share = polars["import"] / polars["parse"]
    print(
        f"Polars: pl.Series(parsed) {polars['import'] * 1e3:.1f} ms, parse_column(series) "
        f"{polars['parse'] * 1e3:.1f} ms: the import is {share:.1%} of the parse"
    )
    summary = [("Polars: pl.Series(parsed) / parse_column(series)", f"{share:.1%}", "<= 5%")]

    rng = random.Random(SEED + 1)
    picks = [rng.randrange(1000) for _ in range(len(lines))]
    indices = pa.array(picks, type=pa.int32())
    distinct = dialogue(1000)
    decoded = [distinct[k] for k in picks]
    # large_string, and string_view with uint32 indices as a Polars Categorical exports them
    for values, index in ((pa.large_string(), pa.int32()), (pa.string_view(), pa.uint32())):
        dictionary = pa.DictionaryArray.from_arrays(indices.cast(index), pa.array(distinct, type=values))
        plain = pa.array(decoded, type=values)
        rows_bytes = pa.chunked_array(parse_column(dictionary)).nbytes  # views share the values' bytes
        coded = median_times(
            {
                "plain": parse_route(plain),
                "dictionary": parse_route(dictionary),
                "fresh pages": fresh_pages(rows_bytes),
            },
            args.rounds,
        )
        speedup = f"{coded['plain'] / coded['dictionary']:.1f}"
        ceiling = f"{coded['plain'] / coded['fresh pages']:.1f}"
        print(
            f"dictionary of 1,000 {values} lines: {coded['dictionary'] * 1e3:.1f} ms, the same rows plain "
            f"{coded['plain'] * 1e3:.1f} ms: {speedup} times faster; writing its rows' {rows_bytes / 1e6:.1f} MB "
            f"into fresh pages alone takes {coded['fresh pages'] * 1e3:.1f} ms, plain / that {ceiling}"
        )
        summary.append(
            (f"{len(lines):,} rows over 1,000 distinct {values} lines: plain / dictionary time", speedup, ">= 10")
        )
        summary.append(
            (
                f"the same, plain / writing the dictionary's rows ({rows_bytes / 1e6:.0f} MB) into fresh pages",
                ceiling,
                "—",
            )
        )

    threads = polars_threads(lines, args.rounds)
    scaling = threads[1] / threads[2]
    print(
        f"Polars streaming query, POLARS_MAX_THREADS=1: {threads[1] * 1e3:.1f} ms, =2: {threads[2] * 1e3:.1f} ms: "
        f"{scaling:.2f} times"
    )
    summary.append(("Polars streaming query: 2 threads / 1 thread throughput", f"{scaling:.2f}", ">= 1.6"))

    con = duckdb.connect()
    con.create_function("parse_markup", parse_column, ["varchar"], PARSED_SQL, type="arrow")
    con.register("lines", pa.table({"line": array}))
    duck = median_times(
        {
            "function": lambda: con.sql("select parse_markup(line) from lines").to_arrow_table(),
            "query": lambda: con.register("parsed", parse_column(array)).sql("from parsed").to_arrow_table(),
        },
        rounds,
    )
    print(
        f"DuckDB: select parse_markup(line) {duck['function'] * 1e3:.1f} ms, parse_column and "
        f"from parsed {duck['query'] * 1e3:.1f} ms"
    )
    summary.append(
        ("DuckDB: SQL function / parse_column and `from parsed`", f"{duck['function'] / duck['query']:.2f}", "—")
    )

    frame = pd.Series(lines, dtype="str")
    pandas = median_times(
        {
            "from_arrow": lambda: pd.Series.from_arrow(parse_column(frame)),
            "extension": lambda: pd.Series(pd.arrays.ArrowExtensionArray(pa.chunked_array(parse_column(frame)))),
        },
        rounds,
    )
    print(
        f"pandas: Series.from_arrow {pandas['from_arrow'] * 1e3:.1f} ms (dtype object), "
        f"ArrowExtensionArray {pandas['extension'] * 1e3:.1f} ms"
    )
    summary.append(
        ("pandas: Series.from_arrow / ArrowExtensionArray", f"{pandas['from_arrow'] / pandas['extension']:.1f}", "—")
    )

    dense = markup_dense(args.dense_lines)
    dense_routes = regex_routes(pa.array(dense, type=pa.large_string()))
    routes: dict[str, Callable[[], object]] = {"parse_column": lambda: pa.chunked_array(parse_column(array))}
    routes.update(regex_routes(array))
    regex = own_rounds(routes, rounds)
    ours = sum(
        row != {"template": template, "tags": [{"kind": k, "value": v} for k, v in tags]}
        for row, (template, tags) in zip(
            pa.chunked_array(parse_column(pa.array(dense))).to_pylist(),
            (parse_str(line) for line in dense),
            strict=True,
        )
    )
    print(f"regex routes, {len(lines):,} dialogue lines; rows unlike parse_str's of {len(dense):,} markup-dense lines")
    print(f"  parse_column     {regex['parse_column'] * 1e3:8.1f} ms, wrong rows {ours}")
    for name, route in dense_routes.items():
        wrong = wrong_rows(dense, route)
        ratio = regex[name] / regex["parse_column"]
        print(f"  {name:16} {regex[name] * 1e3:8.1f} ms, {ratio:5.1f} times parse_column, wrong rows {wrong}")
        summary.append(
            (f"regex, {name}: time / parse_column's; wrong rows of {len(dense):,}", f"{ratio:.1f}; {wrong}", "—")
        )
    return summary


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--lines", type=int, default=1_000_000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--dense-lines", type=int, default=20_000, help="markup-dense lines the regex routes read")
    parser.add_argument("--peak-memory", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--streaming-query", metavar="PATH", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.peak_memory:
        print(json.dumps(peak_memory(args.lines)))
        return
    if args.streaming_query:
        print(json.dumps(streaming_query(args.streaming_query, args.rounds)))
        return

    lines = dialogue(args.lines)
    array = pa.array(lines, type=pa.large_string())
    series = pl.Series(lines)
    size = array.nbytes - 8 * (len(array) + 1)  # the strings' bytes, without their offsets
    half = len(array) // 2
    halves = [array.slice(0, half), array.slice(half)]
    print(f"{len(lines):,} dialogue lines, {size / 1e6:.1f} MB of UTF-8, {sys.version.split()[0]}")

    polars = own_rounds(
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
    threads = median_times(
        {"one": lambda: pa.chunked_array(parse_column(array)), "two": lambda: in_threads(halves)}, args.rounds
    )
    print(
        f"threads: two halves at once, in turns with one {threads['two'] * 1e3:8.1f} ms, "
        f"{threads['one'] / threads['two']:.2f} times one thread's throughput"
    )

    summary = [
        (
            "parse_column, one thread, in rounds of its own",
            f"{size / alone['parse_column'] / 1e9:.2f} GB/s",
            ">= 1.5 GB/s",
        ),
        (
            "parse_column, two threads each given a half / one thread, throughput",
            f"{threads['one'] / threads['two']:.2f}",
            "—",
        ),
    ]
    summary += engines(args, lines, array, series)

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

    print("\n| figure | measured | goal |\n| --- | ---: | ---: |")
    for figure, measured_value, goal in summary:
        print(f"| {figure} | {measured_value} | {goal} |")


if __name__ == "__main__":
    main()
