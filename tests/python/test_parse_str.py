import sys

import pytest

import marquill_parsing
from marquill_parsing import parse_str
from support import SAMPLE_LINES, Line


@pytest.mark.parametrize(
    "line, expected",
    [
        ("", ("", [])),
        ("plain text, no markup", ("plain text, no markup", [])),
        ("[center]Hi", ("{}Hi", [(b"a", "center")])),
        ("a[left]b[right]c", ("a{}b{}c", [(b"a", "left"), (b"a", "right")])),
        ("[pixel 50]x", ("{}x", [(b"a", "50")])),
        ("[style red]x[font big]y", ("{}x{}y", [(b"s", "red"), (b"f", "big")])),
        (
            "[nowrap][passport][autowrap][noautowrap]",
            ("{}{}{}{}", [(b"t", "nowrap"), (b"t", "passport"), (b"t", "autowrap"), (b"t", "noautowrap")]),
        ),
        ("[pixel ]x", ("{}x", [(b"a", "")])),
        ("[font a[center]b]", ("[font a{}b]", [(b"a", "center")])),
        ("[pixel 5[nowrap]]z", ("[pixel 5{}]z", [(b"t", "nowrap")])),
        ("a\0[center]b", ("a\0{}b", [(b"a", "center")])),
        ("[pixel \0]", ("{}", [(b"a", "\0")])),
        ("Grüße, [font Ünïcødé 日本]😀!", ("Grüße, {}😀!", [(b"f", "Ünïcødé 日本")])),
        # mostly wide characters, some of them only inside tags: the template
        # is narrower than the line, and must still compare equal
        ("[font 日本😀]x", ("{}x", [(b"f", "日本😀")])),
        ("日本[left]é{😀}", ("日本{}é{}", [(b"a", "left"), (b"r", "😀")])),
    ],
)
def test_bracket_tags(line, expected):
    assert parse_str(line) == expected


def test_result_types():
    text, tags = parse_str("x[center][font é]")
    assert type(text) is str and type(tags) is list
    for pair in tags:
        assert type(pair) is tuple and len(pair) == 2
        kind, value = pair
        assert type(kind) is bytes and len(kind) == 1
        assert type(value) is str


def test_a_line_without_tags_is_its_own_template():
    line = "".join(["plain ", "[text] {"])  # built at run time, not a constant
    text, tags = parse_str(line)
    assert text is line and tags == []
    text, tags = parse_str(Line(line))
    assert type(text) is str and text == line


@pytest.mark.parametrize("line", SAMPLE_LINES)
def test_the_line_keeps_its_size(line):
    """Nothing is left cached in the caller's str, such as its UTF-8."""
    line = (line + " ")[:-1]  # a new str, that no call has touched
    size = sys.getsizeof(line)
    parse_str(line)
    assert sys.getsizeof(line) == size


def test_results_are_new_objects():
    line = "[center]x"
    first, second = parse_str(line), parse_str(line)
    assert first == second and first[1] is not second[1]


def test_str_subclass_is_accepted():
    assert parse_str(Line("[left]x")) == ("{}x", [(b"a", "left")])


@pytest.mark.parametrize("arguments", [(), ("a", "b")])
def test_exactly_one_argument(arguments):
    with pytest.raises(TypeError):
        parse_str(*arguments)


def test_module_and_method_docs_open_with_their_own_lines():
    assert marquill_parsing.__doc__.splitlines()[0] == "I hope it's faster than regular expression"
    assert parse_str.__doc__.splitlines()[0] == "parse marquill string"
