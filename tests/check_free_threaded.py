"""Checks a free-threaded wheel; cibuildwheel runs it against every wheel.

On a free-threaded interpreter (3.14t, 3.15t) it checks that the module that
would be imported is the free-threaded build, and that importing it leaves
the GIL disabled. A module compiled without Py_GIL_DISABLED does not declare
that it can run without the GIL, so the interpreter turns the GIL back on as
it imports it; on Windows such a module also links the default build's DLL
(python314.dll for python314t.dll). On any other interpreter it checks
nothing.
"""

import importlib.util
import sys
import sysconfig
from pathlib import Path
from typing import NoReturn


def fail(message: str) -> NoReturn:
    sys.exit(f"check_free_threaded: {message}")


def gil_enabled() -> bool:
    if sys.version_info >= (3, 13):
        return sys._is_gil_enabled()
    return True


def main() -> None:
    if not sysconfig.get_config_var("Py_GIL_DISABLED"):
        print("check_free_threaded: not a free-threaded interpreter; nothing to check")
        return
    found = importlib.util.find_spec("marquill_parsing")
    if found is None or found.origin is None:
        fail("marquill_parsing is not installed")
    module = Path(found.origin)
    expected = "marquill_parsing" + sysconfig.get_config_var("EXT_SUFFIX")
    if module.name != expected:
        fail(f"{module} is not the free-threaded build ({expected})")
    if sys.platform == "win32":
        dll = f"python{sys.version_info.major}{sys.version_info.minor}t.dll"
        if dll.encode() not in module.read_bytes().lower():
            fail(f"{module.name} does not link {dll}")
    if gil_enabled():
        fail("the GIL is enabled before the import (is PYTHON_GIL set?)")
    import marquill_parsing  # noqa: F401  (the import is what is checked)

    if gil_enabled():
        fail("importing marquill_parsing enabled the GIL")
    print(f"check_free_threaded: {module.name} imported, the GIL still disabled")


if __name__ == "__main__":
    main()
