// A whole column at a time: an Arrow array of strings in, an Arrow array of
// parsed rows out, each row what the parse of its string gives:
//
//   struct<template: T, tags: L<struct<kind: K, value: T>>>
//
// The types follow the input's family, as Arrow's own string kernels keep
// theirs:
//
//   string       T string       L list        K binary
//   large_string T large_string L large_list  K large_binary
//   string_view  T string_view  L large_list  K binary_view
//
// A template and its values never hold more bytes than their line, so no
// offset of the output can overflow where the input's did not. The view
// family's list is large as Polars' own is, so that Polars takes the rows
// without a copy. A dictionary of strings gives its values' family, and a
// column of type null the first's.
//
// A null string gives a row whose template and tags are null: the row itself
// is never null, so that a reader of record batches, which have no null
// rows, takes the rows as a table of templates and tags. The scan runs over
// each string's UTF-8 bytes as they lie in the array; every cut falls at
// ASCII markup, so the bytes between cuts, valid UTF-8 or not, are copied as
// they are. Nothing here knows the Python interpreter, and nothing needs it
// to run.
#pragma once

#include "parser/kernel.hpp"
#include "third_party/nanoarrow/nanoarrow.h"

namespace marquill {

enum class ColumnFault {
    none,
    notStrings,  // an Arrow type other than the string types, a dictionary of them, or null
    malformed,   // a structure no valid producer makes
    outOfMemory,
    tooLarge,  // rows past what the offsets of their type reach
    internal,  // the scan reported tags out of order: a fault of the parser's own
};

struct ColumnError {
    ColumnFault fault = ColumnFault::none;
    ArrowError detail{};  // what went wrong, in words
};

// Sets `error` and returns false, for a caller to return.
template <class... Args>
bool fail(ColumnError& error, ColumnFault fault, const char* format, Args... args) noexcept {
    error.fault = fault;
    ArrowErrorSet(&error.detail, format, args...);
    return false;
}

enum class RowsFamily { small, large, view };

// Whether `schema` is one of the types parse_string_array takes.
bool check_string_schema(const ArrowSchema& schema, ColumnError& error) noexcept;

// The family of the rows parsed from a column of that type, which
// check_string_schema took.
RowsFamily family_of(const ArrowSchema& schema) noexcept;

// The type of parsed rows of that family, as above.
bool init_parsed_schema(RowsFamily family, ArrowSchema* out, ColumnError& error) noexcept;

// Checks `chunk`, an array of the type `schema` describes, and parses its
// rows into `out`, of the type of family_of(schema). Every offset, view and
// dictionary index is checked before any string is read; a dictionary's
// values are each parsed once. On failure `out` holds nothing and `error`
// says why.
bool parse_string_array(const ArrowSchema& schema,
                        const ArrowArray& chunk,
                        const Kernel& kernel,
                        ArrowArray* out,
                        ColumnError& error) noexcept;

}  // namespace marquill
