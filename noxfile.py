"""The test route for any system with a C++ compiler and a CPython 3.10 or
newer, Linux, macOS or Windows alike:

    python -m pip install nox
    nox -s tests                   # on the interpreter nox runs on
    nox -s tests -P 3.13           # on another installed interpreter
    nox -s tests -- -x -k differential

builds the module into a fresh environment, with the test group of
pyproject.toml, and runs the Python suite against it. `make test`, on
Debian, is the whole suite and what CI runs (CONTRIBUTING.md).
"""

import nox

nox.needs_version = ">=2025.2.9"  # the first to read dependency groups
nox.options.sessions = ["tests"]

PYPROJECT = nox.project.load_toml("pyproject.toml")


@nox.session(python=None)
def tests(session: nox.Session) -> None:
    session.install(".", *nox.project.dependency_groups(PYPROJECT, "test"))
    session.run("python", "-m", "pytest", "tests/python", *session.posargs)
