"""The module as callers and their tools see it."""

import inspect
import sys
import sysconfig

import pytest

import marquill_parsing
from marquill_parsing import parse_str


def test_signature_is_introspectable():
    signature = inspect.signature(parse_str)
    assert str(signature) == "(text, /)"
    assert parse_str.__doc__ == "parse marquill string"
    assert parse_str.__text_signature__ == "($module, text, /)"


def test_text_is_positional_only():
    with pytest.raises(TypeError):
        parse_str(text="[center]")


def test_only_parse_str_is_public():
    assert [name for name in dir(marquill_parsing) if not name.startswith("_")] == ["parse_str"]


FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


@pytest.mark.skipif(not FREE_THREADED, reason="needs a free-threaded interpreter")
def test_import_leaves_the_gil_disabled():
    assert not sys._is_gil_enabled()
