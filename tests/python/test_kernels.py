"""Every kernel the processor runs, chosen with MARQUILL_KERNEL, against the
model; and the names the variable refuses."""

import types

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import marquill_parsing
from reference_model import parse as model_parse
from support import new_module
from test_differential import FORMS, check_form_against_model, lines, lines_of_every_width


def module_on_kernel(monkeypatch, name):
    """A new instance of the module, executed with MARQUILL_KERNEL=name."""
    monkeypatch.setenv("MARQUILL_KERNEL", name)
    module = new_module()
    module.__spec__.loader.exec_module(module)
    return module


@pytest.fixture(scope="module", params=marquill_parsing._kernels)
def kernel_module(request):
    with pytest.MonkeyPatch.context() as monkeypatch:
        module = module_on_kernel(monkeypatch, request.param)
    assert module._kernel == request.param
    return module


@settings(max_examples=2000)
@given(lines | st.text() | lines_of_every_width, st.sampled_from(sorted(FORMS)))
def check_kernel(module: types.ModuleType, line: str, form: str) -> None:
    check_form_against_model(module.parse_str, line, form)


def test_kernel_matches_model(kernel_module):
    check_kernel(kernel_module)


@pytest.mark.parametrize("line", ["x" * 200 + "[center]" + "é" * 100 + "{raw}", "[font " + "日本" * 60 + "]"])
def test_kernel_reads_long_lines_as_the_model_does(kernel_module, line):
    assert kernel_module.parse_str(line) == model_parse(line)


@pytest.mark.parametrize("name", ["mmx", "AVX2", "portable ", "neon", "sse2", "avx512"])
def test_a_kernel_the_processor_lacks_is_refused_at_import(monkeypatch, name):
    if name in marquill_parsing._kernels:
        pytest.skip(f"this processor runs {name}")
    with pytest.raises(
        ImportError, match="MARQUILL_KERNEL=.* names no kernel this processor runs; it runs: "
    ) as raised:
        module_on_kernel(monkeypatch, name)
    assert ", ".join(marquill_parsing._kernels) in str(raised.value)


def test_an_empty_name_takes_the_fastest(monkeypatch):
    assert module_on_kernel(monkeypatch, "")._kernel == marquill_parsing._kernels[0]
