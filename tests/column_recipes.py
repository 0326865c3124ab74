"""The Python recipes of docs/columns.md and of the README's column section,
each run as it stands: what it prints must be what its `# ` lines promise.
The tests of the engines then take the functions a recipe defined and run
them on more lines than the page shows."""

from __future__ import annotations

import contextlib
import io
import re
from pathlib import Path
from typing import Any

ROOT = Path(__file__).parents[1]
PAGE = (ROOT / "docs" / "columns.md").read_text(encoding="utf-8")
README = (ROOT / "README.md").read_text(encoding="utf-8")
# the module each section of the page needs, by the section's heading
ENGINES = {
    "pyarrow": "pyarrow",
    "Polars": "polars",
    "pandas": "pandas",
    "DuckDB": "duckdb",
    "Spark": "pyspark",
    "Ray Data": "ray",
    "Dask": "dask",
}


def blocks(text: str) -> list[str]:
    """The Python blocks that run: every one but a signature."""
    found = re.findall(r"```python\n(.*?)```", text, re.DOTALL)
    return [block for block in found if not block.startswith("def ")]


def section(text: str, heading: str) -> str:
    return text.split(f"\n## {heading}\n", 1)[1].split("\n## ", 1)[0]


# (the module it needs, the recipe) for each recipe of the page, in order
PAGE_RECIPES = [(module, recipe) for heading, module in ENGINES.items() for recipe in blocks(section(PAGE, heading))]
README_RECIPES = blocks(section(README, "Whole columns"))


def run(recipe: str, namespace: dict[str, Any] | None = None, where: str = "docs/columns.md") -> dict[str, Any]:
    """Runs a recipe in `namespace` (a fresh one by default), checks what it
    prints against its `# ` lines and returns the names it defined."""
    namespace = {"__name__": "recipe"} if namespace is None else namespace
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        exec(compile(recipe, where, "exec"), namespace)
    promised = [line[2:] for line in recipe.splitlines() if line.startswith("# ")]
    shown = printed.getvalue().splitlines()
    assert shown == promised, f"{where} promises {promised}, the recipe printed {shown}"
    return namespace


def prints(recipe: str) -> bool:
    """Whether a recipe shows a result; the others set an engine up."""
    return "\n# " in recipe


def set_up(module: str) -> dict[str, Any]:
    """Runs the page's recipe that sets up the engine of `module`, returning
    its names for the recipes that follow it."""
    (recipe,) = [recipe for needs, recipe in PAGE_RECIPES if needs == module and not prints(recipe)]
    return run(recipe)
