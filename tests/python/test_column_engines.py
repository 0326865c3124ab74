"""parse_column where the data is: every recipe of docs/columns.md and of the
README for the engines that run in this process (Spark's and Ray's are in
test_distributed_engines.py), run as printed; then the functions they define
on the dialogue corpus, the regressions and null lines, each engine's rows
equal to parse_str's."""

import json

import pytest

from column_recipes import ENGINES, PAGE, PAGE_RECIPES, README_RECIPES, blocks, prints, run
from support import SAMPLE_LINES, reader_or_skip, row_of

pa = reader_or_skip("pyarrow")

from test_differential import REGRESSIONS  # noqa: E402
from test_parse_column import DIALOGUE  # noqa: E402

LINES = [*DIALOGUE, None, *SAMPLE_LINES, *json.loads(REGRESSIONS.read_text(encoding="utf-8")), None]
IN_PROCESS = [(module, recipe) for module, recipe in PAGE_RECIPES if module not in ("pyspark", "ray")]
need = reader_or_skip


def recipe_of(module, defining):
    """The namespace of the page's recipe for `module` that defines `defining`."""
    need(module)
    (recipe,) = [recipe for needs, recipe in PAGE_RECIPES if needs == module and f"\n{defining} = " in f"\n{recipe}"]
    return run(recipe)


@pytest.mark.parametrize(
    "module, recipe",
    IN_PROCESS + [("pyarrow", recipe) for recipe in README_RECIPES],
    ids=[f"page-{module}" for module, _ in IN_PROCESS] + ["readme"] * len(README_RECIPES),
)
def test_recipe_prints_what_it_says(module, recipe):
    need(module)
    for imported in ("polars", "pandas", "duckdb", "dask"):
        if f"import {imported}" in recipe:
            need(imported)
    run(recipe)


def test_every_recipe_of_the_page_is_run():
    assert len(PAGE_RECIPES) == len(blocks(PAGE))
    assert all(any(prints(recipe) for needs, recipe in PAGE_RECIPES if needs == module) for module in ENGINES.values())
    assert len(README_RECIPES) == 1


@pytest.mark.parametrize("engine", ["eager", "in-memory", "streaming"])
def test_polars_query(engine):
    pl = need("polars")
    parse_markup = recipe_of("polars", "parse_markup")["parse_markup"]
    frame = pl.DataFrame({"line": LINES * 30}, schema={"line": pl.String})
    if engine == "eager":
        parsed = frame.select(parsed=parse_markup)
    else:
        parsed = frame.lazy().select(parsed=parse_markup).collect(engine=engine)
    assert parsed["parsed"].to_list() == [row_of(line) for line in LINES * 30]


def test_polars_series():
    pl = need("polars")
    from marquill_parsing import parse_column

    assert pl.Series(parse_column(pl.Series(LINES, dtype=pl.String))).to_list() == [row_of(line) for line in LINES]


def test_pandas_series():
    pd = need("pandas")
    parse_series = recipe_of("pandas", "frame")["parse_series"]
    lines = pd.Series(LINES, index=range(7, 7 + len(LINES)), dtype="str")
    parsed = parse_series(lines)
    assert list(parsed.index) == list(lines.index)
    assert [None if row is pd.NA else row for row in parsed] == [row_of(line) for line in LINES]


def test_duckdb_query_and_sql_function():
    duckdb = need("duckdb")
    from marquill_parsing import parse_column

    parsed = parse_column(pa.array(LINES))  # noqa: F841 (the query reads it by name)
    table = duckdb.sql("select template, tags from parsed").fetchall()
    rows = [row_of(line) for line in LINES]
    assert table == [(row["template"], row["tags"]) if row else (None, None) for row in rows]

    con = recipe_of("duckdb", "con")["con"]
    con.register("arrow_lines", pa.table({"line": LINES * 3}))
    con.sql("create table lines as select * from arrow_lines")
    # DuckDB gives a null line's row itself, as it does for any function of null
    by_sql = [None if line is None else row for line, row in zip(LINES, rows, strict=True)]
    assert [row for (row,) in con.sql("select parse_markup(line) from lines").fetchall()] == by_sql * 3


def test_dask_maps_it_over_partitions_in_processes():
    pd = need("pandas")
    dd = need("dask.dataframe")
    parse_partition = recipe_of("dask", "parsed")["parse_partition"]
    frame = pd.DataFrame({"line": pd.Series(LINES * 4, dtype=pd.ArrowDtype(pa.large_string()))})
    meta = parse_partition(frame.head(0))
    parsed = dd.from_pandas(frame, npartitions=4).map_partitions(parse_partition, meta=meta)
    rows = [None if row is pd.NA else row for row in parsed.compute(scheduler="processes", num_workers=2)]
    assert rows == [row_of(line) for line in LINES * 4]
