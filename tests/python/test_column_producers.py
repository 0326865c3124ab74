"""parse_column against producers made by hand through the C data
interface, with ctypes and no Arrow library: arrays and streams no valid
producer makes get an exception before a string is read, on every kernel,
with each buffer and pointer array ending at a page no access is allowed to
where the system lets us place it so; every release callback runs once."""

import collections
import ctypes
import itertools
import mmap
import sys

import pytest

import marquill_parsing
from marquill_parsing import parse_str
from test_kernels import module_on_kernel

# The C data interface's structures.


class Schema(ctypes.Structure):
    pass


class Array(ctypes.Structure):
    pass


class Stream(ctypes.Structure):
    pass


SCHEMA_RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(Schema))
ARRAY_RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(Array))
Schema._fields_ = [
    ("format", ctypes.c_char_p),
    ("name", ctypes.c_char_p),
    ("metadata", ctypes.c_char_p),
    ("flags", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("children", ctypes.c_void_p),
    ("dictionary", ctypes.c_void_p),
    ("release", SCHEMA_RELEASE),
    ("private_data", ctypes.c_void_p),
]
Array._fields_ = [
    ("length", ctypes.c_int64),
    ("null_count", ctypes.c_int64),
    ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.c_void_p),
    ("dictionary", ctypes.c_void_p),
    ("release", ARRAY_RELEASE),
    ("private_data", ctypes.c_void_p),
]
GET_SCHEMA = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(Stream), ctypes.POINTER(Schema))
GET_NEXT = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(Stream), ctypes.POINTER(Array))
GET_LAST_ERROR = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.POINTER(Stream))
STREAM_RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(Stream))
Stream._fields_ = [
    ("get_schema", GET_SCHEMA),
    ("get_next", GET_NEXT),
    ("get_last_error", GET_LAST_ERROR),
    ("release", STREAM_RELEASE),
    ("private_data", ctypes.c_void_p),
]

capsule_new = ctypes.pythonapi["PyCapsule_New"]
capsule_new.restype = ctypes.py_object
capsule_new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
capsule_pointer = ctypes.pythonapi["PyCapsule_GetPointer"]
capsule_pointer.restype = ctypes.c_void_p
capsule_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
# the same for a capsule being destroyed, which must not be referenced
dying_capsule_pointer = ctypes.pythonapi["PyCapsule_GetPointer"]
dying_capsule_pointer.restype = ctypes.c_void_p
dying_capsule_pointer.argtypes = [ctypes.c_void_p, ctypes.c_char_p]

# Every structure made carries a token in private_data; its release
# callback counts the token's releases.
RELEASES: collections.Counter[int] = collections.Counter()
TOKENS = itertools.count(1)


def count_release(structure):
    RELEASES[structure.contents.private_data] += 1
    structure.contents.release = type(structure.contents.release)()


release_schema = SCHEMA_RELEASE(count_release)
release_array = ARRAY_RELEASE(count_release)
release_stream = STREAM_RELEASE(count_release)


class Tokens:
    """The tokens of the structures made for one call."""

    def __init__(self):
        self.made = []

    def new(self):
        self.made.append(next(TOKENS))
        return self.made[-1]

    def released_once(self):
        return {token: RELEASES[token] for token in self.made} == dict.fromkeys(self.made, 1)


class Pages:
    """Memory for buffers and pointer arrays, each placed to end where a
    page no access is allowed to begins, on systems with mmap; elsewhere
    ordinary memory."""

    def __init__(self):
        self.maps = []
        self.kept = []
        if sys.platform == "win32":
            self.libc = None
            return
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.libc.mmap.restype = ctypes.c_void_p
        self.libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t] + [ctypes.c_int] * 3 + [ctypes.c_long]
        self.libc.mprotect.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
        self.libc.munmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t]

    def place(self, data: bytes) -> int:
        if self.libc is None:
            self.kept.append(ctypes.create_string_buffer(data, max(len(data), 1)))
            return ctypes.addressof(self.kept[-1])
        pages = -(-len(data) // mmap.PAGESIZE) + 1
        size = pages * mmap.PAGESIZE
        flags = mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS
        start = self.libc.mmap(None, size, mmap.PROT_READ | mmap.PROT_WRITE, flags, -1, 0)
        assert start not in (None, ctypes.c_void_p(-1).value), ctypes.get_errno()
        self.maps.append((start, size))
        guard = start + size - mmap.PAGESIZE
        ctypes.memmove(guard - len(data), data, len(data))
        assert self.libc.mprotect(guard, mmap.PAGESIZE, 0) == 0, ctypes.get_errno()
        return guard - len(data)

    def free(self):
        for start, size in self.maps:
            self.libc.munmap(start, size)
        self.maps.clear()
        self.kept.clear()


@pytest.fixture
def pages():
    made = Pages()
    yield made
    made.free()


@pytest.fixture(scope="module", params=marquill_parsing._kernels)
def module(request):
    with pytest.MonkeyPatch.context() as monkeypatch:
        return module_on_kernel(monkeypatch, request.param)


def int32s(*values):
    return b"".join(v.to_bytes(4, "little", signed=True) for v in values)


def int64s(*values):
    return b"".join(v.to_bytes(8, "little", signed=True) for v in values)


def view(size, buffer=0, offset=0, inline=b"abcd"):
    """A string_view's view: out of line in buffer at offset."""
    return int32s(size) + inline + int32s(buffer, offset)


def schema(tokens, format_):
    return Schema(format_, None, None, 2, 0, None, None, release_schema, tokens.new())


# What no field of an array sets otherwise: a NULL pointer array, given as
# the buffers of an array.
NULL = object()


def array(tokens, pages, length, *buffers, n_buffers=None, null_count=0, offset=0, n_children=0, dictionary=None):
    """An array of those buffers (None for a NULL one), its pointer array
    against a guard page too."""
    if buffers == (NULL,):
        pointers = None
    else:
        addresses = [None if b is None else pages.place(b) for b in buffers]
        placed = pages.place(b"".join((a or 0).to_bytes(8, sys.byteorder) for a in addresses))
        pointers = ctypes.cast(placed, ctypes.POINTER(ctypes.c_void_p))
    count = len(buffers) if n_buffers is None else n_buffers
    return Array(length, null_count, offset, count, n_children, pointers, None, dictionary, release_array, tokens.new())


class ArrayProducer:
    """Exports one array through __arrow_c_array__."""

    def __init__(self, made_schema, made_array):
        self.schema, self.array = made_schema, made_array

    def __arrow_c_array__(self, requested_schema=None):
        return (
            capsule_new(ctypes.addressof(self.schema), b"arrow_schema", None),
            capsule_new(ctypes.addressof(self.array), b"arrow_array", None),
        )


BIG = 2**40
MAX64 = 2**63 - 1
# (format, length, buffers, fields of the array): each a structure the C
# data interface forbids or that cannot be read safely.
MALFORMED = {
    "offsets that decrease": (b"u", 2, [None, int32s(0, 5, 3), b"abcde"], {}),
    "a negative offset": (b"U", 1, [None, int64s(-2, 3), b"abc"], {}),
    "a length that overflows": (b"u", 2**62, [None, int32s(0, 1), b"a"], {}),
    "a negative length": (b"u", -1, [None, int32s(0), b""], {}),
    "a negative offset into the array": (b"u", 1, [None, int32s(0, 1), b"a"], {"offset": -1}),
    "a null count beyond the length": (b"u", 1, [b"\x01", int32s(0, 1), b"a"], {"null_count": 2}),
    "nulls without a bitmap": (b"u", 1, [None, int32s(0, 1), b"a"], {"null_count": 1}),
    "rows without offsets": (b"u", 1, [None, None, b"a"], {}),
    "rows without views": (b"vu", 1, [None, None, int64s()], {}),
    "string of too few buffers": (b"u", 1, [None, int32s(0, 1), b"a"], {"n_buffers": 2}),
    "string of a 1-pointer array": (b"u", 1, [None], {}),
    "string of a 2-pointer array": (b"u", 1, [None, int32s(0, 1)], {}),
    "large_string of a 2-pointer array": (b"U", 1, [None, int64s(0, 1)], {}),
    "string_view of a 1-pointer array": (b"vu", 1, [None], {}),
    "string_view of a 2-pointer array": (b"vu", 1, [None, view(3)], {}),
    "string of 4 buffers": (b"u", 1, [None, int32s(0, 1), b"a", None], {}),
    "string of no pointer array": (b"u", 0, [NULL], {"n_buffers": 0}),
    "large_string of no pointer array": (b"U", 0, [NULL], {"n_buffers": 0}),
    "string_view of no pointer array": (b"vu", 0, [NULL], {"n_buffers": 0}),
    "string of 3 buffers at NULL": (b"u", 1, [NULL], {"n_buffers": 3}),
    "string_view of 0 buffers": (b"vu", 0, [None, None, int64s()], {"n_buffers": 0}),
    "string_view of 2 buffers": (b"vu", 0, [None, None, int64s()], {"n_buffers": 2}),
    "string_view of -5 buffers": (b"vu", 0, [None, None, int64s()], {"n_buffers": -5}),
    "string_view of 2**40 buffers": (b"vu", 0, [None, None, int64s()], {"n_buffers": BIG}),
    "string_view of -2**40 buffers": (b"vu", 0, [None, None, int64s()], {"n_buffers": -BIG}),
    "string_view of 2**32 + 3 buffers": (b"vu", 0, [None, None, int64s()], {"n_buffers": 2**32 + 3}),
    "no variadic sizes": (b"vu", 1, [None, view(20), b"x" * 20, None], {}),
    "a variadic size near INT64_MIN": (b"vu", 1, [None, view(100), b"x" * 5, int64s(-(2**63) + 5)], {}),
    "a variadic size of -1": (b"vu", 1, [None, view(20), b"x" * 20, int64s(-1)], {}),
    "a variadic size of INT64_MAX": (b"vu", 1, [None, view(20), b"x" * 20, int64s(MAX64)], {}),
    "a variadic buffer at NULL": (b"vu", 1, [None, view(20), None, int64s(20)], {}),
    "a view past its buffer": (b"vu", 1, [None, view(20, 0, 4), b"x" * 20, int64s(20)], {}),
    "a view of no buffer": (b"vu", 1, [None, view(20, 1, 0), b"x" * 20, int64s(20)], {}),
    "a view of a negative size": (b"vu", 1, [None, view(-20), b"x" * 20, int64s(20)], {}),
    "large_string offsets to INT64_MAX": (b"U", 1, [None, int64s(0, MAX64), b"abcde"], {}),
    "a child": (b"u", 0, [None, None, None], {"n_children": 1}),
    "a dictionary": (b"u", 0, [None, None, None], {"dictionary": 8}),
}


@pytest.mark.parametrize("case", MALFORMED)
def test_malformed_arrays_are_a_value_error(module, pages, case):
    format_, length, buffers, fields = MALFORMED[case]
    tokens = Tokens()
    producer = ArrayProducer(schema(tokens, format_), array(tokens, pages, length, *buffers, **fields))
    with pytest.raises(ValueError, match="malformed Arrow column"):
        module.parse_column(producer)
    assert tokens.released_once()


def template_at(templates, template_format, i):
    """Row i of the templates, of the string type the format names."""
    at = templates.offset + i
    if template_format == b"vu":
        view = ctypes.string_at(templates.buffers[1] + 16 * at, 16)
        size = int.from_bytes(view[:4], "little")
        if size <= 12:
            return view[4 : 4 + size]
        buffer, offset = int.from_bytes(view[8:12], "little"), int.from_bytes(view[12:], "little")
        return ctypes.string_at(templates.buffers[2 + buffer] + offset, size)
    offsets = ctypes.cast(
        templates.buffers[1], ctypes.POINTER(ctypes.c_int64 if template_format == b"U" else ctypes.c_int32)
    )
    return ctypes.string_at(templates.buffers[2] + offsets[at], offsets[at + 1] - offsets[at])


def read_templates(parsed):
    """Each row's template, None for a null line's, read through the C
    stream interface as a consumer without an Arrow library would."""
    capsule = parsed.__arrow_c_stream__()
    stream = Stream.from_address(capsule_pointer(capsule, b"arrow_array_stream"))
    rows_schema = Schema()
    assert stream.get_schema(ctypes.byref(stream), ctypes.byref(rows_schema)) == 0
    template_format = ctypes.cast(rows_schema.children, ctypes.POINTER(ctypes.POINTER(Schema)))[0].contents.format
    rows_schema.release(ctypes.byref(rows_schema))
    rows = []
    chunk = Array()
    while stream.get_next(ctypes.byref(stream), ctypes.byref(chunk)) == 0 and chunk.release:
        templates = ctypes.cast(chunk.children, ctypes.POINTER(ctypes.POINTER(Array)))[0].contents
        bits = templates.buffers[0]
        for i in range(chunk.length):
            at = templates.offset + i
            valid = bits is None or ctypes.string_at(bits + at // 8, 1)[0] >> (at % 8) & 1
            rows.append(template_at(templates, template_format, i).decode() if valid else None)
        chunk.release(ctypes.byref(chunk))
    return rows


LINE = "[center]Hello {name}, a line longer than twelve bytes"
ENCODED = LINE.encode()
# Sound arrays, each buffer against a guard page: every byte they read is theirs.
SOUND = {
    "string": (b"u", 2, [None, int32s(0, len(ENCODED), len(ENCODED) + 3), ENCODED + b"[x]"], {}, [LINE, "[x]"]),
    "large_string, sliced": (b"U", 1, [None, int64s(0, 3, 3 + len(ENCODED)), b"abc" + ENCODED], {"offset": 1}, [LINE]),
    "string_view": (
        b"vu",
        2,
        [None, view(len(ENCODED), 0, 0, ENCODED[:4]) + int32s(3) + b"[x]" + bytes(9), ENCODED, int64s(len(ENCODED))],
        {},
        [LINE, "[x]"],
    ),
    "empty, with no buffers at all": (b"u", 0, [None, None, None], {}, []),
    "empty strings, with no data buffer": (b"U", 2, [None, int64s(0, 0, 0), None], {}, ["", ""]),
    # pyarrow shows such a row as null: the bitmap is followed, not the count
    "a bitmap that contradicts a null count of 0": (b"u", 2, [b"\x02", int32s(0, 3, 6), b"[x][y]"], {}, [None, "[y]"]),
}


@pytest.mark.parametrize("case", SOUND)
def test_sound_arrays_read_only_their_own_bytes(module, pages, case):
    format_, length, buffers, fields, strings = SOUND[case]
    tokens = Tokens()
    producer = ArrayProducer(schema(tokens, format_), array(tokens, pages, length, *buffers, **fields))
    parsed = module.parse_column(producer)
    assert tokens.released_once()
    expected = [None if line is None else parse_str(line)[0] for line in strings]
    assert read_templates(parsed) == expected


LAST_ERROR = ctypes.create_string_buffer(b"the producer failed")


class StreamProducer:
    """Exports a stream through __arrow_c_stream__, its callbacks Python
    functions of this object; counts the calls of get_next."""

    def __init__(
        self, tokens, format_=b"u", chunks=(), get_schema=None, get_next=None, get_last_error=True, mark_end=True
    ):
        self.tokens, self.format, self.chunks, self.mark_end = tokens, format_, list(chunks), mark_end
        self.pulled = 0
        self.callbacks = (
            GET_SCHEMA(get_schema or self.get_schema),
            GET_NEXT(get_next or self.get_next),
            GET_LAST_ERROR(self.last_error) if get_last_error else GET_LAST_ERROR(),
        )
        self.stream = Stream(*self.callbacks, release_stream, tokens.new())

    def get_schema(self, _stream, out):
        out[0] = schema(self.tokens, self.format)
        return 0

    def get_next(self, _stream, out):
        self.pulled += 1
        if self.chunks:
            out[0] = self.chunks.pop(0)()
        elif self.mark_end:
            out[0].release = ARRAY_RELEASE()
        return 0

    @staticmethod
    def last_error(_stream):
        return ctypes.addressof(LAST_ERROR)

    def __arrow_c_stream__(self, requested_schema=None):
        return capsule_new(ctypes.addressof(self.stream), b"arrow_array_stream", None)


class NativeStream:
    """A native producer's stream, moved out of its capsule, with a
    get_schema of ours that gives a column of that format."""

    def __init__(self, capsule, format_):
        native = Stream.from_address(capsule_pointer(capsule, b"arrow_array_stream"))
        self.stream = Stream.from_buffer_copy(native)
        native.release = STREAM_RELEASE()  # moved: the capsule releases nothing
        self.tokens, self.format = Tokens(), format_
        self.get_schema = GET_SCHEMA(self.give_schema)
        self.stream.get_schema = self.get_schema

    def give_schema(self, _stream, out):
        out[0] = schema(self.tokens, self.format)
        return 0

    def __arrow_c_stream__(self, requested_schema=None):
        return capsule_new(ctypes.addressof(self.stream), b"arrow_array_stream", None)


def one_row(tokens, pages, line=b"[left]x"):
    return lambda: array(tokens, pages, 1, None, int32s(0, len(line)), line)


def fails(code):
    return lambda _stream, _out: code


def writes_nothing(_stream, _out):
    return 0


# (what the producer does, the error it gets): streams no valid producer makes
STREAMS = {
    "get_schema fails, with no get_last_error": (
        {"get_schema": fails(5), "get_last_error": False},
        (RuntimeError, "errno 5.*no message"),
    ),
    "get_next fails, with no get_last_error": (
        {"get_next": fails(5), "get_last_error": False},
        (RuntimeError, "errno 5.*no message"),
    ),
    "get_next fails": ({"get_next": fails(5)}, (RuntimeError, "errno 5.*the producer failed")),
    "get_schema writes nothing": ({"get_schema": writes_nothing}, (ValueError, "already released")),
}


@pytest.mark.parametrize("case", STREAMS)
def test_malformed_streams_are_refused(module, case):
    tokens = Tokens()
    fields, (error, message) = STREAMS[case]
    with pytest.raises(error, match=message):
        module.parse_column(StreamProducer(tokens, **fields))
    assert tokens.released_once()


def test_a_get_next_that_writes_nothing_ends_the_stream(module, pages):
    """What get_next leaves unwritten must read as the end, not as stack garbage."""
    tokens = Tokens()
    producer = StreamProducer(tokens, chunks=[one_row(tokens, pages)] * 3, mark_end=False)
    parsed = module.parse_column(producer)
    assert read_templates(parsed) == ["{}x"] * 3
    del parsed
    assert tokens.released_once()


def test_the_type_is_checked_before_any_chunk_is_pulled(module, pages):
    tokens = Tokens()
    producer = StreamProducer(tokens, format_=b"i", chunks=[one_row(tokens, pages)] * 50)
    with pytest.raises(TypeError, match="string, large_string or string_view"):
        module.parse_column(producer)
    assert producer.pulled == 0
    assert tokens.released_once()


class RaisingLookup:
    """An exporter whose method lookup raises what a property may."""

    def __init__(self, name):
        self.name = name

    def __getattr__(self, name):
        if name == self.name:
            raise ZeroDivisionError(name)
        raise AttributeError(name)


@pytest.mark.parametrize("method", ["__arrow_c_stream__", "__arrow_c_array__"])
def test_a_lookup_that_raises_is_the_callers_error(method):
    with pytest.raises(ZeroDivisionError, match=method):
        marquill_parsing.parse_column(RaisingLookup(method))


CAPSULE_DESTRUCTOR = ctypes.CFUNCTYPE(None, ctypes.c_void_p)


@CAPSULE_DESTRUCTOR
def release_schema_capsule(capsule):
    """What pyarrow's capsules do, in Python: release what no one took."""
    address = dying_capsule_pointer(capsule, b"arrow_schema")
    held = Schema.from_address(address)
    if held.release:
        held.release(ctypes.byref(held))


@pytest.mark.parametrize("array_capsule", ["not a capsule", "a capsule of another name"])
def test_a_refused_pair_of_capsules_releases_its_schema(array_capsule):
    """The pair is refused before it is taken; its schema capsule, whose
    destructor runs Python code, is dropped without the error being lost."""
    tokens = Tokens()
    made = schema(tokens, b"u")
    other = capsule_new(ctypes.addressof(made), b"arrow_array_stream", None)

    class Producer:
        def __arrow_c_array__(self, requested_schema=None):
            destructor = ctypes.cast(release_schema_capsule, ctypes.c_void_p)
            kept = capsule_new(ctypes.addressof(made), b"arrow_schema", destructor.value)
            return kept, array_capsule if array_capsule == "not a capsule" else other

    with pytest.raises(TypeError, match="not a capsule named 'arrow_array'"):
        marquill_parsing.parse_column(Producer())
    assert tokens.released_once()
