// The doc strings the module hands out at run time: the type stub's
// (marquill_parsing.pyi), which IDEs read, under the module's and parse_str's
// own first lines. tests/python/test_interface.py checks that they agree.
#pragma once

namespace marquill_binding {

inline constexpr const char moduleDoc[] =
    "I hope it's faster than regular expression\n"
    "\n"
    "Splits a line of marked-up display text into a template and its tags.\n"
    "\n"
    "``parse_str(line)`` returns the line with every tag replaced by ``{}`` and\n"
    "the tags in order as ``(kind, value)`` pairs, for a caller to render and put\n"
    "back by position. ``parse_column(strings)`` does the same for every line of\n"
    "an Arrow column at once, outside the interpreter. Pure, stateless and safe\n"
    "to call from any number of threads at once.";

// The text before "--" is the signature that inspect reports; CPython strips
// it from __doc__.
inline constexpr const char parseStrDoc[] =
    "parse_str($module, text, /)\n"
    "--\n"
    "\n"
    "parse marquill string\n"
    "\n"
    "Split one line of markup into ``(template, tags)``.\n"
    "\n"
    "The template is ``text`` with each recognised tag replaced by ``{}``;\n"
    "``tags`` holds one ``(kind, value)`` pair per placeholder, in order. Kinds\n"
    "are one-byte ``bytes`` (compare with ``b\"a\"``, not ``\"a\"``):\n"
    "\n"
    "- ``b\"a\"`` layout: ``[center]``, ``[left]``, ``[right]``, and ``[pixel N]``\n"
    "  whose value is its argument;\n"
    "- ``b\"s\"`` ``[style X]`` and ``b\"f\"`` ``[font X]``, valued by the argument;\n"
    "- ``b\"t\"`` text flow: ``[nowrap]``, ``[passport]``, ``[autowrap]``,\n"
    "  ``[noautowrap]``;\n"
    "- ``b\"r\"`` a raw block ``{...}``, valued by the text between the braces.\n"
    "\n"
    "Anything else, including unknown or unfinished tags, stays in the\n"
    "template as plain text. A line without tags comes back as its own\n"
    "template with an empty list.\n"
    "\n"
    ">>> parse_str(\"Hello [center]{name}!\")\n"
    "('Hello {}{}!', [(b'a', 'center'), (b'r', 'name')])\n"
    "\n"
    "Raises ``TypeError`` if ``text`` is not a ``str``, and\n"
    "``UnicodeEncodeError`` if it holds a lone surrogate.";

inline constexpr const char parseColumnDoc[] =
    "parse_column($module, strings, /)\n"
    "--\n"
    "\n"
    "Split every line of an Arrow column of strings, as ``parse_str`` does.\n"
    "\n"
    "``strings`` is any object that exports an Arrow array or stream of\n"
    "``string``, ``large_string`` or ``string_view`` (``__arrow_c_stream__``\n"
    "or ``__arrow_c_array__``): a pyarrow ``Array`` or ``ChunkedArray``, a\n"
    "Polars or pandas ``Series``. Row i of the result is ``parse_str`` of line\n"
    "i as ``{\"template\": ..., \"tags\": [{\"kind\": b\"a\", \"value\": ...}, ...]}``;\n"
    "a null line gives a null row. The lines are parsed as the UTF-8 bytes the\n"
    "column holds, without the GIL, and bytes that are not UTF-8 are copied as\n"
    "they are.\n"
    "\n"
    ">>> import pyarrow as pa\n"
    ">>> pa.chunked_array(parse_column(pa.array([\"[left]Hi {name}\", None]))).to_pylist()\n"
    "[{'template': '{}Hi {}', 'tags': [{'kind': b'a', 'value': 'left'}, {'kind': b'r', 'value': 'name'}]}, None]\n"
    "\n"
    "Raises ``TypeError`` if ``strings`` exports no Arrow column of strings,\n"
    "``ValueError`` if the column's structure is malformed (offsets out of\n"
    "order, views outside their buffers), and ``MemoryError``.";

inline constexpr const char parsedColumnDoc[] =
    "The rows ``parse_column`` parsed, held in Arrow memory outside the\n"
    "interpreter, of type::\n"
    "\n"
    "    struct<template: large_string,\n"
    "           tags: large_list<struct<kind: fixed_size_binary(1), value: large_string>>>\n"
    "\n"
    "Export them with ``pyarrow.chunked_array(parsed)``, ``polars.Series(parsed)``\n"
    "or any reader of Arrow PyCapsules, any number of times. ``requested_schema``\n"
    "is not followed: the rows have the one type above.";

}  // namespace marquill_binding
