#include "column/requested_rows.hpp"

#include <cstdint>
#include <cstring>
#include <limits>

#include "column/column_buffers.hpp"
#include "column/parsed_rows.hpp"

#include "third_party/nanoarrow/nanoarrow.hpp"

namespace marquill {

namespace {

bool is_text(ArrowType type) noexcept {
    switch (type) {
        case NANOARROW_TYPE_STRING:
        case NANOARROW_TYPE_LARGE_STRING:
        case NANOARROW_TYPE_STRING_VIEW:
        case NANOARROW_TYPE_BINARY:
        case NANOARROW_TYPE_LARGE_BINARY:
        case NANOARROW_TYPE_BINARY_VIEW: return true;
        default: return false;
    }
}

bool type_of(const ArrowSchema* schema, ArrowSchemaView& view) noexcept {
    return schema != nullptr && schema->release != nullptr && schema->dictionary == nullptr &&
           ArrowSchemaViewInit(&view, schema, nullptr) == NANOARROW_OK;
}

bool is_struct_of_two(const ArrowSchema* schema) noexcept {
    ArrowSchemaView view;
    return type_of(schema, view) && view.type == NANOARROW_TYPE_STRUCT && schema->n_children == 2;
}

bool is_text_leaf(const ArrowSchema* schema) noexcept {
    ArrowSchemaView view;
    return type_of(schema, view) && is_text(view.type);
}

bool is_kind_leaf(const ArrowSchema* schema) noexcept {
    ArrowSchemaView view;
    return type_of(schema, view) &&
           (is_text(view.type) || (view.type == NANOARROW_TYPE_FIXED_SIZE_BINARY && view.fixed_size == 1));
}

bool is_tag_list(const ArrowSchema* schema) noexcept {
    ArrowSchemaView view;
    if (!type_of(schema, view) || (view.type != NANOARROW_TYPE_LIST && view.type != NANOARROW_TYPE_LARGE_LIST)) {
        return false;
    }
    const ArrowSchema* tag = schema->children[0];
    return is_struct_of_two(tag) && is_kind_leaf(tag->children[0]) && is_text_leaf(tag->children[1]);
}

constexpr int64_t offset32Limit = std::numeric_limits<int32_t>::max();

bool too_large(ColumnError& error) noexcept {
    return fail(error, ColumnFault::tooLarge,
                "the rows hold more than the 32-bit offsets of the requested types reach; request their large types");
}

// Copies the n strings of a parsed leaf into `to`, of the type `strings`
// writes, one at a time through the writer of the parsed rows' own leaves.
// A null string is copied as an empty one: its row's bitmap says it is null.
template <class Strings>
bool copy_strings(const ArrowArrayView& from, int64_t bytes, Strings& strings, ArrowArray* to) noexcept {
    const int64_t n = from.length;
    if (!strings.reserve(n, bytes)) return false;
    typename Strings::Cursor cursor = strings.cursor();
    for (int64_t i = 0; i < n; ++i) {
        const ArrowStringView string = ArrowArrayViewGetStringUnsafe(&from, i);
        cursor.put_whole(i, string.data, string.size_bytes, string.data + string.size_bytes);
    }
    strings.commit(cursor);
    return strings.finish(to, n);
}

// A kind leaf as fixed_size_binary(1): each kind is one byte.
bool copy_kinds(const ArrowArrayView& from, ArrowArray* to) noexcept {
    const int64_t n = from.length;
    OutputBuffer bytes;
    if (!bytes.reserve(n)) return false;
    for (int64_t i = 0; i < n; ++i) {
        const ArrowStringView kind = ArrowArrayViewGetStringUnsafe(&from, i);
        bytes.data()[i] = kind.size_bytes == 1 ? static_cast<uint8_t>(kind.data[0]) : 0;
    }
    move_into(to, 1, bytes, n);
    return true;
}

// Writes a string leaf of the parsed rows into `to`, a leaf of the type
// `schema` describes, which check_requested_schema took.
bool write_leaf(const ArrowArrayView& from, const ArrowSchema& schema, ArrowArray* to, ColumnError& error) noexcept {
    ArrowSchemaView type;
    ArrowSchemaViewInit(&type, &schema, nullptr);  // checked by check_requested_schema
    if (type.type == NANOARROW_TYPE_FIXED_SIZE_BINARY) {
        return copy_kinds(from, to) || fail(error, ColumnFault::outOfMemory, "out of memory for the requested rows");
    }
    int64_t bytes = 0;
    for (int64_t i = 0; i < from.length; ++i) bytes += ArrowArrayViewGetStringUnsafe(&from, i).size_bytes;
    bool written = false;
    switch (type.type) {
        case NANOARROW_TYPE_STRING:
        case NANOARROW_TYPE_BINARY: {
            if (bytes > offset32Limit) return too_large(error);
            OffsetStrings<int32_t> strings;
            written = copy_strings(from, bytes, strings, to);
            break;
        }
        case NANOARROW_TYPE_LARGE_STRING:
        case NANOARROW_TYPE_LARGE_BINARY: {
            OffsetStrings<int64_t> strings;
            written = copy_strings(from, bytes, strings, to);
            break;
        }
        default: {
            ViewStrings strings;
            written = copy_strings(from, bytes, strings, to);
        }
    }
    return written || fail(error, ColumnFault::outOfMemory, "out of memory for the requested rows");
}

// Copies the validity bitmap of a parsed array, when it has one, into `to`.
bool copy_validity(const ArrowArray& from, ArrowArray* to) noexcept {
    if (from.null_count == 0) return true;
    const int64_t bytes = (from.length + 7) / 8;
    OutputBuffer copy;
    if (!copy.reserve(bytes)) return false;
    std::memcpy(copy.data(), from.buffers[0], static_cast<size_t>(bytes));
    move_into(to, 0, copy, bytes);
    to->null_count = from.null_count;
    return true;
}

// The list's offsets, from the parsed rows' (of either width) into the width
// of `to`'s type.
template <class To>
bool copy_list_offsets(const ArrowArrayView& from, ArrowArray* to) noexcept {
    const int64_t n = from.length;
    OutputBuffer offsets;
    if (!offsets.reserve((n + 1) * static_cast<int64_t>(sizeof(To)))) return false;
    for (int64_t i = 0; i <= n; ++i) offsets.as<To>()[i] = static_cast<To>(ArrowArrayViewListChildOffset(&from, i));
    move_into(to, 1, offsets, (n + 1) * static_cast<int64_t>(sizeof(To)));
    return true;
}

}  // namespace

bool check_requested_schema(const ArrowSchema& requested, ColumnError& error) noexcept {
    if (is_struct_of_two(&requested) && is_text_leaf(requested.children[0]) && is_tag_list(requested.children[1])) {
        return true;
    }
    char type[256];
    ArrowSchemaToString(&requested, type, sizeof type, 1);
    return fail(error, ColumnFault::notStrings,
                "the parsed rows are a struct of a template and a list (or large_list) of structs of a kind and a "
                "value, each a string, binary, their large or view types, or fixed_size_binary(1) for the kind; "
                "they cannot be written as %s",
                type);
}

bool same_types(const ArrowSchema& a, const ArrowSchema& b) noexcept {
    if (std::strcmp(a.format, b.format) != 0 || a.n_children != b.n_children) return false;
    if ((a.dictionary == nullptr) != (b.dictionary == nullptr)) return false;
    if (a.dictionary != nullptr && !same_types(*a.dictionary, *b.dictionary)) return false;
    for (int64_t k = 0; k < a.n_children; ++k) {
        if (!same_types(*a.children[k], *b.children[k])) return false;
    }
    return true;
}

bool write_requested(const ArrowSchema& schema,
                     const ArrowArray& chunk,
                     const ArrowSchema& requested,
                     ArrowArray* out,
                     ColumnError& error) noexcept {
    out->release = nullptr;
    nanoarrow::UniqueArrayView rows;
    nanoarrow::UniqueArray built;
    if (ArrowArrayViewInitFromSchema(rows.get(), &schema, &error.detail) != NANOARROW_OK ||
        ArrowArrayViewSetArray(rows.get(), &chunk, &error.detail) != NANOARROW_OK ||
        ArrowArrayInitFromSchema(built.get(), &requested, &error.detail) != NANOARROW_OK) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the requested rows");
    }
    // the parsed rows' arrays are the module's own: no offsets, a row never null
    const ArrowArrayView& lists = *rows->children[1];
    const ArrowArrayView& tags = *lists.children[0];
    ArrowArray* outLists = built->children[1];
    ArrowArray* outTags = outLists->children[0];
    const int64_t tagCount = tags.length;
    built->length = built->children[0]->length = outLists->length = chunk.length;
    outTags->length = outTags->children[0]->length = outTags->children[1]->length = tagCount;
    ArrowSchemaView listType;
    ArrowSchemaViewInit(&listType, requested.children[1], nullptr);  // checked by check_requested_schema
    const bool smallList = listType.type == NANOARROW_TYPE_LIST;
    if (smallList && tagCount > offset32Limit) return too_large(error);
    const ArrowSchema& tag = *requested.children[1]->children[0];
    if (!write_leaf(*rows->children[0], *requested.children[0], built->children[0], error) ||
        !write_leaf(*tags.children[0], *tag.children[0], outTags->children[0], error) ||
        !write_leaf(*tags.children[1], *tag.children[1], outTags->children[1], error)) {
        return false;
    }
    const bool copied =
        copy_validity(*chunk.children[0], built->children[0]) && copy_validity(*chunk.children[1], outLists) &&
        (smallList ? copy_list_offsets<int32_t>(lists, outLists) : copy_list_offsets<int64_t>(lists, outLists));
    if (!copied) return fail(error, ColumnFault::outOfMemory, "out of memory for the requested rows");
    if (ArrowArrayFinishBuilding(built.get(), NANOARROW_VALIDATION_LEVEL_DEFAULT, &error.detail) != NANOARROW_OK) {
        error.fault = ColumnFault::internal;
        return false;
    }
    ArrowArrayMove(built.get(), out);
    return true;
}

}  // namespace marquill
