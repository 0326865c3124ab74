// What the readers of string arrays (string_column.cpp) and of dictionaries
// of them (dictionary_rows.cpp) share: the rows of a string array written in
// a family's types.
#pragma once

#include <cstdint>

#include "column/string_column.hpp"
#include "parser/kernel.hpp"
#include "third_party/nanoarrow/nanoarrow.h"

namespace marquill {

// Whether row i of the array is null; without a bitmap none is. A bitmap
// is followed even where the null count says 0, as pyarrow reads it.
struct Validity {
    const uint8_t* bits;  // null when no row is null
    int64_t offset;       // the array's first row in the bitmap

    bool null(int64_t i) const noexcept { return bits != nullptr && !ArrowBitGet(bits, offset + i); }
};

// The rows of the array `view` shows, of a string type, fully validated.
template <RowsFamily family>
bool parse_strings(const ArrowArrayView& view, const Kernel& kernel, ArrowArray* out, ColumnError& error);

// The rows of a dictionary of strings, `view` validated but for its indices.
template <RowsFamily family>
bool parse_dictionary(const ArrowArrayView& view, const Kernel& kernel, ArrowArray* out, ColumnError& error);

}  // namespace marquill
