// The doc strings the module hands out at run time. The module's and the
// functions' are one line each, which callers compare; the full text is the
// type stub's (marquill_parsing.pyi), which IDEs and type checkers read. The
// type's and its methods' are the stub's: tests/python/test_interface.py
// checks that they agree.
#pragma once

namespace marquill_binding {

inline constexpr const char moduleDoc[] = "I hope it's faster than regular expression";

// The text before "--" is the signature that inspect reports; CPython strips
// it from __doc__.
inline constexpr const char parseStrDoc[] =
    "parse_str($module, text, /)\n"
    "--\n"
    "\n"
    "parse marquill string";

inline constexpr const char parseColumnDoc[] =
    "parse_column($module, strings, /)\n"
    "--\n"
    "\n"
    "parse every marquill string of an Arrow column";

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
