"""parse_column against parse_str: every row of a parsed column, read back
through pyarrow, must be what parse_str gives for its string, for each
string type, dictionary and the null type, with nulls, slices and chunks, in
the rows' own types and in those a consumer requests; bad input is refused
before a string is read; results live on their own and are read by the
engines, as columns and as tables."""

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


def rows_type(text, kind, list_type):
    return pa.struct(
        [
            pa.field("template", text),
            pa.field(
                "tags",
                list_type(
                    pa.field("item", pa.struct([pa.field("kind", kind, False), pa.field("value", text, False)]), False)
                ),
            ),
        ]
    )


# The rows' types for each family of input: the type of parse_column's rows
# of a column of that type (or of a dictionary of it).
ROWS_TYPES = {
    pa.string(): rows_type(pa.string(), pa.binary(), pa.list_),
    pa.large_string(): rows_type(pa.large_string(), pa.large_binary(), pa.large_list),
    pa.string_view(): rows_type(pa.string_view(), pa.binary_view(), pa.large_list),
}


def check_column(strings, arrow_type, chunk_sizes=()):
    """parse_column of `strings` in chunks of those sizes (the rest in a last one)."""
    chunks, start = [], 0
    for size in (*chunk_sizes, len(strings)):
        chunks.append(pa.array(strings[start : start + size], type=arrow_type))
        start += size
    result = parse_column(pa.chunked_array(chunks, type=arrow_type))
    parsed = pa.chunked_array(result)
    assert parsed.type == ROWS_TYPES[arrow_type.value_type if pa.types.is_dictionary(arrow_type) else arrow_type]
    assert [len(chunk) for chunk in parsed.chunks] == [len(chunk) for chunk in chunks]
    parsed.validate(full=True)
    assert parsed.to_pylist() == [row_of(line) for line in strings]


rows = st.lists(st.none() | lines | lines_of_every_width, max_size=40)


@settings(max_examples=300)
@given(rows, st.sampled_from(STRING_TYPES), st.lists(st.integers(0, 10), max_size=3))
def test_rows_equal_parse_str(strings, arrow_type, chunk_sizes):
    check_column(strings, arrow_type, chunk_sizes)


INDEX_TYPES = [pa.int8(), pa.uint8(), pa.int16(), pa.uint16(), pa.int32(), pa.uint32(), pa.int64(), pa.uint64()]


@settings(max_examples=200)
@given(
    st.lists(st.none() | lines | lines_of_every_width, min_size=1, max_size=12),
    st.lists(st.none() | st.integers(0, 11), max_size=40),
    st.sampled_from(STRING_TYPES),
    st.sampled_from(INDEX_TYPES),
)
def test_dictionary_rows_equal_parse_str_of_their_values(values, picks, value_type, index_type):
    indices = [None if pick is None else pick % len(values) for pick in picks]
    strings = pa.DictionaryArray.from_arrays(pa.array(indices, type=index_type), pa.array(values, type=value_type))
    parsed = pa.chunked_array(parse_column(strings))
    assert parsed.type == ROWS_TYPES[value_type]
    parsed.validate(full=True)
    assert parsed.to_pylist() == [row_of(None if k is None else values[k]) for k in indices]


@pytest.mark.parametrize("index", [-1, 3, 200], ids=str)
def test_dictionary_indices_outside_are_a_value_error(index):
    strings = pa.DictionaryArray.from_arrays(
        pa.array([0, 1, index, 2], type=pa.int16()), pa.array(["a", "[left]", "c"]), safe=False
    )
    with pytest.raises(ValueError, match="malformed.*dictionary index"):
        parse_column(strings)


def categorical_columns():
    """The categorical columns of the dataframes installed here, and their lines."""
    lines = [*DIALOGUE[:40], None, *DIALOGUE[:40], None, DIALOGUE[3]]
    made = []
    try:
        import polars as pl

        made.append(pytest.param(pl.Series(lines, dtype=pl.Categorical), id="polars Categorical"))
        made.append(pytest.param(pl.Series(lines, dtype=pl.Enum(sorted(set(DIALOGUE[:40])))), id="polars Enum"))
    except ImportError:
        pass
    try:
        import pandas as pd

        made.append(pytest.param(pd.Series(lines, dtype="category"), id="pandas category"))
    except ImportError:
        pass
    return lines, made


CATEGORICAL_LINES, CATEGORICAL_COLUMNS = categorical_columns()


@pytest.mark.parametrize("column", CATEGORICAL_COLUMNS)
def test_categorical_columns_of_the_dataframes(column):
    assert pa.chunked_array(parse_column(column)).to_pylist() == [row_of(line) for line in CATEGORICAL_LINES]


@pytest.mark.parametrize(
    "column", [pa.nulls(5), pa.chunked_array([pa.nulls(2), pa.nulls(0)])], ids=["array", "chunked"]
)
def test_columns_of_type_null_give_null_rows(column):
    parsed = pa.chunked_array(parse_column(column))
    assert parsed.type == ROWS_TYPES[pa.string()]
    assert parsed.to_pylist() == [row_of(None)] * len(column)


# Layouts a consumer may request, by their leaves: the template's and the
# value's type, the list's, and the kind's.
REQUESTED = [
    (pa.large_string(), pa.large_list, pa.binary(1)),
    (pa.string_view(), pa.list_, pa.string()),
    (pa.binary(), pa.large_list, pa.binary_view()),
    (pa.large_binary(), pa.list_, pa.large_string()),
]


def requested_type(text, list_type, kind):
    return pa.struct([("template", text), ("tags", list_type(pa.struct([("kind", kind), ("value", text)])))])


def as_requested(row, text, kind):
    """A row as pyarrow reads it back in a requested layout."""
    if row["tags"] is None:
        return row
    binary = pa.types.is_binary(text) or pa.types.is_large_binary(text)
    textual_kind = pa.types.is_string(kind) or pa.types.is_large_string(kind)
    return {
        "template": row["template"].encode() if binary else row["template"],
        "tags": [
            {
                "kind": tag["kind"].decode() if textual_kind else tag["kind"],
                "value": tag["value"].encode() if binary else tag["value"],
            }
            for tag in row["tags"]
        ],
    }


@pytest.mark.parametrize("arrow_type", STRING_TYPES, ids=str)
@pytest.mark.parametrize("text, list_type, kind", REQUESTED, ids=str)
def test_requested_layouts_are_written(arrow_type, text, list_type, kind):
    lines = [*DIALOGUE[:30], None, "[left]{a}[font x]"]
    parsed = parse_column(pa.array(lines, type=arrow_type))
    wanted = requested_type(text, list_type, kind)
    for exported in (pa.array(parsed, type=wanted), pa.chunked_array(parsed, type=wanted)):
        assert exported.type == wanted
        exported.validate(full=True)
        assert exported.to_pylist() == [as_requested(row_of(line), text, kind) for line in lines]
    assert pa.array(parsed, type=ROWS_TYPES[arrow_type]).to_pylist() == [row_of(line) for line in lines]


@pytest.mark.parametrize(
    "wanted",
    [pa.int64(), pa.struct([("template", pa.string())]), requested_type(pa.string(), pa.list_, pa.binary(2))],
    ids=str,
)
def test_other_requested_layouts_are_a_type_error(wanted):
    parsed = parse_column(pa.array(["[left]x"]))
    with pytest.raises(TypeError, match="cannot be written as"):
        pa.array(parsed, type=wanted)
    with pytest.raises(TypeError, match="cannot be written as"):
        pa.chunked_array(parsed, type=wanted)


@pytest.mark.parametrize("arrow_type", STRING_TYPES, ids=str)
def test_tables_of_templates_and_tags_with_null_lines(arrow_type):
    """A reader of record batches takes the rows as a table, null lines
    included; a reader of columns still tells which lines were null."""
    lines = ["[center]{name}", None, "plain"]
    expected = [row_of(line) for line in lines]
    parsed = parse_column(pa.array(lines, type=arrow_type))
    assert pa.table(parsed).to_pylist() == expected
    assert pa.chunked_array(parsed).to_pylist() == expected
    try:
        import polars as pl
    except ImportError:
        pass
    else:
        assert pl.DataFrame(parsed).to_dicts() == expected
        assert pl.Series(parsed).struct.field("template").is_null().to_list() == [False, True, False]
    try:
        import pandas as pd
    except ImportError:
        pass
    else:
        frame = pd.DataFrame.from_arrow(parsed)
        assert list(frame.columns) == ["template", "tags"] and frame["template"].isna().tolist() == [False, True, False]


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


def test_views_past_two_gib_stay_whole():
    """The templates of a string_view column passing 2 GiB, past what a
    view's 32-bit offset reaches in one buffer, are whole: a buffer shows
    the bytes from each GiB on. One line repeated by views keeps the input
    small."""
    line = "[center]" + "x" * (1 << 20) + "{name}"
    count = 2100  # 2.2 GB of templates
    data = line.encode()
    one_view = len(data).to_bytes(4, "little") + data[:4] + bytes(8)  # buffer 0, offset 0
    views = pa.Array.from_buffers(pa.string_view(), count, [None, pa.py_buffer(one_view * count), pa.py_buffer(data)])
    templates = pa.chunked_array(parse_column(views)).chunk(0).field("template")
    templates.validate(full=True)  # each view inside its buffer
    template = parse_str(line)[0]
    assert sum(memoryview(templates.buffers()[1]).cast("i")[::4]) == count * len(template) > 2**31
    assert templates[count - 1].as_py() == templates[count // 2].as_py() == template


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
        (pa.array([1, 2]).dictionary_encode(), "dictionary"),
        (pa.table({"s": ["x"]}), "struct"),
    ],
    ids=lambda value: type(value).__name__,
)
def test_other_input_is_a_type_error(strings, named):
    with pytest.raises(TypeError, match="string, large_string or string_view, a dictionary of them, or null") as raised:
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
    kill = ["sh", "-c", f"sleep 0.3; kill -INT {os.getpid()}"]  # a host's shell, under qemu-user too
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        with subprocess.Popen(kill):
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
