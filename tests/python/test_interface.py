"""The module as callers and their tools see it."""

import ast
import importlib.metadata
import inspect
import platform
import re
import sys
from pathlib import Path

import pytest

import marquill_parsing
from marquill_parsing import parse_str
from support import ROOT, needs_free_threading, new_module, run_child


def test_signatures_are_introspectable():
    assert str(inspect.signature(parse_str)) == "(text, /)"
    assert str(inspect.signature(marquill_parsing.parse_column)) == "(strings, /)"
    assert parse_str.__text_signature__ == "($module, text, /)"


# the stub installed beside the module, or the source tree's where the module
# was built by CMake alone
STUB = next(
    stub
    for stub in [
        Path(marquill_parsing.__file__).with_name("marquill_parsing.pyi"),
        ROOT / "src" / "marquill_parsing" / "marquill_parsing.pyi",
    ]
    if stub.exists()
)


def stub_docs():
    """The doc string of each name the stub defines, and of its methods."""
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    docs = {"": ast.get_docstring(tree)}
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            docs[node.name] = ast.get_docstring(node)
        if isinstance(node, ast.ClassDef):
            docs.update({f"{node.name}.{f.name}": ast.get_docstring(f) for f in node.body if hasattr(f, "name")})
    return docs


def test_doc_strings():
    """The module's and the functions' are one line, which callers compare;
    the stub holds their full text. The type's are the stub's."""
    docs = stub_docs()
    column = marquill_parsing.ParsedColumn
    assert marquill_parsing.__doc__ == "I hope it's faster than regular expression"
    assert parse_str.__doc__ == "parse marquill string"
    assert marquill_parsing.parse_column.__doc__ == "parse every marquill string of an Arrow column"
    assert docs[""] and docs["parse_str"] and docs["parse_column"]
    assert column.__doc__ == docs["ParsedColumn"]
    assert column.__arrow_c_stream__.__doc__ == docs["ParsedColumn.__arrow_c_stream__"]
    assert column.__arrow_c_array__.__doc__ == docs["ParsedColumn.__arrow_c_array__"]


def test_text_is_positional_only():
    with pytest.raises(TypeError):
        parse_str(text="[center]")


def test_public_names_are_the_stubs():
    public = sorted(name for name in dir(marquill_parsing) if not name.startswith("_"))
    assert public == ["ParsedColumn", "parse_column", "parse_str"]
    stub = ast.parse(STUB.read_text(encoding="utf-8"))
    defined = {node.name for node in stub.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
    assert set(public) <= defined


def test_version_is_the_distributions():
    try:
        version = importlib.metadata.version("marquill_parsing")
    except importlib.metadata.PackageNotFoundError:
        # built by CMake alone, as for aarch64, with no metadata installed:
        # the version the build read from pyproject.toml
        pyproject = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
        version = re.search(r'^version = "([^"]+)"$', pyproject, re.MULTILINE)[1]
    assert marquill_parsing.__version__ == version


def test_a_module_not_yet_executed_refuses_calls():
    # what import machinery, a lazy loader or a test tool can hold: the
    # module object the import system made, before its exec step has run
    module = new_module()
    for line in ["plain", "[center]x"]:
        with pytest.raises(SystemError, match="not initialised"):
            module.parse_str(line)
    with pytest.raises(SystemError, match="not initialised"):
        module.parse_column(["x"])


def test_a_fixed_tags_pair_keeps_its_references_across_calls():
    # the pair of a fixed tag may be one tuple that every call hands out: each
    # result must own a reference to it, so that dropping results frees
    # nothing another still holds
    kept = parse_str("[center]")[1][0]
    before = sys.getrefcount(kept)
    for _ in range(1000):
        assert parse_str("x[center]y[nowrap]")[1] == [(b"a", "center"), (b"t", "nowrap")]
    assert sys.getrefcount(kept) == before
    assert kept == (b"a", "center")


# The kernel each processor the wheels are built for has at least; the
# portable one serves any other.
KERNEL_FOR_MACHINE = {"x86_64": "sse2", "AMD64": "sse2", "aarch64": "neon", "arm64": "neon"}


def test_parser_scans_with_the_fastest_kernel_of_its_processor():
    kernels = marquill_parsing._kernels
    assert marquill_parsing._kernel == kernels[0]
    assert kernels[-1] == "portable"
    assert KERNEL_FOR_MACHINE.get(platform.machine(), "portable") in kernels


@needs_free_threading
def test_import_leaves_the_gil_disabled():
    # in an interpreter of its own: a reader of Arrow the column tests import
    # here may have enabled the GIL in this one
    assert run_child("import sys, marquill_parsing; print(sys._is_gil_enabled())") == "False\n"
