"""The table of ratios from one run of both benchmarks.

    python bench/report.py RESULTS_DIR

Reads RESULTS_DIR/python.json (pyperf) and RESULTS_DIR/cpp.json (Google
Benchmark), prints the table as markdown and writes it to
RESULTS_DIR/table.md. Every ratio is of medians measured in that run: pyperf's
median of a benchmark's values, and Google Benchmark's median aggregate (or
the single run when there were no repetitions).
"""

import json
import operator
import sys
from dataclasses import dataclass
from pathlib import Path

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
    "short_lines": "short lines",
    "markup_free_1mib": "1 MiB markup-free text",
    "joined_corpus": "the corpus joined into one str",
}


def python_rows(times: dict[str, float]) -> list[Row]:
    def ratio(workload: str, over: str, under: str) -> float:
        return times[f"{workload}/{over}"] / times[f"{workload}/{under}"]

    rows = [
        Row("short lines: regex time / module time", ratio("short_lines", "regex", "module"), ">= 4"),
        Row("short lines: module time / object floor time", ratio("short_lines", "module", "floor"), "<= 1.3"),
        Row("1 MiB markup-free text: regex / module", ratio("markup_free_1mib", "regex", "module"), ">= 10"),
        Row("the corpus joined into one str: regex / module", ratio("joined_corpus", "regex", "module"), ">= 4"),
    ]
    for shape, unit in corpus.ADVERSARIAL_UNITS.items():
        rows.append(Row(f"`{unit}` repeated: module 4 MiB time / 2 MiB time",
                        times[f"{shape}_4mib/module"] / times[f"{shape}_2mib/module"], "<= 2.6"))
    return rows


def core_ratio(throughputs: dict[str, float], workload: str) -> float:
    return throughputs[f"parse/{workload}"] / throughputs[f"memcpy/{workload}"]


def cpp_rows(throughputs: dict[str, float]) -> list[Row]:
    return [Row("core on 1 MiB markup-free text: throughput / memcpy throughput",
                core_ratio(throughputs, "markup_free_1mib"), ">= 0.5")]


def context_rows(times: dict[str, float], throughputs: dict[str, float]) -> list[Row]:
    rows = [Row(f"{label}: model time / module time", times[f"{workload}/model"] / times[f"{workload}/module"])
            for workload, label in WORKLOAD_LABELS.items()]
    rows += [Row(f"{WORKLOAD_LABELS[workload]}: module time / object floor time",
                 times[f"{workload}/module"] / times[f"{workload}/floor"])
             for workload in ("markup_free_1mib", "joined_corpus")]
    rows += [Row(f"core on {WORKLOAD_LABELS[workload]}: throughput / memcpy throughput",
                 core_ratio(throughputs, workload))
             for workload in ("short_lines", "joined_corpus")]
    return rows


def markdown(rows: list[Row]) -> str:
    lines = ["| measure | ratio | target | met |", "| --- | ---: | --- | --- |"]
    lines += [f"| {row.measure} | {row.ratio:.2f} | {row.target or '—'} | {row.met() or '—'} |" for row in rows]
    return "\n".join(lines) + "\n"


def main(results: Path) -> None:
    times = python_medians(results / "python.json")
    throughputs = cpp_throughputs(results / "cpp.json")
    table = markdown(python_rows(times) + cpp_rows(throughputs) + context_rows(times, throughputs))
    (results / "table.md").write_text(table, encoding="utf-8")
    print(table, end="")


if __name__ == "__main__":
    main(Path(sys.argv[1]))
