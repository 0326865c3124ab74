"""The markup parsed the way a Python user would write it: one compiled
alternation of the keywords (the reference model's table, which the tests
compare with the parser's) and re.sub with a callback that collects the tags.

It agrees with parse_str on well-formed lines such as the benchmark corpus,
where tags do not nest and every brace and argument tag is closed. Unlike
parse_str it goes quadratic on long unclosed runs ('{' or '[pixel ' repeated),
and it reads a block such as x{a}}{b} differently, so the benchmark times it
only on the workloads where it has been checked to agree.
"""

import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from reference_model import ARGUMENT_TAGS, FIXED_TAGS  # noqa: E402  (found through the path above)


def words(rows: tuple[tuple[bytes, bytes], ...], kind: bytes | None = None) -> str:
    """The alternation of the rows' words (of one kind, if given)."""
    return "|".join(re.escape(match[:-1].decode()) for match, row_kind in rows if kind in (None, row_kind))


# the fixed tags in a group for each kind, in the keyword table's order
FIXED_KINDS = {f"fixed_{kind.decode()}": kind for _, kind in FIXED_TAGS}
TAG = re.compile(
    "".join(rf"\[(?P<{group}>{words(FIXED_TAGS, kind)})\]|" for group, kind in FIXED_KINDS.items())
    + rf"\[(?P<opener>{words(ARGUMENT_TAGS)}) (?P<argument>[^\]]*)\]"
    + r"|\{(?P<raw>[^}]*)\}"
)
OPENER_KINDS = {match[:-1].decode(): kind for match, kind in ARGUMENT_TAGS}


def parse(text: str) -> tuple[str, list[tuple[bytes, str]]]:
    """Template and (kind, value) pairs, as parse_str returns them."""
    tags = []

    def collect(match: re.Match[str]) -> str:
        group = match.lastgroup or "raw"  # every alternative ends in a group
        kind = FIXED_KINDS.get(group)
        if kind:
            tags.append((kind, match[group]))
        elif group == "argument":
            tags.append((OPENER_KINDS[match["opener"]], match["argument"]))
        else:
            tags.append((b"r", match["raw"]))
        return "{}"

    return TAG.sub(collect, text), tags
