#include "column/input_checks.hpp"

#include <cinttypes>

namespace marquill {

namespace {

template <class... Args>
bool refuse(ColumnError& error, const char* format, Args... args) noexcept {
    error.fault = ColumnFault::malformed;
    ArrowErrorSet(&error.detail, format, args...);
    return false;
}

bool check_extent(const ArrowArray& array, ColumnError& error) noexcept {
    if (array.length < 0 || array.offset < 0 || array.length > sizeLimit || array.offset > sizeLimit - array.length) {
        return refuse(error, "an array of length %" PRId64 " at offset %" PRId64, array.length, array.offset);
    }
    // -1 says the count is unknown
    if (array.null_count < -1 || array.null_count > array.length) {
        return refuse(error, "a null count of %" PRId64 " in %" PRId64 " rows", array.null_count, array.length);
    }
    return true;
}

// string and large_string: validity, offsets, data. string_view: validity,
// views, the variadic data buffers (nanoarrow counts them in an int32),
// and their sizes last.
bool check_buffer_count(ArrowType type, const ArrowArray& array, ColumnError& error) noexcept {
    const int64_t n = array.n_buffers;
    if (type != NANOARROW_TYPE_STRING_VIEW) {
        if (n == 3) return true;
        return refuse(error, "a %s array of %" PRId64 " buffers, not 3", ArrowTypeString(type), n);
    }
    if (n >= 3 && n - 3 <= std::numeric_limits<int32_t>::max()) return true;
    return refuse(error, "a string_view array of %" PRId64 " buffers, not 3 or more", n);
}

bool check_buffers(const ArrowArray& array, ColumnError& error) noexcept {
    if (array.buffers == nullptr) return refuse(error, "an array of %" PRId64 " buffers at NULL", array.n_buffers);
    if (array.buffers[0] == nullptr && array.null_count > 0) {
        return refuse(error, "%" PRId64 " nulls without a validity bitmap", array.null_count);
    }
    if (array.buffers[1] == nullptr && array.length > 0) {
        return refuse(error, "%" PRId64 " rows without offsets or views", array.length);
    }
    return true;
}

// A view is checked against its buffer's size before it is read: each size
// must be there and fit, so that no bound computed from it overflows.
bool check_variadic_sizes(const ArrowArray& array, ColumnError& error) noexcept {
    const int64_t count = array.n_buffers - 3;
    const auto* sizes = static_cast<const int64_t*>(array.buffers[array.n_buffers - 1]);
    if (count > 0 && sizes == nullptr) {
        return refuse(error, "%" PRId64 " variadic buffers without their sizes", count);
    }
    for (int64_t k = 0; k < count; ++k) {
        if (sizes[k] < 0 || sizes[k] > sizeLimit) {
            return refuse(error, "variadic buffer %" PRId64 " of %" PRId64 " bytes", k, sizes[k]);
        }
        if (sizes[k] > 0 && array.buffers[2 + k] == nullptr) {
            return refuse(error, "variadic buffer %" PRId64 " of %" PRId64 " bytes at NULL", k, sizes[k]);
        }
    }
    return true;
}

bool check_shape(const ArrowArray& array, const char* what, ColumnError& error) noexcept {
    if (array.release == nullptr) return refuse(error, "the array was already released");
    if (array.n_children != 0) return refuse(error, "%s of %" PRId64 " children", what, array.n_children);
    return check_extent(array, error);
}

}  // namespace

bool check_input_structure(const ArrowArrayView& view, const ArrowArray& array, ColumnError& error) noexcept {
    if (view.storage_type == NANOARROW_TYPE_NA) {
        return check_shape(array, "a null array", error) &&
               (array.dictionary == nullptr || refuse(error, "a null array with a dictionary"));
    }
    if (view.dictionary == nullptr) return check_string_structure(view.storage_type, array, error);
    if (!check_shape(array, "a dictionary's indices", error)) return false;
    if (array.n_buffers != 2) return refuse(error, "dictionary indices in %" PRId64 " buffers, not 2", array.n_buffers);
    if (!check_buffers(array, error)) return false;
    if (array.dictionary == nullptr) return refuse(error, "a dictionary column without its dictionary");
    return check_string_structure(view.dictionary->storage_type, *array.dictionary, error);
}

bool check_string_structure(ArrowType type, const ArrowArray& array, ColumnError& error) noexcept {
    if (array.release == nullptr) return refuse(error, "the array was already released");
    if (array.n_children != 0) return refuse(error, "a string array of %" PRId64 " children", array.n_children);
    if (array.dictionary != nullptr) return refuse(error, "a string array with a dictionary");
    if (!check_extent(array, error) || !check_buffer_count(type, array, error) || !check_buffers(array, error)) {
        return false;
    }
    return type != NANOARROW_TYPE_STRING_VIEW || check_variadic_sizes(array, error);
}

}  // namespace marquill
