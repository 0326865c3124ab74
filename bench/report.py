"""The tables of one run of the benchmarks.

    python bench/report.py RESULTS_DIR

Reads what RESULTS_DIR holds of python.json (pyperf), checks.json (the
findings of bench/bench_python.py's checks), cpp.json (Google Benchmark),
callgrind.json (bench/callgrind.py) and threads.json (bench/threads.py),
prints the tables as markdown and writes them to
RESULTS_DIR/table.md. Every ratio of times is of medians measured in one
run: pyperf's median of a benchmark's values, and Google Benchmark's median
aggregate (or the single run when there were no repetitions). The table of
README.md's Speed section is among them, from python.json and the workloads
in RESULTS_DIR/workloads.
"""

import json
import operator
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import pyperf

import corpus


@dataclass
class Row:
    measure: str
    ratio: float
    target: str = ""  # such as ">= 4"; empty for a row shown for context

    def met(self) -> str:
        if not self.target:
            return ""
        compare = {">=": operator.ge, "<=": operator.le}[self.target.split()[0]]
        return "yes" if compare(self.ratio, float(self.target.split()[1])) else "**no**"

    def shown(self) -> str:
        return f"{self.ratio:.2f}"


@dataclass
class NeverRow:
    """Whether something happened that should never happen."""

    measure: str
    happened: bool
    target: str = "never"

    def met(self) -> str:
        return "**no**" if self.happened else "yes"

    def shown(self) -> str:
        return "yes" if self.happened else "no"


def python_medians(path: Path) -> dict[str, float]:
    suite = pyperf.BenchmarkSuite.load(str(path))
    return {bench.get_name(): bench.median() for bench in suite.get_benchmarks()}


def cpp_throughputs(path: Path) -> dict[str, float]:
    """Bytes per second by benchmark name: the median over repetitions, if any."""
    runs = json.loads(path.read_text())["benchmarks"]
    medians = {run["run_name"]: run["bytes_per_second"] for run in runs if run.get("aggregate_name") == "median"}
    if medians:
        return medians
    return {run["run_name"]: run["bytes_per_second"] for run in runs if run.get("run_type") == "iteration"}


WORKLOAD_LABELS = {
    "short_lines": "dialogue lines",
    "ascii_lines": "ASCII dialogue lines",
    "cjk_lines": "CJK lines, each parsed once on a fresh str",
    "latin1_lines": "Latin-1 lines, each parsed once on a fresh str",
    "emoji_lines": "emoji lines, each parsed once on a fresh str",
    "markup_free_1mib": "1 MiB markup-free text",
    "joined_corpus": "the joined text (the dialogue lines in one str)",
}


def python_rows(times: dict[str, float]) -> list[Row]:
    def ratio(workload: str, over: str, under: str) -> Row:
        names = {"module": "parse_str", "floor": "floor"}
        return Row(
            f"{WORKLOAD_LABELS[workload]}: {names.get(over, over)} / {names.get(under, under)}",
            times[f"{workload}/{over}"] / times[f"{workload}/{under}"],
        )

    def target(row: Row, goal: str) -> Row:
        row.target = goal
        return row

    rows = [target(ratio("short_lines", "regex", "module"), ">= 6")]
    rows += [
        target(ratio(workload, "module", "floor"), "<= 1.3")
        for workload in ("short_lines", "ascii_lines", "cjk_lines", "latin1_lines", "emoji_lines", "joined_corpus")
    ]
    rows += [
        target(ratio("cjk_lines", "regex", "module"), ">= 3.5"),
        target(ratio("joined_corpus", "regex", "module"), ">= 5"),
        target(ratio("markup_free_1mib", "regex", "module"), ">= 100"),
        Row(
            f'{WORKLOAD_LABELS["markup_free_1mib"]}: parse_str throughput / text.find("\\0") throughput',
            times["markup_free_1mib/find"] / times["markup_free_1mib/module"],
            ">= 0.5",
        ),
    ]
    for shape, unit in corpus.ADVERSARIAL_UNITS.items():
        rows.append(
            Row(
                f"`{unit}` repeated: parse_str 4 MiB time / 2 MiB time",
                times[f"{shape}_4mib/module"] / times[f"{shape}_2mib/module"],
                "<= 2.6",
            )
        )
    rows += [ratio(workload, "regex", "module") for workload in ("ascii_lines", "latin1_lines", "emoji_lines")]
    rows.append(ratio("markup_free_1mib", "module", "floor"))
    rows += [ratio(workload, "model", "module") for workload in ("short_lines", "markup_free_1mib", "joined_corpus")]
    return rows


# README.md's Speed table: its workloads, each with its label
SPEED_WORKLOADS = {
    "short_lines": "{count:,} dialogue lines of {mean:.0f} bytes on average, one call each",
    "joined_corpus": "the same lines joined into one str of {megabytes:.2f} MB",
    "markup_free_1mib": "1 MiB of text without markup",
}


def speed_cell(seconds: float, calls: int, size: int) -> str:
    """A pass's time a call, when it made more than one, and its throughput."""
    throughput = f"{size / seconds / 1e6:,.0f} MB/s"
    return f"{seconds / calls * 1e9:,.0f} ns a line, {throughput}" if calls > 1 else throughput


def speed_table(times: dict[str, float], workloads: Path) -> str:
    """README.md's Speed table: parse_str and the regex equivalent, time a
    line and throughput in bytes of UTF-8, and the ratio of their times."""
    lines = ["| workload | `parse_str` | regex | regex / `parse_str` |", "| --- | ---: | ---: | ---: |"]
    for workload, label in SPEED_WORKLOADS.items():
        text = (workloads / f"{workload}.txt").read_text(encoding="utf-8")
        calls = text.splitlines() if workload.endswith("_lines") else [text]
        size = sum(len(call.encode()) for call in calls)
        module, regex = (speed_cell(times[f"{workload}/{name}"], len(calls), size) for name in ("module", "regex"))
        ratio = times[f"{workload}/regex"] / times[f"{workload}/module"]
        shown = label.format(count=len(calls), mean=size / len(calls), megabytes=size / 1e6)
        shown_ratio = f"{ratio:.1f}" if ratio < 100 else f"{ratio:.0f}"
        lines.append(f"| {shown} | {module} | {regex} | {shown_ratio} |")
    return "\n".join(lines) + "\n"


def check_rows(checks: dict[str, Any]) -> list[NeverRow]:
    """The finding of the check that parse_str leaves a str's size alone."""
    changed = checks["getsizeof_changed"]
    where = (
        ", ".join(
            f"{width} {count['changed']} of {count['strs']}" for width, count in changed.items() if count["changed"]
        )
        or "none"
    )
    return [
        NeverRow(
            f"sys.getsizeof(str) changed by parse_str, on fresh strs of every width (changed: {where})",
            any(count["changed"] for count in changed.values()),
        )
    ]


def kernels_of(throughputs: dict[str, float]) -> list[str]:
    """The kernels measured, in the order parser_bench ran them: fastest first."""
    kernels: list[str] = []
    for name in throughputs:
        parts = name.split("/")
        if parts[0] == "parse" and len(parts) == 3 and parts[1] not in kernels:
            kernels.append(parts[1])
    return kernels


def core_ratio(throughputs: dict[str, float], kernel: str, workload: str) -> float:
    return throughputs[f"parse/{kernel}/{workload}"] / throughputs[f"memcpy/{workload}"]


CORE_LABELS = {
    "short_lines": "dialogue lines",
    "ascii_lines": "ASCII dialogue lines",
    "cjk_lines": "CJK lines",
    "latin1_lines": "Latin-1 lines",
    "emoji_lines": "emoji lines",
    "joined_corpus": "the joined text",
}


def cpp_rows(throughputs: dict[str, float]) -> list[Row]:
    kernels = kernels_of(throughputs)
    if not kernels:
        return []
    best = kernels[0]
    rows = [
        Row(
            f"core ({best}) on 1 MiB markup-free text: throughput / memcpy throughput",
            core_ratio(throughputs, best, "markup_free_1mib"),
            ">= 0.5",
        )
    ]
    rows += [
        Row(f"core ({best}) on {label}: throughput / memcpy throughput", core_ratio(throughputs, best, workload))
        for workload, label in CORE_LABELS.items()
        if f"parse/{best}/{workload}" in throughputs
    ]
    # every other kernel beside the best, on the workloads that tell them apart
    rows += [
        Row(
            f"core on {label}: {kernel} / {best} throughput",
            throughputs[f"parse/{kernel}/{workload}"] / throughputs[f"parse/{best}/{workload}"],
        )
        for kernel in kernels[1:]
        for workload, label in (("short_lines", "dialogue lines"), ("joined_corpus", "the joined text"))
        if f"parse/{kernel}/{workload}" in throughputs
    ]
    return rows


def thread_rows(threads: dict[str, Any]) -> list[Row]:
    return [
        Row(
            f"dialogue lines on {threads['python'].split()[0]}t, {name}: 2 threads / 1 thread throughput"
            f" (in CPU time {threads[key]['cpu_ratio']:.2f})",
            threads[key]["ratio"],
        )
        for key, name in (("parse_str", "parse_str"), ("floor", "floor"))
    ]


def callgrind_table(data: dict[str, Any]) -> str:
    import callgrind  # the same table bench/callgrind.py prints

    return callgrind.markdown(data["counts"])


def markdown(rows: list[Row | NeverRow]) -> str:
    lines = ["| measure | ratio | target | met |", "| --- | ---: | --- | --- |"]
    lines += [f"| {row.measure} | {row.shown()} | {row.target or '—'} | {row.met() or '—'} |" for row in rows]
    return "\n".join(lines) + "\n"


def main(results: Path) -> None:
    rows: list[Row | NeverRow] = []
    parts: list[str] = []
    if (results / "python.json").exists():
        times = python_medians(results / "python.json")
        rows += python_rows(times)
        parts.append("README.md's Speed table:\n\n" + speed_table(times, results / "workloads"))
    if (results / "checks.json").exists():
        rows += check_rows(json.loads((results / "checks.json").read_text()))
    if (results / "cpp.json").exists():
        rows += cpp_rows(cpp_throughputs(results / "cpp.json"))
    if (results / "threads.json").exists():
        rows += thread_rows(json.loads((results / "threads.json").read_text()))
    if rows:
        # the rows with a goal first, then those shown for context
        parts.insert(0, markdown([row for row in rows if row.target] + [row for row in rows if not row.target]))
    if (results / "callgrind.json").exists():
        parts.append(
            "Instructions per line (callgrind):\n\n"
            + callgrind_table(json.loads((results / "callgrind.json").read_text()))
        )
    text = "\n".join(parts)
    (results / "table.md").write_text(text, encoding="utf-8")
    print(text, end="")


if __name__ == "__main__":
    main(Path(sys.argv[1]))
