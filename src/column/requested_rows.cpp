#include "column/requested_rows.hpp"

#include <cstring>
#include <string_view>

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

template <class... Args>
bool fail(ColumnError& error, ColumnFault fault, const char* format, Args... args) noexcept {
    error.fault = fault;
    ArrowErrorSet(&error.detail, format, args...);
    return false;
}

std::string_view bytes_at(const ArrowArrayView* leaf, int64_t i) noexcept {
    const ArrowStringView string = ArrowArrayViewGetStringUnsafe(leaf, i);
    return {string.data, static_cast<size_t>(string.size_bytes)};
}

ArrowErrorCode append(ArrowArray* leaf, std::string_view bytes) noexcept {
    return ArrowArrayAppendBytes(leaf, {{bytes.data()}, static_cast<int64_t>(bytes.size())});
}

// Appends row i of the parsed rows `rows` shows to `out`.
ArrowErrorCode append_row(const ArrowArrayView& rows, int64_t i, ArrowArray* out) noexcept {
    const ArrowArrayView* templates = rows.children[0];
    const ArrowArrayView* lists = rows.children[1];
    ArrowArray* tags = out->children[1];
    ArrowArray* tag = tags->children[0];
    if (ArrowArrayViewIsNull(templates, i)) {
        NANOARROW_RETURN_NOT_OK(ArrowArrayAppendNull(out->children[0], 1));
        NANOARROW_RETURN_NOT_OK(ArrowArrayAppendNull(tags, 1));
        return ArrowArrayFinishElement(out);
    }
    NANOARROW_RETURN_NOT_OK(append(out->children[0], bytes_at(templates, i)));
    const int64_t end = ArrowArrayViewListChildOffset(lists, i + 1);
    for (int64_t t = ArrowArrayViewListChildOffset(lists, i); t < end; ++t) {
        NANOARROW_RETURN_NOT_OK(append(tag->children[0], bytes_at(lists->children[0]->children[0], t)));
        NANOARROW_RETURN_NOT_OK(append(tag->children[1], bytes_at(lists->children[0]->children[1], t)));
        NANOARROW_RETURN_NOT_OK(ArrowArrayFinishElement(tag));
    }
    NANOARROW_RETURN_NOT_OK(ArrowArrayFinishElement(tags));
    return ArrowArrayFinishElement(out);
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
        ArrowArrayInitFromSchema(built.get(), &requested, &error.detail) != NANOARROW_OK ||
        ArrowArrayStartAppending(built.get()) != NANOARROW_OK) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the requested rows");
    }
    for (int64_t i = 0; i < chunk.length; ++i) {
        const ArrowErrorCode code = append_row(*rows.get(), i, built.get());
        if (code == EOVERFLOW) {
            return fail(error, ColumnFault::tooLarge,
                        "the rows hold more than the 32-bit offsets of the requested types reach; request their "
                        "large types");
        }
        if (code != NANOARROW_OK) return fail(error, ColumnFault::outOfMemory, "out of memory for the requested rows");
    }
    if (ArrowArrayFinishBuildingDefault(built.get(), &error.detail) != NANOARROW_OK) {
        error.fault = ColumnFault::internal;
        return false;
    }
    ArrowArrayMove(built.get(), out);
    return true;
}

}  // namespace marquill
