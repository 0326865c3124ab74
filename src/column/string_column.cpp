#include "column/string_column.hpp"

#include <cinttypes>
#include <cstring>
#include <string_view>

#include "column/column_buffers.hpp"
#include "column/input_checks.hpp"
#include "column/parsed_rows.hpp"
#include "column/string_rows.hpp"
#include "parser/keywords.hpp"
#include "parser/tag_spans.hpp"
#include "parser/template_text.hpp"
#include "third_party/nanoarrow/nanoarrow.hpp"

namespace marquill {

namespace {

// A buffer of no bytes may have no address; its strings are then all empty.
const char* bytes_of(const ArrowBufferView& buffer) noexcept {
    return buffer.data.as_char != nullptr ? buffer.data.as_char : "";
}

// The rows of a string or large_string array, through its offsets, which
// have been checked to rise from 0 or more.
template <class Offset>
struct OffsetRows {
    const Offset* offsets;  // from the array's first row
    const char* data;
    int64_t count;

    std::string_view row(int64_t i) const noexcept {
        return {data + offsets[i], static_cast<size_t>(offsets[i + 1] - offsets[i])};
    }
    // How far a copy from row i may read: to the last row's end.
    const char* readable_end(int64_t) const noexcept { return data + offsets[count]; }
    // The bytes the n rows span, null rows' included. An empty array may
    // have no offsets at all.
    bool measure(int64_t n, Validity, int64_t& bytes, ColumnError& error) const noexcept {
        bytes = n == 0 ? 0 : offsets[n] - offsets[0];
        if (n > 0 && static_cast<int64_t>(offsets[n]) > sizeLimit) {
            return fail(error, ColumnFault::malformed, "offsets up to %" PRId64 ", more bytes than memory holds",
                        static_cast<int64_t>(offsets[n]));
        }
        return true;
    }
};

// The rows of a string_view array, each inline or in one of its buffers.
struct ViewRows {
    const ArrowArrayView* view;

    std::string_view row(int64_t i) const noexcept {
        const ArrowStringView string = ArrowArrayViewGetStringUnsafe(view, i);
        return {string.data, static_cast<size_t>(string.size_bytes)};
    }
    // How far a copy from row i may read: to the end of its buffer, or of
    // its bytes where they lie in the view.
    const char* readable_end(int64_t i) const noexcept {
        const ArrowBinaryView& string = view->buffer_views[1].data.as_binary_view[view->offset + i];
        if (string.inlined.size <= NANOARROW_BINARY_VIEW_INLINE_SIZE) {
            return reinterpret_cast<const char*>(string.inlined.data) + string.inlined.size;
        }
        const int32_t buffer = string.ref.buffer_index;
        return static_cast<const char*>(view->variadic_buffers[buffer]) + view->variadic_buffer_sizes[buffer];
    }
    // Checks that each row's view lies inside its buffer, before any is read,
    // and sums what they show: views may share bytes, so the rows may span
    // more than the buffers hold. A null row's view is never read.
    bool measure(int64_t n, Validity validity, int64_t& bytes, ColumnError& error) const noexcept {
        const ArrowBinaryView* views = view->buffer_views[1].data.as_binary_view + view->offset;
        bytes = 0;
        for (int64_t i = 0; i < n; ++i) {
            if (validity.null(i)) continue;
            if (!inside_its_buffer(views[i])) {
                return fail(error, ColumnFault::malformed, "the view of row %" PRId64 " lies outside its buffers", i);
            }
            const std::string_view string = row(i);
            if (static_cast<int64_t>(string.size()) > sizeLimit - bytes) {
                return fail(error, ColumnFault::outOfMemory,
                            "the strings' views add up to more bytes than fit in memory");
            }
            bytes += static_cast<int64_t>(string.size());
        }
        return true;
    }

private:
    bool inside_its_buffer(const ArrowBinaryView& string) const noexcept {
        const int64_t size = string.inlined.size;
        if (size < 0) return false;
        if (size <= NANOARROW_BINARY_VIEW_INLINE_SIZE) return true;
        const int64_t buffer = string.ref.buffer_index;
        const int64_t start = string.ref.offset;
        // the buffers' sizes were checked to lie in [0, sizeLimit]: no bound here overflows
        return buffer >= 0 && buffer < view->n_variadic_buffers && view->variadic_buffers[buffer] != nullptr &&
               start >= 0 && start <= view->variadic_buffer_sizes[buffer] - size;
    }
};

// Each fixed tag's word at the start of a slot of copySlack bytes, so that
// its copy is the one fixed move of a short piece.
struct PaddedWords {
    char slots[fixedTagCount][copySlack];
};
constexpr PaddedWords paddedWords = [] {
    PaddedWords words{};
    for (int id = 0; id < fixedTagCount; ++id) {
        const std::string_view word = fixedTags[id].word;
        if (static_cast<int64_t>(word.size()) > copySlack) throw "a fixed word longer than its slot";
        for (size_t k = 0; k < word.size(); ++k) words.slots[id][k] = word[k];
    }
    return words;
}();

// A tag's value: its word, or the bytes it copies from the line.
std::string_view value_of(const TagSpan& span, const char* line) noexcept {
    if (span.fixed >= 0) return {paddedWords.slots[span.fixed], fixedTags[span.fixed].word.size()};
    return {line + span.valueL, static_cast<size_t>(span.r - span.valueL)};
}

// Whether a span's value lies inside it: with the spans in order, that keeps
// a row's template and values within the row's own bytes.
bool value_inside(const TagSpan& span) noexcept {
    if (span.fixed >= 0) {
        return span.fixed < fixedTagCount &&
               static_cast<int64_t>(fixedTags[span.fixed].word.size()) == span.r - span.l - 1;
    }
    return span.l < span.valueL && span.valueL <= span.r;
}

// Writes the row of a line of n bytes from its spans, reading no further
// than `end`; false when the spans break the order the writes rely on.
template <RowsFamily family>
bool write_row(
    ParsedRowsWriter<family>& writer, int64_t i, const char* line, int64_t n, const char* end, const TagSpans& spans) {
    TemplateLayout layout(n);
    typename ParsedRowsWriter<family>::Row row = writer.begin_row();
    int64_t from = 0;
    bool sound = true;
    spans.for_each([&](const TagSpan& span) {
        if (!sound) return;
        if (!layout.add(span) || !value_inside(span) || !row.tag_room()) {
            sound = false;
            return;
        }
        row.put_template(line + from, span.l - from, end);
        const std::string_view value = value_of(span, line);
        row.put_tag(span.kind, value.data(), static_cast<int64_t>(value.size()),
                    span.fixed >= 0 ? value.data() + copySlack : end);
        from = span.r + 1;
    });
    if (!sound) return false;
    row.put_template(line + from, n - from, end);
    writer.end_row(i, row);
    return true;
}

template <RowsFamily family, class Rows>
bool parse_rows(
    const Rows& rows, int64_t n, Validity validity, const Kernel& kernel, ArrowArray* out, ColumnError& error) {
    int64_t bytes = 0;
    if (!rows.measure(n, validity, bytes, error)) return false;
    ParsedRowsWriter<family> writer;
    if (!writer.reserve(n, bytes, validity.bits != nullptr)) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the parsed column of %" PRId64 " rows", n);
    }
    for (int64_t i = 0; i < n; ++i) {
        if (validity.null(i)) {
            writer.append_null(i);
            continue;
        }
        const std::string_view line = rows.row(i);
        const auto size = static_cast<int64_t>(line.size());
        TagSpans spans;
        if (!writer.make_room(size / 2) ||
            !kernel.bytes.find_tags(reinterpret_cast<const uint8_t*>(line.data()), size, spans)) {
            return fail(error, ColumnFault::outOfMemory, "out of memory for the tags of row %" PRId64, i);
        }
        if (!write_row(writer, i, line.data(), size, rows.readable_end(i), spans)) {
            return fail(error, ColumnFault::internal, "the tags of row %" PRId64 " overlap or leave the row", i);
        }
    }
    return writer.finish(n, out, error);
}

// The rows of a column of type null: all null.
template <RowsFamily family>
bool parse_nulls(int64_t n, ArrowArray* out, ColumnError& error) {
    ParsedRowsWriter<family> writer;
    if (!writer.reserve(n, 0, true)) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the parsed column of %" PRId64 " rows", n);
    }
    for (int64_t i = 0; i < n; ++i) writer.append_null(i);
    return writer.finish(n, out, error);
}

bool is_string_type(ArrowType type) noexcept {
    return type == NANOARROW_TYPE_STRING || type == NANOARROW_TYPE_LARGE_STRING || type == NANOARROW_TYPE_STRING_VIEW;
}

// nanoarrow's full validation, but for a dictionary's indices, which it
// reads one by one through a switch on their type; the dictionary's own
// reading checks them in a loop of their type (indices_inside).
bool validate_fully(ArrowArrayView& view, ColumnError& error) noexcept {
    if (view.dictionary == nullptr) {
        return ArrowArrayViewValidate(&view, NANOARROW_VALIDATION_LEVEL_FULL, &error.detail) == NANOARROW_OK;
    }
    return ArrowArrayViewValidate(&view, NANOARROW_VALIDATION_LEVEL_DEFAULT, &error.detail) == NANOARROW_OK &&
           ArrowArrayViewValidate(view.dictionary, NANOARROW_VALIDATION_LEVEL_FULL, &error.detail) == NANOARROW_OK;
}

template <RowsFamily family>
bool parse_any(const ArrowArrayView& view, const Kernel& kernel, ArrowArray* out, ColumnError& error) {
    if (view.storage_type == NANOARROW_TYPE_NA) return parse_nulls<family>(view.length, out, error);
    if (view.dictionary != nullptr) return parse_dictionary<family>(view, kernel, out, error);
    return parse_strings<family>(view, kernel, out, error);
}

}  // namespace

template <RowsFamily family>
bool parse_strings(const ArrowArrayView& view, const Kernel& kernel, ArrowArray* out, ColumnError& error) {
    const int64_t n = view.length;
    const Validity validity{view.buffer_views[0].data.as_uint8, view.offset};
    switch (view.storage_type) {
        case NANOARROW_TYPE_STRING:
            return parse_rows<family>(OffsetRows<int32_t>{view.buffer_views[1].data.as_int32 + view.offset,
                                                          bytes_of(view.buffer_views[2]), n},
                                      n, validity, kernel, out, error);
        case NANOARROW_TYPE_LARGE_STRING:
            return parse_rows<family>(OffsetRows<int64_t>{view.buffer_views[1].data.as_int64 + view.offset,
                                                          bytes_of(view.buffer_views[2]), n},
                                      n, validity, kernel, out, error);
        default: return parse_rows<family>(ViewRows{&view}, n, validity, kernel, out, error);
    }
}

template bool parse_strings<RowsFamily::small>(const ArrowArrayView&, const Kernel&, ArrowArray*, ColumnError&);
template bool parse_strings<RowsFamily::large>(const ArrowArrayView&, const Kernel&, ArrowArray*, ColumnError&);
template bool parse_strings<RowsFamily::view>(const ArrowArrayView&, const Kernel&, ArrowArray*, ColumnError&);

bool check_string_schema(const ArrowSchema& schema, ColumnError& error) noexcept {
    ArrowSchemaView view;
    if (schema.release == nullptr)
        return fail(error, ColumnFault::malformed, "the column's schema was already released");
    if (ArrowSchemaViewInit(&view, &schema, &error.detail) != NANOARROW_OK) {
        error.fault = ColumnFault::malformed;
        return false;
    }
    if (view.type == NANOARROW_TYPE_NA || is_string_type(view.type)) return true;
    if (view.type == NANOARROW_TYPE_DICTIONARY) {
        ArrowSchemaView values;
        if (ArrowSchemaViewInit(&values, schema.dictionary, &error.detail) != NANOARROW_OK) {
            error.fault = ColumnFault::malformed;
            return false;
        }
        if (is_string_type(values.type)) return true;
    }
    char type[128];
    ArrowSchemaToString(&schema, type, sizeof type, 0);
    return fail(error, ColumnFault::notStrings,
                "expected an Arrow column of type string, large_string or string_view, a dictionary of them, or "
                "null, got %s",
                type);
}

RowsFamily family_of(const ArrowSchema& schema) noexcept {
    const ArrowSchema& values = schema.dictionary != nullptr ? *schema.dictionary : schema;
    const std::string_view format = values.format;
    if (format == "U") return RowsFamily::large;
    if (format == "vu") return RowsFamily::view;
    return RowsFamily::small;
}

bool init_parsed_schema(RowsFamily family, ArrowSchema* out, ColumnError& error) noexcept {
    struct Types {
        ArrowType text, list, kind;
    };
    const Types types = family == RowsFamily::small
                            ? Types{NANOARROW_TYPE_STRING, NANOARROW_TYPE_LIST, NANOARROW_TYPE_BINARY}
                        : family == RowsFamily::large
                            ? Types{NANOARROW_TYPE_LARGE_STRING, NANOARROW_TYPE_LARGE_LIST, NANOARROW_TYPE_LARGE_BINARY}
                            : Types{NANOARROW_TYPE_STRING_VIEW, NANOARROW_TYPE_LARGE_LIST, NANOARROW_TYPE_BINARY_VIEW};
    nanoarrow::UniqueSchema schema;
    ArrowSchema* tag = nullptr;
    ArrowSchemaInit(schema.get());
    const bool built = ArrowSchemaSetTypeStruct(schema.get(), 2) == NANOARROW_OK &&
                       ArrowSchemaSetType(schema->children[0], types.text) == NANOARROW_OK &&
                       ArrowSchemaSetName(schema->children[0], "template") == NANOARROW_OK &&
                       ArrowSchemaSetType(schema->children[1], types.list) == NANOARROW_OK &&
                       ArrowSchemaSetName(schema->children[1], "tags") == NANOARROW_OK &&
                       ArrowSchemaSetTypeStruct(tag = schema->children[1]->children[0], 2) == NANOARROW_OK &&
                       ArrowSchemaSetName(tag, "item") == NANOARROW_OK &&
                       ArrowSchemaSetType(tag->children[0], types.kind) == NANOARROW_OK &&
                       ArrowSchemaSetName(tag->children[0], "kind") == NANOARROW_OK &&
                       ArrowSchemaSetType(tag->children[1], types.text) == NANOARROW_OK &&
                       ArrowSchemaSetName(tag->children[1], "value") == NANOARROW_OK;
    if (!built) return fail(error, ColumnFault::outOfMemory, "out of memory for the parsed column's schema");
    // A null string makes its template and tags null; nothing else is ever null.
    for (ArrowSchema* part : {schema.get(), tag, tag->children[0], tag->children[1]}) {
        part->flags &= ~ARROW_FLAG_NULLABLE;
    }
    ArrowSchemaMove(schema.get(), out);
    return true;
}

bool parse_string_array(const ArrowSchema& schema,
                        const ArrowArray& chunk,
                        const Kernel& kernel,
                        ArrowArray* out,
                        ColumnError& error) noexcept {
    out->release = nullptr;
    if (!check_string_schema(schema, error)) return false;
    nanoarrow::UniqueArrayView view;
    if (ArrowArrayViewInitFromSchema(view.get(), &schema, &error.detail) != NANOARROW_OK) {
        return fail(error, ColumnFault::outOfMemory, "out of memory to read the column");
    }
    if (!check_input_structure(*view.get(), chunk, error)) return false;
    if (ArrowArrayViewSetArray(view.get(), &chunk, &error.detail) != NANOARROW_OK ||
        !validate_fully(*view.get(), error)) {
        error.fault = ColumnFault::malformed;
        return false;
    }
    switch (family_of(schema)) {
        case RowsFamily::small: return parse_any<RowsFamily::small>(*view.get(), kernel, out, error);
        case RowsFamily::large: return parse_any<RowsFamily::large>(*view.get(), kernel, out, error);
        default: return parse_any<RowsFamily::view>(*view.get(), kernel, out, error);
    }
}

}  // namespace marquill
