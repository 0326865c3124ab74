"""Hostile, huge and concurrent use; running out of memory; leaks."""

import gc
import sys
import textwrap

import pytest

from marquill_parsing import parse_str
from reference_model import parse as model_parse
from support import FREE_THREADED, MALLINFO2, SAMPLE_LINES, Line, in_threads, needs_capped_child, run_child


def test_many_calls_leave_no_objects_behind():
    def churn(times):
        for _ in range(times):
            for line in SAMPLE_LINES:
                parse_str(line)
            for bad in (b"[center]", None, 3):
                with pytest.raises(TypeError):
                    parse_str(bad)
            with pytest.raises(UnicodeEncodeError):
                parse_str("[font \udc80]")

    churn(100)
    gc.collect()
    before = sys.getallocatedblocks()
    churn(10**5 // len(SAMPLE_LINES))
    gc.collect()
    assert abs(sys.getallocatedblocks() - before) < 100


@pytest.mark.parametrize(
    "argument",
    [
        b"x",
        bytearray(b"x"),
        memoryview(b"x"),
        memoryview(b""),
        1,
        1.5,
        1j,
        None,
        True,
        [],
        ["[left]"],
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
    lines = SAMPLE_LINES * 200
    expected = [model_parse(line) for line in lines]
    results = in_threads(lambda _: [parse_str(line) for _ in range(5) for line in lines][-len(lines) :], 8)
    assert results == [expected] * 8


# Run in a child whose address space is capped just above what it holds, so
# the parser's own allocations fail. Memory the C++ side allocated is seen in
# malloc's counters, which must return to where they were.
EXHAUSTION = textwrap.dedent("""
    import sys
    from marquill_parsing import parse_str
    from support import cap_address_space, malloced

    line = sys.argv[1] * int(sys.argv[2])
    parse_str("[center]warm {up}")
    cap_address_space(256 << 20)
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
""")


@needs_capped_child
@pytest.mark.skipif(
    MALLINFO2 is None, reason="needs glibc 2.33 or newer: the child reads malloc's counters with mallinfo2"
)
@pytest.mark.parametrize(
    "unit, count",
    [
        ("{a}", 100 << 20),  # a hundred million tags: the tag array cannot grow
        ("x" * 1018 + "[left]", 1 << 20),  # a 1 GiB line with a tag: its template cannot be allocated
    ],
    ids=["tag-array", "text-buffer"],
)
def test_memory_exhaustion_raises_memory_error(unit, count):
    run_child(EXHAUSTION, unit, count)


# On the free-threaded 3.14 build, PyList_New releases its half-made list
# before setting the list's item pointer when the item array cannot be
# allocated, and list_dealloc then reads whatever that memory held.
@pytest.mark.skipif(
    FREE_THREADED,
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
    from marquill_parsing import parse_str
    from support import cap_address_space

    line = "[center]" + "[]" * 2**23
    expected = ("{}" + "[]" * 2**23, [(b"a", "center")])
    parse_str("[center]warm {up}")
    cap_address_space(256 << 20)
    assert parse_str(line) == expected
""")


@needs_capped_child
def test_16_mib_of_brackets_parse_in_little_memory():
    assert model_parse("[center]" + "[]" * 64) == ("{}" + "[]" * 64, [(b"a", "center")])  # the child's expectation
    run_child(CAPPED_PARSE)
