// A whole column at a time: an Arrow array of strings in (string,
// large_string or string_view), an Arrow array of parsed rows out, each row
// what the parse of its string gives:
//
//   struct<template: large_string,
//          tags: large_list<struct<kind: fixed_size_binary(1), value: large_string>>>
//
// A null string gives a null row. The scan runs over each string's UTF-8
// bytes as they lie in the array; every cut falls at ASCII markup, so the
// bytes between cuts, valid UTF-8 or not, are copied as they are. Large
// types throughout: no column's output can outgrow its offsets. Nothing here
// knows the Python interpreter, and nothing needs it to run.
#pragma once

#include "parser/kernel.hpp"
#include "third_party/nanoarrow/nanoarrow.h"

namespace marquill {

enum class ColumnFault {
    none,
    notStrings,  // an Arrow type other than the three string types
    malformed,   // a structure no valid producer makes
    outOfMemory,
    internal,  // the scan reported tags out of order: a fault of the parser's own
};

struct ColumnError {
    ColumnFault fault = ColumnFault::none;
    ArrowError detail{};  // what went wrong, in words
};

// Whether `schema` is one of the string types parse_string_array takes.
bool check_string_schema(const ArrowSchema& schema, ColumnError& error) noexcept;

// The type of a parsed column, as above.
bool init_parsed_schema(ArrowSchema* out, ColumnError& error) noexcept;

// Checks `chunk`, an array of the string type `schema` describes, and parses
// its rows into `out`. Every offset and view is checked before any string is
// read. On failure `out` holds nothing and `error` says why.
bool parse_string_array(const ArrowSchema& schema,
                        const ArrowArray& chunk,
                        const Kernel& kernel,
                        ArrowArray* out,
                        ColumnError& error) noexcept;

}  // namespace marquill
