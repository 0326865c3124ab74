"""The parser's keyword table against the reference model's, row for row;
then every keyword the model knows, as a tag in a few places of a line and
as near misses, against parse_str: a keyword one of them lacks, or one they
read differently, fails here at once, whatever hypothesis happens to draw."""

import pytest

import marquill_parsing
from marquill_parsing import parse_str
from reference_model import ARGUMENT_TAGS, FIXED_TAGS
from reference_model import parse as model_parse
from support import ROOT
from test_interface import STUB


def test_the_parser_and_the_model_have_the_same_keywords():
    table, model = set(marquill_parsing._keywords), set(FIXED_TAGS + ARGUMENT_TAGS)
    for rows, missing_from, has in [
        (table - model, "tests/reference_model.py", "src/parser/keywords.hpp"),
        (model - table, "src/parser/keywords.hpp", "tests/reference_model.py"),
    ]:
        assert not rows, f"{missing_from} lacks the (match, kind) rows {sorted(rows)} of {has}"


@pytest.mark.parametrize("document", [ROOT / "README.md", STUB], ids=lambda path: path.name)
def test_the_documents_show_every_keyword(document):
    """As "[center]" or "[pixel ...]": each tag the parser knows."""
    text = document.read_text(encoding="utf-8")
    missing = [f"[{match.decode()}" for match, _ in marquill_parsing._keywords if f"[{match.decode()}" not in text]
    assert not missing, f"{document.name} does not show {missing}, which src/parser/keywords.hpp has"


# (tag, kind, value) for each keyword: a fixed tag whole, an opener with an argument
TAGS = [(f"[{match.decode()}", kind, match.decode()[:-1]) for match, kind in FIXED_TAGS] + [
    (f"[{match.decode()}é 1]", kind, "é 1") for match, kind in ARGUMENT_TAGS
]

# Lines with the tag at "@": alone, among text, past a first window of 64
# units, on 1-, 2- and 4-byte units, twice in a row, inside an open argument
# tag and between raw blocks.
PLACES = ["@", "a @ b", "x" * 70 + "@.", "ÿ@", "中@文", "😀@", "@@", "[font a@]", "{x}@{y}"]


@pytest.mark.parametrize("place", PLACES)
@pytest.mark.parametrize(("tag", "kind", "value"), TAGS, ids=[tag for tag, _, _ in TAGS])
def test_every_keyword_is_a_tag(tag, kind, value, place):
    line = place.replace("@", tag)
    expected = model_parse(line)
    assert (kind, value) in expected[1]  # the line holds the tag, as the model reads it
    assert parse_str(line) == expected


def near_misses(tag):
    """The tag cut short, with its last letter doubled or dropped, and with
    its first letter in upper case: markup only where the model says so."""
    word_end = tag.index("]" if tag.count(" ") == 0 else " ")
    return [
        tag[:word_end],  # no ']' or space
        tag[: word_end - 1] + tag[word_end:],
        tag[:word_end] + tag[word_end - 1 :],
        tag[0] + tag[1].upper() + tag[2:],
    ]


@pytest.mark.parametrize("line", [miss for tag, _, _ in TAGS for miss in near_misses(tag)])
def test_near_misses_agree_with_the_model(line):
    assert parse_str(line) == model_parse(line)
    assert parse_str(f"[font {line}]") == model_parse(f"[font {line}]")
