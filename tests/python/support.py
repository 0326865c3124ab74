"""What several test files share: sample lines, the conditions tests skip
on, the row a parsed column holds, and running code in threads or in a
child interpreter. A child started by run_child can import this module."""

import ctypes
import importlib
import importlib.util
import os
import subprocess
import sys
import sysconfig
import threading
from pathlib import Path

import pytest

from marquill_parsing import parse_str

ROOT = Path(__file__).parents[2]

# Lines of every width a str stores, each without tags and with them, and
# the edges of the markup: NUL, nested and overlapping tags, braces and
# brackets that make nothing.
SAMPLE_LINES = [
    "",
    "plain words",
    "Hello [center]{name}!",
    "a\0[left]b",
    "x{a}}{b}",
    "{{{",
    "]]]]",
    "[pixel 5[nowrap]]z",
    "[font é[style b]c]",
    "[font x{a}]",
    "café crème",
    "café [font é]ø{ÿ}",
    "灯塔已经黑了——",
    "灯塔[style 粗体]{名字}——",
    "the lamp 😀",
    "😀[passport]{x😀}€",
    "[font 😀]",
]


class Line(str):
    """A subclass's characters are not stored in the object as a compact
    str's are."""


UNDER_SANITIZER = "asan" in os.environ.get("LD_PRELOAD", "")
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
needs_free_threading = pytest.mark.skipif(not FREE_THREADED, reason="needs a free-threaded interpreter")


def reader_or_skip(module):
    """A reader of Arrow's module, or the test skipped where it is missing.
    A run that installed readers names them in MARQUILL_READERS: one of
    those missing fails instead. MARQUILL_LEFT_OUT ("duckdb: why; ...")
    leaves readers out of a run, saying why."""
    reader = module.split(".")[0]
    left_out = dict(
        entry.strip().split(": ", 1) for entry in os.environ.get("MARQUILL_LEFT_OUT", "").split(";") if entry
    )
    if reader in left_out:
        pytest.skip(f"{reader} left out of this run: {left_out[reader]}", allow_module_level=True)
    if reader in os.environ.get("MARQUILL_READERS", "").split():
        return importlib.import_module(module)
    return pytest.importorskip(module, reason=f"{module} is not installed in this environment")


def row_of(line):
    """parse_str's result as the row a parsed column reads back as; a null
    line's row has a null template and null tags."""
    if line is None:
        return {"template": None, "tags": None}
    template, tags = parse_str(line)
    return {"template": template, "tags": [{"kind": kind, "value": value} for kind, value in tags]}


def in_threads(work, count):
    """[work(0), ..., work(count - 1)], each called in a thread of its own,
    all released at once."""
    results = [None] * count
    barrier = threading.Barrier(count)

    def run(k):
        barrier.wait()
        results[k] = work(k)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return results


def run_child(script, *args, timeout=600):
    """What `script` prints, run in a new interpreter that must exit with 0:
    a crash there fails the test, not the run. The child can import this
    module, and starts with the GIL as its build has it by default."""
    environment = {name: value for name, value in os.environ.items() if name != "PYTHON_GIL"}
    environment["PYTHONPATH"] = os.pathsep.join(
        filter(None, [str(Path(__file__).parent), os.environ.get("PYTHONPATH")])
    )
    child = subprocess.run(
        [sys.executable, "-c", script, *map(str, args)],
        env=environment,
        capture_output=True,
        text=True,
        timeout=timeout,
    )
    assert child.returncode == 0, child.stderr
    return child.stdout


# A child whose address space is capped just above what it maps, so that
# allocations past the cap fail.
def cap_address_space(headroom):
    """Caps this process's address space at what it maps now and `headroom` bytes."""
    import resource

    with open("/proc/self/status") as status:
        in_use = next(int(line.split()[1]) for line in status if line.startswith("VmSize")) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (in_use + headroom, resource.RLIM_INFINITY))


def _address_space_cap_applies():
    """Whether a lowered RLIMIT_AS takes: qemu-user reports success and
    ignores it, so that its own allocations do not fail. The probe lowers
    this process's soft limit far above any use, reads it back, restores it."""
    import resource

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    probe = 1 << 46 if hard == resource.RLIM_INFINITY else hard - 1
    try:
        resource.setrlimit(resource.RLIMIT_AS, (probe, hard))
        return resource.getrlimit(resource.RLIMIT_AS)[0] == probe
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))


def _capped_child_unsupported():
    """Why a child with a capped address space cannot run here, or None."""
    if not sys.platform.startswith("linux"):
        return "needs Linux: the child reads /proc/self/status and caps RLIMIT_AS"
    if UNDER_SANITIZER:
        return "AddressSanitizer reserves more address space than the cap leaves"
    if not _address_space_cap_applies():
        return "needs RLIMIT_AS to be applied, which this system ignores (qemu-user does)"
    return None


needs_capped_child = pytest.mark.skipif(
    _capped_child_unsupported() is not None, reason=str(_capped_child_unsupported())
)


class _MallInfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost".split()
    ]


def _mallinfo2():
    """glibc's mallinfo2 (2.33 and newer), or None where there is none."""
    if not sys.platform.startswith("linux"):
        return None
    try:
        function = ctypes.CDLL(None).mallinfo2
    except (OSError, AttributeError):
        return None
    function.restype = _MallInfo2
    return function


MALLINFO2 = _mallinfo2()


def malloced():
    """The bytes malloc has handed out and not had back (MALLINFO2 must be
    there): the module's own allocations and the interpreter's larger ones."""
    info = MALLINFO2()
    return info.uordblks + info.hblkhd


def new_module():
    """A new instance of marquill_parsing, made and not yet executed."""
    found = importlib.util.find_spec("marquill_parsing")
    assert found is not None and found.loader is not None
    return importlib.util.module_from_spec(found)
