"""Splits a line of marked-up display text into a template and its tags.

``parse_str(line)`` returns the line with every tag replaced by ``{}`` and
the tags in order as ``(kind, value)`` pairs, for a caller to render and put
back by position. ``parse_column(strings)`` does the same for every line of
an Arrow column at once, outside the interpreter. Pure, stateless and safe
to call from any number of threads at once.
"""

from collections.abc import Callable
from typing import Any, Protocol, final

__version__: str

# What parse_column takes: an Arrow PyCapsule exporter of either kind.
class _ArrowStreamExportable(Protocol):
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

class _ArrowArrayExportable(Protocol):
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...

@final
class ParsedColumn:
    """The rows ``parse_column`` parsed, held in Arrow memory outside the
    interpreter, of a type that follows the input's::

        struct<template: T, tags: L<struct<kind: K, value: T>>>

        string in:         T string,       L list,       K binary
        large_string in:   T large_string, L large_list, K large_binary
        string_view in:    T string_view,  L large_list, K binary_view

    A dictionary gives its values' types, a column of type ``null`` the first.
    A null line's template and tags are null; the row itself is not, so that
    ``pyarrow.table(parsed)`` reads the rows as a table. Export them with
    ``pyarrow.chunked_array(parsed)``, ``polars.Series(parsed)`` or any reader
    of Arrow PyCapsules, any number of times. A ``requested_schema`` of the same
    struct in other string, binary or list types (``fixed_size_binary(1)`` for
    the kind) gets the rows copied into it; any other raises ``TypeError``.
    """

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> Any:
        """The rows as a capsule of an Arrow stream, in the input's chunks."""

    @property
    def __arrow_c_array__(self) -> Callable[..., tuple[Any, Any]]:
        """The rows as capsules of an Arrow schema and array; only a
        ParsedColumn of one chunk has this method."""

    def __len__(self) -> int: ...

def parse_str(text: str, /) -> tuple[str, list[tuple[bytes, str]]]:
    """Split one line of markup into ``(template, tags)``.

    The template is ``text`` with each recognised tag replaced by ``{}``;
    ``tags`` holds one ``(kind, value)`` pair per placeholder, in order. Kinds
    are one-byte ``bytes`` (compare with ``b"a"``, not ``"a"``):

    - ``b"a"`` layout: ``[center]``, ``[left]``, ``[right]``, and ``[pixel N]``
      whose value is its argument;
    - ``b"s"`` ``[style X]`` and ``b"f"`` ``[font X]``, valued by the argument;
    - ``b"t"`` text flow: ``[nowrap]``, ``[passport]``, ``[autowrap]``,
      ``[noautowrap]``;
    - ``b"r"`` a raw block ``{...}``, valued by the text between the braces.

    Anything else, including unknown or unfinished tags, stays in the
    template as plain text. A line without tags comes back as its own
    template with an empty list.

    >>> parse_str("Hello [center]{name}!")
    ('Hello {}{}!', [(b'a', 'center'), (b'r', 'name')])

    Raises ``TypeError`` if ``text`` is not a ``str``, and
    ``UnicodeEncodeError`` if it holds a lone surrogate.
    """

def parse_column(strings: _ArrowStreamExportable | _ArrowArrayExportable, /) -> ParsedColumn:
    """Split every line of an Arrow column of strings, as ``parse_str`` does.

    ``strings`` is any object that exports an Arrow array or stream
    (``__arrow_c_stream__`` or ``__arrow_c_array__``) of ``string``,
    ``large_string`` or ``string_view``, of a dictionary of them (a Polars
    ``Categorical`` or ``Enum``, a pandas ``category``), or of type ``null``: a
    pyarrow ``Array`` or ``ChunkedArray``, a Polars or pandas ``Series``. Row i
    of the result is ``parse_str`` of line i as
    ``{"template": ..., "tags": [{"kind": b"a", "value": ...}, ...]}``; a null
    line gives ``{"template": None, "tags": None}``. A dictionary's values are
    each parsed once. The lines are parsed as the UTF-8 bytes the column holds,
    without the GIL, and bytes that are not UTF-8 are copied as they are.

    >>> import pyarrow as pa
    >>> first, second = pa.chunked_array(parse_column(pa.array(["[left]Hi {name}", None]))).to_pylist()
    >>> first
    {'template': '{}Hi {}', 'tags': [{'kind': b'a', 'value': 'left'}, {'kind': b'r', 'value': 'name'}]}
    >>> second
    {'template': None, 'tags': None}

    Raises ``TypeError`` if ``strings`` exports no Arrow column of strings,
    ``ValueError`` if the column's structure is malformed (a buffer missing,
    offsets out of order, views outside their buffers, dictionary indices
    outside the dictionary), found before any string is read, and
    ``MemoryError``. Ctrl-C stops a call that pulls a stream, between its
    chunks, with ``KeyboardInterrupt``.
    """
