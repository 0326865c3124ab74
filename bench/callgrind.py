"""Instructions per line, counted by valgrind's callgrind: exact counts where
times on a shared machine move by a third between runs.

    python bench/callgrind.py --workloads DIR --floor-dir DIR [--out JSON]

For each workload of lines (the dialogue lines, the ASCII lines, the CJK,
Latin-1 and emoji lines) it runs this same file under valgrind three times, each time counting
only what runs inside one function, called once per line:

- core: the parser core alone, the scan of each line at the width of its
  str, in bench/core_lines.cpp (within the module the scan is inlined into
  parse_str);
- parse_str: the whole call, from the argument check to the returned tuple;
- floor: the object floor's build(text, k), which parses nothing and only
  creates the result objects (bench/object_floor.c).

Freeing the returned objects happens after the call and is counted in none.
As in bench/bench_python.py, the dialogue and ASCII lines are parsed as
read, the CJK, Latin-1 and emoji lines on fresh copies that never had their
UTF-8 asked for. Prints a markdown table and, with --out, writes the counts
as JSON (bench/report.py shows them with the other tables).

The counted functions are named in FUNCTIONS below, the one place to change
when the code is renamed; `nm -C` on the built module shows the names. The
module must keep its symbol table: pip strips it unless installed with
`-C install.strip=false` (bench/run.sh does so; stripping changes no code).
"""

import argparse
import fnmatch
import json
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

# What callgrind's --toggle-collect selects: demangled names with their
# argument lists, '*' and '?' as wildcards. Each pattern must match one
# function (with its aliases, such as a constructor's complete and base
# object symbols), never another one that the first calls.
FUNCTIONS = {
    "core": ("core", "parse_line(*"),
    "parse_str": ("module", "(anonymous namespace)::parse_str(*"),
    "floor": ("floor", "object_floor_build"),
}
WORKLOADS = {
    "short_lines": "dialogue lines",
    "ascii_lines": "ASCII dialogue lines",
    "cjk_lines": "CJK lines",
    "latin1_lines": "Latin-1 lines",
    "emoji_lines": "emoji lines",
}
FRESH = ("cjk_lines", "latin1_lines", "emoji_lines")  # parsed on strs whose UTF-8 was never asked for


def fresh_copy(line: str) -> str:
    return (line + " ")[:-1]  # a new str: see bench_python.fresh_copy


def cache_utf8(lines: list[str]) -> None:
    """Caches each line's UTF-8 inside its str, as PyUnicode_AsUTF8 does for
    any C code that asks for it, without calling anything that is counted.
    parse_str reads the str's own characters and caches nothing; the lines
    parsed as read stand for strs whose UTF-8 other code has asked for."""
    import ctypes

    as_utf8 = ctypes.pythonapi.PyUnicode_AsUTF8AndSize
    as_utf8.argtypes, as_utf8.restype = (ctypes.py_object, ctypes.c_void_p), ctypes.c_void_p
    for line in lines:
        if not as_utf8(line, None):
            raise RuntimeError("cannot encode a line to UTF-8")


def drive(workloads: Path, floor_dir: str, workload: str, call: str) -> None:
    """Runs under valgrind: one call per line of `workload`."""
    from marquill_parsing import parse_str

    lines = (workloads / f"{workload}.txt").read_text(encoding="utf-8").splitlines()
    if workload not in FRESH:
        cache_utf8(lines)
    if call == "floor":
        sys.path.insert(0, floor_dir)
        from _object_floor import build

        # tag counts from copies, so that the lines themselves stay as they were
        pairs = [(line, len(parse_str(fresh_copy(line))[1])) for line in lines]
        for line, k in pairs:
            build(line, k)
    else:
        for line in lines:
            parse_str(line)


def module_paths(python: str, floor_dir: str) -> dict[str, Path]:
    module = subprocess.run(
        [python, "-c", "import marquill_parsing; print(marquill_parsing.__file__)"],
        check=True,
        capture_output=True,
        text=True,
    ).stdout.strip()
    floors = sorted(Path(floor_dir).glob("_object_floor*.so"))
    if not floors:
        sys.exit(f"callgrind: no _object_floor module in {floor_dir}")
    core = Path(floor_dir) / "core_lines"
    if not core.exists():
        sys.exit(f"callgrind: no core_lines program in {floor_dir}")
    return {"module": Path(module), "floor": floors[0], "core": core}


def check_symbols(paths: dict[str, Path]) -> None:
    """Exits with a message when a pattern of FUNCTIONS names no function in
    its file: a renamed function, or a stripped module."""
    for measure, (where, pattern) in FUNCTIONS.items():
        listing = subprocess.run(
            ["nm", "-C", "--defined-only", str(paths[where])], capture_output=True, text=True
        ).stdout
        names = [line.split(" ", 2)[2] for line in listing.splitlines() if line.count(" ") >= 2]
        if not any(fnmatch.fnmatchcase(name, pattern) for name in names):
            hint = (
                "it has no symbol table: reinstall it with pip's -C install.strip=false"
                if not names
                else "change FUNCTIONS in bench/callgrind.py to the name `nm -C` shows"
            )
            sys.exit(f"callgrind: no function matching {pattern!r} ({measure}) in {paths[where]}; {hint}")


def count(python: str, args: argparse.Namespace, workload: str, measure: str) -> int:
    """Instructions executed inside the function of `measure`, over all lines."""
    if measure == "core":
        program = [str(Path(args.floor_dir) / "core_lines"), str(args.workloads / f"{workload}.txt")]
    else:
        call = "floor" if measure == "floor" else "parse_str"
        program = [
            python,
            __file__,
            "--drive",
            workload,
            call,
            "--workloads",
            str(args.workloads),
            "--floor-dir",
            args.floor_dir,
        ]
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "callgrind.out"
        command = [
            "valgrind",
            "--tool=callgrind",
            f"--callgrind-out-file={out}",
            "--collect-atstart=no",
            f"--toggle-collect={FUNCTIONS[measure][1]}",
            *program,
        ]
        # a fixed hash seed, so that dicts and sets, and so the allocator, behave
        # the same in every run; counts still move by a few per line with
        # where the lines land in memory
        run = subprocess.run(command, capture_output=True, text=True, env={**os.environ, "PYTHONHASHSEED": "0"})
        if run.returncode != 0:
            sys.exit(f"callgrind: {' '.join(command)} failed:\n{run.stderr[-3000:]}")
        totals = [line.split()[1] for line in out.read_text().splitlines() if line.startswith(("totals:", "summary:"))]
    instructions = int(totals[0]) if totals else 0
    if instructions == 0:
        sys.exit(f"callgrind: nothing counted in {FUNCTIONS[measure][1]!r} on {workload}: was it called?")
    return instructions


def markdown(counts: dict[str, dict[str, int]]) -> str:
    lines = [
        "| workload | lines | core / line | parse_str / line | floor / line | parse_str − floor | parse_str / floor |",
        "| --- | ---: | ---: | ---: | ---: | ---: | ---: |",
    ]
    for workload, row in counts.items():
        per = {measure: row[measure] / row["lines"] for measure in FUNCTIONS}
        lines.append(
            f"| {WORKLOADS[workload]} | {row['lines']} | {per['core']:.0f} | {per['parse_str']:.0f} | "
            f"{per['floor']:.0f} | {per['parse_str'] - per['floor']:.0f} | "
            f"{per['parse_str'] / per['floor']:.2f} |"
        )
    return "\n".join(lines) + "\n"


def main() -> None:
    parser = argparse.ArgumentParser(description="Instructions per line under callgrind.")
    parser.add_argument("--workloads", required=True, type=Path, help="directory of bench/corpus.py's files")
    parser.add_argument("--floor-dir", required=True, help="directory holding _object_floor")
    parser.add_argument("--out", type=Path, help="where to write the counts as JSON")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="valgrind runs at once")
    parser.add_argument("--drive", nargs=2, metavar=("WORKLOAD", "CALL"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.drive:
        drive(args.workloads, args.floor_dir, *args.drive)
        return

    python = sys.executable
    check_symbols(module_paths(python, args.floor_dir))
    jobs = [(workload, measure) for workload in WORKLOADS for measure in FUNCTIONS]
    with ThreadPoolExecutor(max_workers=args.jobs) as pool:
        totals = dict(zip(jobs, pool.map(lambda job: count(python, args, *job), jobs), strict=True))
    counts = {}
    for workload in WORKLOADS:
        text = (args.workloads / f"{workload}.txt").read_text(encoding="utf-8")
        counts[workload] = {
            "lines": len(text.splitlines()),
            **{measure: totals[workload, measure] for measure in FUNCTIONS},
        }
    if args.out:
        args.out.write_text(
            json.dumps({"functions": {m: p for m, (_, p) in FUNCTIONS.items()}, "counts": counts}, indent=1)
        )
    print(markdown(counts), end="")


if __name__ == "__main__":
    main()
