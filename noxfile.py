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
environment variable CI is set); nox never downloads one. Beside those on
PATH it finds the CPythons scripts/bootstrap.sh has built into the project's
cache, and its last lines name the interpreters it knows and did not run. MARQUILL_WERROR=ON
in the environment builds the module with warnings as errors, as
`make test-python` (scripts/test-python.sh) does, which runs this session on
the interpreters it builds or finds. `make test`, on Debian, is the whole
suite; CI runs it, and this session on macOS and Windows (CONTRIBUTING.md).

    nox -s engines-3.14            # Spark and Ray Data on a local cluster

runs the tests of the engines that start a cluster, slow to start and large
to install (`make test-engines`, scripts/test-engines.sh); Spark needs Java
17 or newer on PATH.
"""

import atexit
import os
import re
import shutil
import sys
from pathlib import Path

import nox

nox.needs_version = ">=2025.10.14"  # the first to take download_python
nox.options.sessions = ["tests"]

PYPROJECT = nox.project.load_toml("pyproject.toml")
# CPython's releases the module is built for, from [tool.cibuildwheel]'s
# build list: "cp314t-*" is 3.14t
PYTHONS = [
    f"3.{match[1]}{match[2]}"
    for match in (re.fullmatch(r"cp3(\d+)(t?)-\*", build) for build in PYPROJECT["tool"]["cibuildwheel"]["build"])
    if match
]


def offer_built_interpreters() -> None:
    """Puts the CPythons scripts/bootstrap.sh built (complete ones) on the
    end of PATH, through links named as nox looks for them: not their own
    bin directories, since 3.14t's holds a python3.14 too."""
    default_cache = Path(os.environ.get("XDG_CACHE_HOME", Path.home() / ".cache")) / "marquill_parsing"
    cache = Path(os.environ.get("MARQUILL_CACHE", default_cache))
    links = Path(".nox", "built-interpreters")
    shutil.rmtree(links, ignore_errors=True)
    for prefix in sorted(cache.glob("cpython-*")):
        minor = re.fullmatch(r"cpython-(3\.\d+)\.\d+(t?)", prefix.name)
        executable = prefix / "bin" / f"python{minor[1]}{minor[2]}" if minor else None
        if executable and executable.is_file() and (prefix / ".complete").exists():
            links.mkdir(parents=True, exist_ok=True)
            (links / executable.name).symlink_to(executable)
    if links.exists():
        os.environ["PATH"] = os.pathsep.join([os.environ.get("PATH", ""), str(links.resolve())])


offer_built_interpreters()
RAN: list[str] = []


@atexit.register
def say_what_did_not_run() -> None:
    """After nox's summary: the interpreters of PYTHONS the session did not
    run on, and whether nox found them, unless an interpreter was forced."""
    if not RAN or not set(RAN) <= set(PYTHONS) or len(RAN) == len(PYTHONS):
        return
    missing = [python for python in PYTHONS if python not in RAN]
    not_found = [python for python in missing if shutil.which(f"python{python}") is None]
    not_chosen = [python for python in missing if python not in not_found]
    print(
        f"nox: tests ran on {len(RAN)} of the {len(PYTHONS)} interpreters noxfile.py knows: {', '.join(RAN)}",
        file=sys.stderr,
    )
    if not_found:
        print(
            f"nox: not found here (not on PATH, not built by scripts/bootstrap.sh): {', '.join(not_found)}",
            file=sys.stderr,
        )
    if not_chosen:
        print(f"nox: found but not chosen: {', '.join(not_chosen)}", file=sys.stderr)


@nox.session(python=PYTHONS, download_python="never")
def tests(session: nox.Session) -> None:
    RAN.append(str(session.python))
    werror = f"--config-settings=cmake.define.MARQUILL_WERROR={os.environ.get('MARQUILL_WERROR', 'OFF')}"
    session.install(".", *nox.project.dependency_groups(PYPROJECT, "test"), werror)
    readers = [
        reader for reader in nox.project.dependency_groups(PYPROJECT, "columns") if install_reader(session, reader)
    ]
    session.run("python", "-c", "import sys; print('== Python tests on', sys.version.split()[0] + sys.abiflags)")
    # a reader installed here that the tests cannot import fails them
    session.run("python", "-m", "pytest", "tests/python", *session.posargs, env={"MARQUILL_READERS": " ".join(readers)})


@nox.session(python=PYTHONS, download_python="never")
def engines(session: nox.Session) -> None:
    werror = f"--config-settings=cmake.define.MARQUILL_WERROR={os.environ.get('MARQUILL_WERROR', 'OFF')}"
    session.install(".", *nox.project.dependency_groups(PYPROJECT, "test"), werror)
    engines = [
        engine for engine in nox.project.dependency_groups(PYPROJECT, "engines") if install_reader(session, engine)
    ]
    session.run("python", "-c", "import sys; print('== Spark and Ray on', sys.version.split()[0] + sys.abiflags)")
    session.run(
        *("python", "-m", "pytest", "tests/python/test_distributed_engines.py", *session.posargs),
        env={"MARQUILL_READERS": " ".join(engine.split("[")[0] for engine in engines)},
    )


def install_reader(session: nox.Session, reader: str) -> bool:
    """Installs a reader of Arrow from its wheel; False, said in the log,
    where it (or a library it needs) has none for this interpreter. A reader
    with a wheel that fails to install fails the session."""
    name = reader.split("[")[0]
    # pyspark's release is a pure-Python sdist (with the jars Spark runs on)
    sources = ["--no-binary", name] if name == "pyspark" else []
    output = session.run_install(
        *("python", "-m", "pip", "install", "--only-binary", ":all:", *sources, reader),
        success_codes=[0, 1],
        silent=True,
    )
    # pip's words when the reader, or a library it needs, has no wheel here
    if "no matching distribution" in str(output).lower():
        session.log(f"{name}: no wheel for this interpreter; its tests are skipped")
        return False
    found = session.run(
        "python", "-c", f"import importlib.util; print(importlib.util.find_spec({name!r}) is not None)", silent=True
    )
    if str(found).strip() != "True":
        session.error(f"{reader} has a wheel for this interpreter but did not install:\n{output}")
    return True
