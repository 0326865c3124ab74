"""The example's renderer on the pixel arguments the markup allows."""

import importlib.util

import pytest

from support import ROOT

DEMO_PATH = ROOT / "examples" / "demo.py"
demo_loader = importlib.util.spec_from_file_location("demo", DEMO_PATH)
demo = importlib.util.module_from_spec(demo_loader)
demo_loader.loader.exec_module(demo)


@pytest.mark.parametrize(
    "line, rendered",
    [
        ("[pixel ]x", "x"),
        ("[pixel abc]x", "x"),
        ("[pixel 1.5]x", "x"),
        ("[pixel 6]x", "   x"),
        ("[pixel -6]x", " x"),
        ("[pixel 1000000000000]x", " " * demo.WIDTH + "x"),
    ],
)
def test_any_pixel_argument_renders(line, rendered):
    assert demo.render(line) == rendered.ljust(demo.WIDTH)
