import time

import pytest

from marquill_parsing import parse_str


@pytest.mark.parametrize(
    "line, expected",
    [
        ("Hello [center]{name}!", ("Hello {}{}!", [(b"a", "center"), (b"r", "name")])),
        ("{}", ("{}", [(b"r", "")])),
        ("x{a}}{b}", ("x{}{}", [(b"r", "a}"), (b"r", "b")])),
        ("x{a{b}c}", ("x{}", [(b"r", "a{b}c")])),
        ("x{a", ("x{a", [])),
        ("x}{a}", ("x}{}", [(b"r", "a")])),
        ("x{a[center]b}y", ("x{}y", [(b"r", "a[center]b")])),
        ("{a}[center]{b}", ("{}{}{}", [(b"r", "a"), (b"a", "center"), (b"r", "b")])),
        ("[font x{a}]", ("[font x{}]", [(b"r", "a")])),
        ("[style {c}][font f]", ("[style {}]{}", [(b"r", "c"), (b"f", "f")])),
        ("{x\0y}", ("{}", [(b"r", "x\0y")])),
        ("ä{ö[font ü]}€{😀", ("ä{}€{😀", [(b"r", "ö[font ü]")])),
    ],
)
def test_raw_blocks(line, expected):
    assert parse_str(line) == expected


# A quadratic look-ahead needs hours for these; a linear scan, milliseconds.
RUN = "{" * (4 << 20)


@pytest.mark.parametrize(
    "line, expected_text, blocks",
    [
        (RUN, RUN, 0),
        (RUN + "tail", RUN + "tail", 0),
        ("}" + RUN, "}" + RUN, 0),
        ("{a}" * (1 << 20) + RUN, "{}" * (1 << 20) + RUN, 1 << 20),
    ],
    ids=["braces", "braces-then-text", "close-then-braces", "blocks-then-braces"],
)
def test_runs_of_open_braces_take_linear_time(line, expected_text, blocks):
    start = time.monotonic()
    text, tags = parse_str(line)
    assert time.monotonic() - start < 60
    assert text == expected_text
    assert tags == [(b"r", "a")] * blocks
