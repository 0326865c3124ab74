"""parse_column where the data is: the README's examples for Polars, pandas
and DuckDB, run as they stand, and Dask mapping it over a frame's
partitions in other processes."""

import contextlib
import io
import re

import pytest

from marquill_parsing import parse_column
from support import ROOT, reader_or_skip, row_of

pa = reader_or_skip("pyarrow")

README = (ROOT / "README.md").read_text(encoding="utf-8")
SECTION = README.split("\n## Whole columns\n", 1)[1].split("\n## ", 1)[0]
EXAMPLES = re.findall(r"```python\n(.*?)```", SECTION, re.DOTALL)[1:]  # after the signature


def engine_of(example):
    return re.search(r"^import (polars|pandas|duckdb)", example, re.MULTILINE).group(1)


@pytest.mark.parametrize("example", EXAMPLES, ids=engine_of)
def test_readme_example_prints_what_it_says(example):
    reader_or_skip(engine_of(example))
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
    pd = reader_or_skip("pandas")
    dd = reader_or_skip("dask.dataframe")
    lines = [None if k % 9 == 4 else f"Line {k}: [pixel {k}]{{name}} says [center]hi" for k in range(400)]
    frame = pd.DataFrame({"line": pd.Series(lines, dtype=pd.ArrowDtype(pa.large_string()))})
    meta = parse_partition(frame.head(0))
    parsed = dd.from_pandas(frame, npartitions=4).map_partitions(parse_partition, meta=meta)
    rows = [None if row is pd.NA else row for row in parsed.compute(scheduler="processes", num_workers=2)]
    assert rows == [row_of(line) for line in lines]
