"""parse_str against the pure-Python model, on inputs biased towards markup."""

import functools
import json
import os
import sys
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from marquill_parsing import parse_str
from reference_model import ARGUMENT_TAGS, FIXED_TAGS
from reference_model import parse as model_parse
from support import Line

settings.register_profile("default", max_examples=3000, deadline=None)
settings.register_profile("long", max_examples=300_000, deadline=None, suppress_health_check=[HealthCheck.too_slow])
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))

# What follows a '[' in every tag and opener the model knows: "center]", "pixel ", ...
KEYWORDS = [match.decode() for match, _ in FIXED_TAGS + ARGUMENT_TAGS]
FIXED_TAG_WORDS = [match.decode()[:-1] for match, _ in FIXED_TAGS]
OPENERS = [match.decode() for match, _ in ARGUMENT_TAGS]
FRAGMENTS = (
    ["[" + k for k in KEYWORDS]  # whole tags and openers
    + KEYWORDS  # keywords without their '['
    + [k[: len(k) // 2] for k in KEYWORDS]  # cut short
    + ["[", "]", "{", "}", "{}", " ", "\0", "a", "xyz", "[Center]", "[pixel", "[center "]
    + ["é", "€", "日本", "😀"]  # 2-, 3- and 4-byte UTF-8
)

fragment = st.sampled_from(FRAGMENTS) | st.text(max_size=3)
run = st.builds(
    lambda f, k: f * k, st.sampled_from(["{", "[", "]", "}", "[pixel ", "{a}", "[font a"]), st.integers(1, 64)
)
lines = st.lists(fragment | run, max_size=40).map("".join)

# Characters of each width a str stores, with the ends of each width and of
# UTF-8's sequence lengths (U+07FF, U+0800; U+FFFF, U+10000).
WIDTHS = {
    "ascii": "az \0~",
    "latin-1": "\x80\xa0éøÿ",
    "bmp": "\u0100\u07ff\u0800中文\u2014\ud7ff\ue000\uffff",
    "astral": "\U00010000😀\U0010ffff",
}
MARKUP = st.sampled_from([piece for piece in FRAGMENTS if piece.isascii()])
TEXT = {width: st.text(alphabet=WIDTHS["ascii"] + chars, max_size=6) for width, chars in WIDTHS.items()}


def tags_holding(value):
    """Markup whose values are drawn from `value`, mostly closed."""
    return st.one_of(
        st.sampled_from([f"[{word}]" for word in FIXED_TAG_WORDS]),
        st.builds("[{}{}]".format, st.sampled_from(OPENERS), value),
        st.builds("{{{}}}".format, value),
        st.builds("[{}{}".format, st.sampled_from(OPENERS), value),
    )


TAGS = {width: tags_holding(text) for width, text in TEXT.items()}


def lines_with(inside, outside):
    """Lines whose tags hold characters of the width `inside` and whose
    plain text those of `outside`: wide characters only in tags, only out of
    them, or both, at the same width or at different ones."""
    return st.lists(TEXT[outside] | TAGS[inside] | MARKUP, max_size=12).map("".join)


# every pair of widths, made once: building strategies while drawing is slow
lines_of_every_width = st.one_of([lines_with(inside, outside) for inside in WIDTHS for outside in WIDTHS])

REGRESSIONS = Path(__file__).with_name("differential_regressions.json")


def assert_canonical(strs):
    """str.__eq__ compares storage widths, so a result wider than its widest
    character already differs from the model's; the ASCII flag it does not
    compare, and str.isascii() reads."""
    for piece in strs:
        assert piece.isascii() == all(char < "\x80" for char in piece), ascii(piece)


def check_against_model(line):
    text, tags = parse_str(line)
    assert (text, tags) == model_parse(line)
    assert text.count("{}") == len(tags)
    assert_canonical([text, *(value for _, value in tags)])


@given(lines)
def test_matches_model(line):
    check_against_model(line)


@given(st.text())
def test_matches_model_on_any_text(line):
    check_against_model(line)


def _testcapi_or_none():
    try:
        import _testcapi
    except ImportError:
        return None
    return _testcapi if hasattr(_testcapi, "unicode_copycharacters") else None


_testcapi = _testcapi_or_none()
NO_WIDENING = None if _testcapi else "needs _testcapi.unicode_copycharacters, to make a str wider than its characters"


def widened(line, char):
    """`line` stored as wide as `char` (a str wider than its widest character,
    which only the C API makes), or `line` itself if it is empty or wider
    already."""
    if not line or max(line) > char:
        return line
    return _testcapi.unicode_copycharacters(char * len(line), 0, line, 0, len(line))[0]


# The forms a line is handed over in. An ASCII line widened to one byte a
# character is a str that is not flagged ASCII.
FORMS = {"str": str, "subclass": Line}
if _testcapi:
    FORMS.update(
        {
            f"stored as wide as U+{ord(char):04X}": functools.partial(widened, char=char)
            for char in ("\xff", "\uffff", "\U0010ffff")
        }
    )


@pytest.mark.skipif(NO_WIDENING is not None, reason=str(NO_WIDENING))
@pytest.mark.parametrize("char", ["\xff", "\uffff", "\U0010ffff"])
def test_widened_lines_are_wider_than_their_characters(char):
    line = widened("[center]x", char)
    assert list(line) == list("[center]x")
    assert sys.getsizeof(line) > sys.getsizeof("[center]x")


def check_form_against_model(parse, line, form):
    """`parse` of `line` handed over in `form` against the model's parse."""
    argument = FORMS[form](line)
    expected_text, expected_tags = model_parse(line)
    text, tags = parse(argument)
    assert tags == expected_tags
    if tags or type(argument) is not str:
        assert text == expected_text
        assert_canonical([text])
    else:
        assert text is argument  # a line without tags, returned as it is
    assert_canonical(value for _, value in tags)


@given(lines_of_every_width, st.sampled_from(sorted(FORMS)))
def test_matches_model_on_every_width_and_form(line, form):
    check_form_against_model(parse_str, line, form)


@pytest.mark.parametrize("line", json.loads(REGRESSIONS.read_text(encoding="utf-8")))
def test_inputs_that_once_failed(line):
    """Inputs that once broke the parser or the model, and the overlapping
    tags that an unguarded scan puts out of order."""
    check_against_model(line)
