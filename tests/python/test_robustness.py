"""Hostile, huge and concurrent use; running out of memory; leaks."""

import gc
import os
import subprocess
import sys
import sysconfig
import textwrap
import threading

import pytest

from marquill_parsing import parse_str
from reference_model import parse as model_parse

UNDER_SANITIZER = "LD_PRELOAD" in os.environ and "asan" in os.environ["LD_PRELOAD"]

MIXED = [
    "",
    "plain",
    "Hello [center]{name}!",
    "[font é[style b]c]",
    "x{a}}{b}",
    "{{{",
    "[pixel 5[nowrap]]z",
    "a\0[left]b",
    "😀[passport]€",
    "[font x{a}]",
    "]]]]",
]


def test_many_calls_leave_no_objects_behind():
    def churn(times):
        for _ in range(times):
            for line in MIXED:
                parse_str(line)
            for bad in (b"[center]", None, 3):
                with pytest.raises(TypeError):
                    parse_str(bad)
            with pytest.raises(UnicodeEncodeError):
                parse_str("[font \udc80]")

    churn(100)
    gc.collect()
    before = sys.getallocatedblocks()
    churn(10**5 // len(MIXED))
    gc.collect()
    assert abs(sys.getallocatedblocks() - before) < 100


class Line(str):
    pass


@pytest.mark.parametrize(
    "argument",
    [
        b"x",
        bytearray(b"x"),
        memoryview(b"x"),
        1,
        1.5,
        1j,
        None,
        True,
        [],
        (),
        {},
        set(),
        object(),
        str,
        Line,
        len,
        Ellipsis,
        NotImplemented,
        range(3),
        iter("ab"),
    ],
    ids=repr,
)
def test_every_non_str_gets_a_type_error(argument):
    with pytest.raises(TypeError, match="^Expected a string argument$"):
        parse_str(argument)


@pytest.mark.parametrize("line", ["\ud800", "ok \udfff", "[font \ud83d]", "{\udc00}"])
def test_lone_surrogates_raise_the_interpreters_error(line):
    with pytest.raises(UnicodeEncodeError, match="surrogates not allowed"):
        parse_str(line)


def test_64_mib_with_tags_throughout():
    unit = "Dialogue é [center]{name} [font serif]says[pixel 3] 日本!"
    count = (64 << 20) // len(unit.encode())
    text, tags = parse_str(unit * count)
    assert text == "Dialogue é {}{} {}says{} 日本!" * count
    assert len(tags) == 4 * count
    assert tags[-4:] == [(b"a", "center"), (b"r", "name"), (b"f", "serif"), (b"a", "3")]


def test_threads_get_the_results_of_one():
    """Truly parallel on a free-threaded interpreter, where the module runs
    without the GIL."""
    lines = MIXED * 200
    expected = [model_parse(line) for line in lines]
    results = [None] * 8
    barrier = threading.Barrier(8)

    def work(slot):
        barrier.wait()
        results[slot] = [parse_str(line) for _ in range(5) for line in lines][-len(lines) :]

    threads = [threading.Thread(target=work, args=(slot,)) for slot in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [expected] * 8


# Run in a child whose address space is capped just above what it holds, so
# the parser's own allocations fail. Memory the C++ side allocated is seen in
# malloc's counters, which must return to where they were.
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
    if not _address_space_cap_applies():
        return "needs RLIMIT_AS to be applied, which this system ignores (qemu-user does)"
    return None


def _exhaustion_unsupported():
    """Why the child below cannot work on this system, or None if it can."""
    if _capped_child_unsupported() is not None:
        return _capped_child_unsupported()
    try:
        import ctypes

        ctypes.CDLL(None).mallinfo2  # noqa: B018 (the look-up is the test: AttributeError without it)
    except (ImportError, OSError, AttributeError):
        return "needs glibc 2.33 or newer: the child reads malloc's counters with mallinfo2"
    return None


CAPPED_CHILD_UNSUPPORTED = _capped_child_unsupported()
EXHAUSTION_UNSUPPORTED = _exhaustion_unsupported()
EXHAUSTION = textwrap.dedent("""
    import ctypes, resource, sys
    from marquill_parsing import parse_str

    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in
                    "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost".split()]

    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = MallInfo2

    def malloced():
        info = libc.mallinfo2()
        return info.uordblks + info.hblkhd

    line = sys.argv[1] * int(sys.argv[2])
    parse_str("[center]warm {up}")
    with open("/proc/self/status") as status:
        vm = next(int(l.split()[1]) for l in status if l.startswith("VmSize")) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (vm + (256 << 20), resource.RLIM_INFINITY))
    before = malloced()
    for _ in range(3):
        try:
            parse_str(line)
        except MemoryError:
            pass
        else:
            sys.exit("no MemoryError")
    leaked = malloced() - before
    assert leaked < (1 << 20), leaked
    assert parse_str("after [left]{x}") == ("after {}{}", [(b"a", "left"), (b"r", "x")])
    print("ok")
""")


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer reserves address space of its own")
@pytest.mark.skipif(EXHAUSTION_UNSUPPORTED is not None, reason=str(EXHAUSTION_UNSUPPORTED))
@pytest.mark.parametrize(
    "unit, count",
    [
        ("{a}", 100 << 20),  # a hundred million tags: the tag array cannot grow
        ("x" * 1018 + "[left]", 1 << 20),  # a 1 GiB line with a tag: its template cannot be allocated
    ],
    ids=["tag-array", "text-buffer"],
)
def test_memory_exhaustion_raises_memory_error(unit, count):
    child = subprocess.run(
        [sys.executable, "-c", EXHAUSTION, unit, str(count)], capture_output=True, text=True, timeout=600
    )
    assert child.returncode == 0, child.stderr
    assert child.stdout == "ok\n"


# On the free-threaded 3.14 build, PyList_New releases its half-made list
# before setting the list's item pointer when the item array cannot be
# allocated, and list_dealloc then reads whatever that memory held.
@pytest.mark.skipif(
    bool(sysconfig.get_config_var("Py_GIL_DISABLED")),
    reason="PyList_New's own failure path is unsafe on free-threaded CPython 3.14",
)
@pytest.mark.parametrize(
    "line",
    ["x[center]y{é}z[font ü]" * 3, "守望者：[center]灯塔{名字}已经黑了[font 宋体]好几天[pixel 3]。" * 3],
    ids=["Latin-1", "mostly Chinese"],
)
def test_failing_object_creation_releases_everything(line):
    _testcapi = pytest.importorskip("_testcapi")
    expected = parse_str(line)
    outcomes = set()

    def sweep():
        for start in range(1, 60):
            _testcapi.set_nomemory(start, start + 1)
            try:
                outcomes.add(parse_str(line) == expected)
            except MemoryError:
                outcomes.add(MemoryError)
            finally:
                _testcapi.remove_mem_hooks()

    sweep()
    gc.collect()
    before = sys.getallocatedblocks()
    sweep()
    gc.collect()
    assert abs(sys.getallocatedblocks() - before) < 50
    assert outcomes == {True, MemoryError}
    assert parse_str(line) == expected


# Many brackets that make no tag, in a child whose address space is capped
# well above what the line and its template need: what the parse keeps per
# bracket must stay small.
CAPPED_PARSE = textwrap.dedent("""
    import resource
    from marquill_parsing import parse_str

    line = "[center]" + "[]" * 2**23
    expected = ("{}" + "[]" * 2**23, [(b"a", "center")])
    parse_str("[center]warm {up}")
    with open("/proc/self/status") as status:
        vm = next(int(l.split()[1]) for l in status if l.startswith("VmSize")) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (vm + (256 << 20), resource.RLIM_INFINITY))
    assert parse_str(line) == expected
    print("ok")
""")


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer reserves address space of its own")
@pytest.mark.skipif(CAPPED_CHILD_UNSUPPORTED is not None, reason=str(CAPPED_CHILD_UNSUPPORTED))
def test_16_mib_of_brackets_parse_in_little_memory():
    assert model_parse("[center]" + "[]" * 64) == ("{}" + "[]" * 64, [(b"a", "center")])  # the child's expectation
    child = subprocess.run([sys.executable, "-c", CAPPED_PARSE], capture_output=True, text=True, timeout=600)
    assert child.returncode == 0, child.stderr
    assert child.stdout == "ok\n"
