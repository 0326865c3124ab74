// The checks of an input array's own fields, made before any of its buffers
// is read and before nanoarrow is handed it: nanoarrow reads the buffer
// pointers its layout names before it compares their count with the
// layout's, so a short or missing pointer array would be read first.
#pragma once

#include <cstdint>
#include <limits>

#include "column/string_column.hpp"

namespace marquill {

// No valid array comes near it; below it, no size computed from a length or
// a count of bytes can overflow.
inline constexpr int64_t sizeLimit = std::numeric_limits<int64_t>::max() / 16;

// Whether `array`, said to be of the string type `type` (string,
// large_string or string_view), has the structure that type's layout asks
// for: an extent that fits, the layout's buffers (a pointer array of their
// number, with an address wherever rows need one), no children and no
// dictionary, and for string_view variadic buffers whose sizes are given
// and fit. Reads the pointer array and the variadic sizes, nothing else.
bool check_string_structure(ArrowType type, const ArrowArray& array, ColumnError& error) noexcept;

// The same of an array of any type parse_string_array takes, `view` set up
// from its schema: a string type's as above; a dictionary's indices (an
// extent that fits, a validity bitmap and the indices, no children) and its
// dictionary, an array of its string type; a null type's extent.
bool check_input_structure(const ArrowArrayView& view, const ArrowArray& array, ColumnError& error) noexcept;

}  // namespace marquill
