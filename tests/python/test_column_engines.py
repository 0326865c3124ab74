"""parse_column where the data is: the README's examples for Polars, pandas
and DuckDB, run as they stand, and Dask mapping it over a frame's
partitions in other processes."""

import contextlib
import io
import re
from pathlib import Path

import pytest

from marquill_parsing import parse_column, parse_str

NOT_INSTALLED = "not installed here (some interpreters have no wheel of it)"
pa = pytest.importorskip("pyarrow", reason=f"pyarrow {NOT_INSTALLED}")

README = (Path(__file__).parents[2] / "README.md").read_text(encoding="utf-8")
SECTION = README.split("\n## Whole columns\n", 1)[1].split("\n## ", 1)[0]
EXAMPLES = re.findall(r"```python\n(.*?)```", SECTION, re.DOTALL)[1:]  # after the signature


def engine_of(example):
    return re.search(r"^import (polars|pandas|duckdb)", example, re.MULTILINE).group(1)


@pytest.mark.parametrize("example", EXAMPLES, ids=engine_of)
def test_readme_example_prints_what_it_says(example):
    pytest.importorskip(engine_of(example), reason=f"{engine_of(example)} {NOT_INSTALLED}")
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        exec(compile(example, "README.md", "exec"), {})
    promised = [line[2:] for line in example.splitlines() if line.startswith("# ")]
    assert printed.getvalue().splitlines() == promised


def test_readme_shows_each_engine():
    assert sorted(engine_of(example) for example in EXAMPLES) == ["duckdb", "pandas", "polars"]


def parse_partition(part):
    """One partition's parsed lines, as a pandas Series of Arrow structs."""
    import pandas as pd

    parsed = pa.chunked_array(parse_column(part["line"]))
    return pd.Series(pd.arrays.ArrowExtensionArray(parsed), index=part.index, name="parsed")


def test_dask_maps_it_over_partitions_in_processes():
    pd = pytest.importorskip("pandas", reason=f"pandas {NOT_INSTALLED}")
    dd = pytest.importorskip("dask.dataframe", reason=f"dask's dataframes {NOT_INSTALLED}")
    lines = [None if k % 9 == 4 else f"Line {k}: [pixel {k}]{{name}} says [center]hi" for k in range(400)]
    frame = pd.DataFrame({"line": pd.Series(lines, dtype=pd.ArrowDtype(pa.large_string()))})
    meta = parse_partition(frame.head(0))
    parsed = dd.from_pandas(frame, npartitions=4).map_partitions(parse_partition, meta=meta)
    rows = [None if row is pd.NA else row for row in parsed.compute(scheduler="processes", num_workers=2)]

    def row_of(line):
        if line is None:
            return None
        template, tags = parse_str(line)
        return {"template": template, "tags": [{"kind": kind, "value": value} for kind, value in tags]}

    assert rows == [row_of(line) for line in lines]
