"""parse_str against the pure-Python model, on inputs biased towards markup."""

import json
import os
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from marquill_parsing import parse_str
from reference_model import parse as model_parse

settings.register_profile("default", max_examples=3000, deadline=None)
settings.register_profile("long", max_examples=300_000, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))

KEYWORDS = ["center]", "left]", "right]", "pixel ", "style ", "font ",
            "nowrap]", "passport]", "autowrap]", "noautowrap]"]
FRAGMENTS = (
    ["[" + k for k in KEYWORDS]              # whole tags and openers
    + KEYWORDS                               # keywords without their '['
    + [k[: len(k) // 2] for k in KEYWORDS]   # cut short
    + ["[", "]", "{", "}", "{}", " ", "\0", "a", "xyz", "[Center]", "[pixel", "[center "]
    + ["é", "€", "日本", "😀"]             # 2-, 3- and 4-byte UTF-8
)

fragment = st.sampled_from(FRAGMENTS) | st.text(max_size=3)
run = st.builds(lambda f, k: f * k, st.sampled_from(["{", "[", "]", "}", "[pixel ", "{a}", "[font a"]),
                st.integers(1, 64))
lines = st.lists(fragment | run, max_size=40).map("".join)

REGRESSIONS = Path(__file__).with_name("differential_regressions.json")


def check_against_model(line):
    text, tags = parse_str(line)
    assert (text, tags) == model_parse(line)
    assert text.count("{}") == len(tags)


@given(lines)
def test_matches_model(line):
    check_against_model(line)


@given(st.text())
def test_matches_model_on_any_text(line):
    check_against_model(line)


@pytest.mark.parametrize("line", json.loads(REGRESSIONS.read_text(encoding="utf-8")))
def test_inputs_that_once_failed(line):
    """Inputs that once broke the parser or the model, and the overlapping
    tags that an unguarded scan puts out of order."""
    check_against_model(line)
