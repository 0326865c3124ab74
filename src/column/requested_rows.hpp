// The parsed rows in a layout a consumer asks for: the same struct of a
// template and a list of kinds and values, each leaf of any string or binary
// type by offsets or by views (a kind also fixed_size_binary(1)), the list
// list or large_list. The rows are copied into it.
#pragma once

#include "column/string_column.hpp"
#include "third_party/nanoarrow/nanoarrow.h"

namespace marquill {

// Whether the rows can be written as `requested` describes; `error` says
// why not.
bool check_requested_schema(const ArrowSchema& requested, ColumnError& error) noexcept;

// Whether two schemas have the same types throughout, names and flags aside.
bool same_types(const ArrowSchema& a, const ArrowSchema& b) noexcept;

// Writes `chunk`, parsed rows of type `schema`, into `out` as `requested`
// describes, which check_requested_schema took.
bool write_requested(const ArrowSchema& schema,
                     const ArrowArray& chunk,
                     const ArrowSchema& requested,
                     ArrowArray* out,
                     ColumnError& error) noexcept;

}  // namespace marquill
