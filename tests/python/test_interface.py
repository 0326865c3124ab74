"""The module as callers and their tools see it."""

import inspect
import sys
import sysconfig
import threading

import pytest

import marquill_parsing
from marquill_parsing import parse_str
from reference_model import parse as model_parse


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


@pytest.mark.skipif(not FREE_THREADED, reason="needs a free-threaded interpreter")
def test_threads_parse_in_parallel_like_the_model():
    lines = [f"{k}: [font f{k}]line {{v{k}}}[center] ü[pixel {k % 7}]" * (1 + k % 5) for k in range(400)]
    expected = [model_parse(line) for line in lines]
    barrier = threading.Barrier(8)
    results = {}

    def work(slot):
        barrier.wait()
        results[slot] = [parse_str(line) for line in lines]

    threads = [threading.Thread(target=work, args=(slot,)) for slot in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(results[slot] == expected for slot in range(8))
