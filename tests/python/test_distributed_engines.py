"""Spark and Ray Data, each on a local cluster of two cores, run the recipes
of docs/columns.md as printed, then the functions the recipes define on the
dialogue corpus, the regressions and null lines in several batches, the rows
equal to parse_str's. Their clusters take seconds to start, so each starts
once for the module; `make test-engines` (nox -s engines) runs this file."""

import json
import os
import shutil

import pytest

from column_recipes import PAGE_RECIPES, prints, run, set_up
from support import SAMPLE_LINES, reader_or_skip, row_of

pa = reader_or_skip("pyarrow")

from test_differential import REGRESSIONS  # noqa: E402
from test_parse_column import DIALOGUE  # noqa: E402

LINES = [*DIALOGUE, None, *SAMPLE_LINES, *json.loads(REGRESSIONS.read_text(encoding="utf-8")), None] * 5


def recipe_for(module):
    (recipe,) = [recipe for needs, recipe in PAGE_RECIPES if needs == module and prints(recipe)]
    return recipe


@pytest.fixture(scope="module")
def spark():
    """The page's SparkSession, and PYSPARK_PYTHON as it was before."""
    reader_or_skip("pyspark")
    if not shutil.which("java") and "JAVA_HOME" not in os.environ:
        pytest.skip("Spark needs Java 17 or newer, and there is no java on PATH (make test-engines installs it)")
    before = os.environ.get("PYSPARK_PYTHON")
    namespace = set_up("pyspark")
    yield namespace
    namespace["spark"].stop()
    os.environ.pop("PYSPARK_PYTHON")
    if before is not None:
        os.environ["PYSPARK_PYTHON"] = before


@pytest.fixture(scope="module")
def ray():
    ray = reader_or_skip("ray")
    reader_or_skip("ray.data")
    namespace = set_up("ray")
    yield namespace
    ray.shutdown()


def test_spark_runs_the_recipe_without_a_cast(spark):
    recipe = run(recipe_for("pyspark"), dict(spark))
    session = spark["spark"]
    session.conf.set("spark.sql.execution.arrow.maxRecordsPerBatch", "100")  # several batches a partition
    lines = session.createDataFrame([(line,) for line in LINES], "line string")  # a partition a core
    rows = lines.mapInArrow(recipe["parse_batches"], recipe["SCHEMA"]).collect()
    assert [row.line for row in rows] == LINES
    assert [spark_row(row.parsed) for row in rows] == [row_of(line) for line in LINES]


def spark_row(parsed):
    """A Spark Row of a parsed line as pyarrow reads it: Spark reads binary as
    bytearray. Only a null line has no template."""
    if parsed is None or parsed.template is None:
        return row_of(None)
    tags = [{"kind": bytes(tag.kind), "value": tag.value} for tag in parsed.tags]
    return {"template": parsed.template, "tags": tags}


def test_ray_runs_the_recipe(ray):
    recipe = run(recipe_for("ray"), dict(ray))
    lines = recipe["ray"].data.from_arrow(pa.table({"k": range(len(LINES)), "line": LINES}))
    parsed = lines.map_batches(recipe["parse_batch"], batch_format="pyarrow", batch_size=97)
    rows = sorted(parsed.take_all(), key=lambda row: row["k"])
    assert [row["line"] for row in rows] == LINES
    assert [row["parsed"] for row in rows] == [row_of(line) for line in LINES]
