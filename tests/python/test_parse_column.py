"""parse_column against parse_str: every row of a parsed column, read back
through pyarrow, must be what parse_str gives for its string, for each
string type, with nulls, slices and chunks; bad input is refused before a
string is read; results live on their own and are read by the engines."""

import gc
import json
import os
import queue
import signal
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import marquill_parsing
from marquill_parsing import parse_column, parse_str
from support import ROOT, in_threads, needs_capped_child, needs_free_threading, reader_or_skip, row_of, run_child

pa = reader_or_skip("pyarrow")
reader_or_skip("pyarrow.compute")

from test_column_producers import NativeStream, int32s  # noqa: E402
from test_differential import REGRESSIONS, lines, lines_of_every_width  # noqa: E402

STRING_TYPES = [pa.string(), pa.large_string(), pa.string_view()]
DIALOGUE = (ROOT / "examples" / "dialogue.txt").read_text(encoding="utf-8").splitlines()


def check_column(strings, arrow_type, chunk_sizes=()):
    """parse_column of `strings` in chunks of those sizes (the rest in a last one)."""
    chunks, start = [], 0
    for size in (*chunk_sizes, len(strings)):
        chunks.append(pa.array(strings[start : start + size], type=arrow_type))
        start += size
    result = parse_column(pa.chunked_array(chunks, type=arrow_type))
    parsed = pa.chunked_array(result)
    assert [len(chunk) for chunk in parsed.chunks] == [len(chunk) for chunk in chunks]
    parsed.validate(full=True)
    assert parsed.to_pylist() == [row_of(line) for line in strings]


rows = st.lists(st.none() | lines | lines_of_every_width, max_size=40)


@settings(max_examples=300)
@given(rows, st.sampled_from(STRING_TYPES), st.lists(st.integers(0, 10), max_size=3))
def test_rows_equal_parse_str(strings, arrow_type, chunk_sizes):
    check_column(strings, arrow_type, chunk_sizes)


@pytest.mark.parametrize("arrow_type", STRING_TYPES, ids=str)
def test_corpora_and_regressions(arrow_type):
    regressions = json.loads(REGRESSIONS.read_text(encoding="utf-8"))
    check_column(DIALOGUE + regressions + [None, ""], arrow_type, chunk_sizes=(3, 0, len(DIALOGUE)))


@pytest.mark.parametrize("arrow_type", STRING_TYPES, ids=str)
def test_slices_and_empty_chunks(arrow_type):
    strings = [None if k % 7 == 3 else line for k, line in enumerate(DIALOGUE * 3)]
    whole = pa.array(strings, type=arrow_type)
    for start, stop in [(0, 0), (5, 5), (1, 30), (9, len(strings)), (len(strings) - 1, len(strings))]:
        parsed = pa.chunked_array(parse_column(whole.slice(start, stop - start)))
        assert parsed.to_pylist() == [row_of(line) for line in strings[start:stop]]
    empty = parse_column(pa.chunked_array([], type=arrow_type))
    assert len(empty) == 0 and pa.chunked_array(empty).to_pylist() == []


def test_large_output_keeps_its_offsets_whole():
    """The output's offsets are 64-bit: a column whose templates pass 2 GiB,
    where 32-bit offsets would wrap, is whole. One line repeated by views
    keeps the input small."""
    line = "[center]" + "x" * (1 << 20) + "{name}"
    count = 2100  # 2.2 GB of templates
    data = line.encode()
    one_view = len(data).to_bytes(4, "little") + data[:4] + bytes(8)  # buffer 0, offset 0
    views = pa.Array.from_buffers(pa.string_view(), count, [None, pa.py_buffer(one_view * count), pa.py_buffer(data)])
    parsed = pa.chunked_array(parse_column(views))
    templates = parsed.chunk(0).field("template")
    lengths = pa.compute.binary_length(templates)
    assert pa.compute.sum(lengths).as_py() == count * (len(line) - len("[center]{name}") + 4) > 2**31
    assert templates[count - 1].as_py() == parse_str(line)[0]


def test_invalid_utf8_passes_through_byte_for_byte():
    data = b"\xff[center]\xc3{\xfe}\x80"
    strings = pa.Array.from_buffers(pa.string(), 1, [None, pa.py_buffer(int32s(0, len(data))), pa.py_buffer(data)])
    parsed = pa.chunked_array(parse_column(strings)).combine_chunks()
    assert parsed.field("template").cast(pa.large_binary()).to_pylist() == [b"\xff{}\xc3{}\x80"]
    values = parsed.field("tags").flatten().field("value").cast(pa.large_binary())
    assert values.to_pylist() == [b"center", b"\xfe"]


def test_results_live_on_their_own():
    strings = pa.array(DIALOGUE + [None])
    result = parse_column(strings)
    del strings
    gc.collect()
    exports = [pa.chunked_array(result), pa.array(result), pa.chunked_array(result)]
    del result
    gc.collect()
    expected = [row_of(line) for line in [*DIALOGUE, None]]
    assert all(export.to_pylist() == expected for export in exports)
    assert repr(parse_column(pa.array(["x"]))).startswith("<marquill_parsing.ParsedColumn of 1 rows in 1 chunks")


@pytest.mark.skipif(sys.platform != "linux", reason="reads the resident memory from /proc")
def test_results_no_one_imports_give_their_memory_back():
    def resident():
        return int(Path("/proc/self/statm").read_text().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    strings = pa.array(["[center]" + "x" * 2000 + "{name}"] * 10_000)  # 20 MB
    for _ in range(3):  # the allocators' own first growth
        parse_column(strings).__arrow_c_stream__()
    before = resident()
    for _ in range(30):
        result = parse_column(strings)
        result.__arrow_c_stream__()
        result.__arrow_c_array__()
        del result
    assert resident() - before < strings.nbytes


def test_only_a_single_chunk_exports_an_array():
    single = parse_column(pa.chunked_array([["[left]"]]))
    several = parse_column(pa.chunked_array([["a"], ["b"]]))
    assert hasattr(single, "__arrow_c_array__") and not hasattr(several, "__arrow_c_array__")
    assert pa.chunked_array(several).num_chunks == 2
    assert isinstance(single, marquill_parsing.ParsedColumn)
    with pytest.raises(TypeError):
        marquill_parsing.ParsedColumn()


@pytest.mark.parametrize(
    "strings, named",
    [
        ([1, 2], "list"),
        ("[center]", "str"),
        (None, "NoneType"),
        (pa.array([1, 2]), "int64"),
        (pa.array([b"x"]), "binary"),
        (pa.array(["x"]).dictionary_encode(), "dictionary"),
        (pa.table({"s": ["x"]}), "struct"),
    ],
    ids=lambda value: type(value).__name__,
)
def test_other_input_is_a_type_error(strings, named):
    with pytest.raises(TypeError, match="string, large_string or string_view") as raised:
        parse_column(strings)
    assert named in str(raised.value)


def test_threads_parse_at_once():
    columns = [pa.array([line + f" [pixel {k}]" for line in DIALOGUE] * 50) for k in range(4)]
    results = in_threads(lambda k: pa.chunked_array(parse_column(columns[k])).to_pylist(), len(columns))
    assert results == [[row_of(line) for line in column.to_pylist()] for column in columns]


@needs_free_threading
def test_threads_parse_at_once_without_the_gil():
    """As above, in an interpreter of its own: a reader of Arrow the suite
    imports (DuckDB's) may have enabled the GIL in this one."""
    script = textwrap.dedent(
        """
        import sys
        import pyarrow as pa
        from marquill_parsing import parse_column
        from support import in_threads, row_of
        columns = [pa.array([f"[pixel {k}]{{name}} line {n}" for n in range(20_000)]) for k in range(4)]
        results = in_threads(lambda k: pa.chunked_array(parse_column(columns[k])).to_pylist(), 4)
        assert results == [[row_of(line) for line in column.to_pylist()] for column in columns]
        print(sys._is_gil_enabled())
        """
    )
    assert run_child(script, timeout=120) == "False\n"


@needs_capped_child
def test_running_out_of_memory_is_a_memory_error():
    """With the address space capped, a column whose output cannot be
    reserved raises MemoryError, leaves its input as it was, and a smaller
    one parses after it."""
    script = textwrap.dedent(
        """
        import pyarrow as pa
        from marquill_parsing import parse_column
        from support import cap_address_space
        big = pa.array(["[center]" + "x" * 4000] * 100_000)  # 400 MB
        small = pa.array(["[left]y"] * 1000)
        cap_address_space(big.nbytes + (64 << 20))  # room for the big column's templates, not its values too
        for _ in range(3):
            try:
                parse_column(big)
            except MemoryError:
                pass
            else:
                raise SystemExit("no MemoryError")
        assert big[99_999].as_py().endswith("x")
        assert pa.chunked_array(parse_column(small)).to_pylist()[0]["template"] == "{}y"
        """
    )
    run_child(script, timeout=120)


@pytest.mark.skipif(sys.platform == "win32", reason="sends SIGINT to the process")
def test_ctrl_c_stops_a_stream_being_pulled():
    """A producer in native code, fed a chunk a millisecond for ten seconds
    by a thread: pyarrow's reader of a queue, whose get waits in C. Ctrl-C,
    a third of a second in, reaches the feeder's thread, as it reaches a
    process whose main thread is in native code, and waits for someone to
    look: the call ends within a second with KeyboardInterrupt and every
    chunk it pulled is released, so pyarrow's pool holds what it held
    before. The chunks are record batches, never read: the stream's schema
    says a string column's."""
    schema = pa.schema([("s", pa.string())])
    batches: queue.SimpleQueue = queue.SimpleQueue()
    stop = threading.Event()

    def feed():
        deadline = time.monotonic() + 10
        while not stop.is_set() and time.monotonic() < deadline:
            batches.put(pa.record_batch([pa.array(["[left]x"] * 100)], schema=schema))
            time.sleep(0.001)
        batches.put(None)

    before = pa.total_allocated_bytes()
    reader = pa.RecordBatchReader.from_batches(schema, iter(batches.get, None))
    producer = NativeStream(reader.__arrow_c_stream__(), b"u")
    feeder = threading.Thread(target=feed)
    feeder.start()
    kill = f"import os, signal, time; time.sleep(0.3); os.kill({os.getpid()}, signal.SIGINT)"
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        with subprocess.Popen([sys.executable, "-c", kill]):
            start = time.monotonic()
            with pytest.raises(KeyboardInterrupt):
                parse_column(producer)
            elapsed = time.monotonic() - start
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})
        stop.set()
        feeder.join()
    del reader, producer
    while not batches.empty():
        batches.get()
    gc.collect()
    assert elapsed < 1.3
    assert pa.total_allocated_bytes() == before
