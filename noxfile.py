"""The Python suite on each interpreter the project supports, for any system
with a C++ compiler, Linux, macOS or Windows alike:

    python -m pip install nox
    nox -s tests                   # on every one of PYTHONS installed here
    nox -s tests-3.13              # on one of them
    nox -s tests -P /path/to/python     # on another interpreter
    nox -s tests-3.14 -- -x -k differential   # pytest's arguments after --

Each session builds the module into a fresh environment of its interpreter,
with the test group of pyproject.toml, and runs the Python suite against it.
An interpreter that is not installed is skipped (an error where the
environment variable CI is set); nox never downloads one. MARQUILL_WERROR=ON
in the environment builds the module with warnings as errors, as
`make test-python` (scripts/test-python.sh) does, which runs this session on
the interpreters it builds or finds. `make test`, on Debian, is the whole
suite; CI runs it, and this session on macOS and Windows (CONTRIBUTING.md).
"""

import os

import nox

nox.needs_version = ">=2025.10.14"  # the first to take download_python
nox.options.sessions = ["tests"]

PYPROJECT = nox.project.load_toml("pyproject.toml")
# CPython's releases the module is built for, as [tool.cibuildwheel] lists them
PYTHONS = ["3.10", "3.11", "3.12", "3.13", "3.14", "3.14t", "3.15", "3.15t"]


@nox.session(python=PYTHONS, download_python="never")
def tests(session: nox.Session) -> None:
    werror = f"--config-settings=cmake.define.MARQUILL_WERROR={os.environ.get('MARQUILL_WERROR', 'OFF')}"
    session.install(".", *nox.project.dependency_groups(PYPROJECT, "test"), werror)
    for reader in nox.project.dependency_groups(PYPROJECT, "columns"):
        session.run_install("python", "-m", "pip", "install", "--only-binary", ":all:", reader, success_codes=[0, 1])
    session.run("python", "-c", "import sys; print('== Python tests on', sys.version.split()[0] + sys.abiflags)")
    session.run("python", "-m", "pytest", "tests/python", *session.posargs)
