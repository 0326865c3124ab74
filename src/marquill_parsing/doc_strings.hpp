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
    "interpreter, of a type that follows the input's::\n"
    "\n"
    "    struct<template: T, tags: L<struct<kind: K, value: T>>>\n"
    "\n"
    "    string in:         T string,       L list,       K binary\n"
    "    large_string in:   T large_string, L large_list, K large_binary\n"
    "    string_view in:    T string_view,  L large_list, K binary_view\n"
    "\n"
    "A dictionary gives its values' types, a column of type ``null`` the first.\n"
    "A null line's template and tags are null; the row itself is not, so that\n"
    "``pyarrow.table(parsed)`` reads the rows as a table. Export them with\n"
    "``pyarrow.chunked_array(parsed)``, ``polars.Series(parsed)`` or any reader\n"
    "of Arrow PyCapsules, any number of times. A ``requested_schema`` of the same\n"
    "struct in other string, binary or list types (``fixed_size_binary(1)`` for\n"
    "the kind) gets the rows copied into it; any other raises ``TypeError``.";

}  // namespace marquill_binding
