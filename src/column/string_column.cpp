#include "column/string_column.hpp"

#include <cinttypes>
#include <cstring>
#include <string_view>

#include "column/column_buffers.hpp"
#include "column/input_checks.hpp"
#include "column/parsed_rows.hpp"
#include "parser/keywords.hpp"
#include "parser/tag_spans.hpp"
#include "parser/template_text.hpp"
#include "third_party/nanoarrow/nanoarrow.hpp"

namespace marquill {

namespace {

template <class... Args>
bool fail(ColumnError& error, ColumnFault fault, const char* format, Args... args) noexcept {
    error.fault = fault;
    ArrowErrorSet(&error.detail, format, args...);
    return false;
}

// A buffer of no bytes may have no address; its strings are then all empty.
const char* bytes_of(const ArrowBufferView& buffer) noexcept {
    return buffer.data.as_char != nullptr ? buffer.data.as_char : "";
}

// Whether row i of the array is null; without a bitmap none is. A bitmap
// is followed even where the null count says 0, as pyarrow reads it.
struct Validity {
    const uint8_t* bits;  // null when no row is null
    int64_t offset;       // the array's first row in the bitmap

    bool null(int64_t i) const noexcept { return bits != nullptr && !ArrowBitGet(bits, offset + i); }
};

// The rows of a string or large_string array, through its offsets, which
// have been checked to rise from 0 or more.
template <class Offset>
struct OffsetRows {
    const Offset* offsets;  // from the array's first row
    const char* data;

    std::string_view row(int64_t i) const noexcept {
        return {data + offsets[i], static_cast<size_t>(offsets[i + 1] - offsets[i])};
    }
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

// Where a fixed tag's value or a copied value comes from.
std::string_view value_of(const TagSpan& span, const char* line) noexcept {
    if (span.fixed >= 0) return fixedTags[span.fixed].word;
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

// Writes the row of a line of n bytes from its spans; false when the spans
// break the order the writes rely on.
template <RowsFamily family>
bool write_row(ParsedRowsWriter<family>& writer, int64_t i, const char* line, int64_t n, const TagSpans& spans) {
    TemplateLayout layout(n);
    typename ParsedRowsWriter<family>::Row row = writer.begin_row();
    const char* end = line + n;
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
                    span.fixed >= 0 ? value.data() + value.size() : end);
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
        if (!write_row(writer, i, line.data(), size, spans)) {
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

// The rows of the array `view` shows, of a string type.
template <RowsFamily family>
bool parse_strings(const ArrowArrayView& view, const Kernel& kernel, ArrowArray* out, ColumnError& error) {
    const int64_t n = view.length;
    const Validity validity{view.buffer_views[0].data.as_uint8, view.offset};
    switch (view.storage_type) {
        case NANOARROW_TYPE_STRING:
            return parse_rows<family>(
                OffsetRows<int32_t>{view.buffer_views[1].data.as_int32 + view.offset, bytes_of(view.buffer_views[2])},
                n, validity, kernel, out, error);
        case NANOARROW_TYPE_LARGE_STRING:
            return parse_rows<family>(
                OffsetRows<int64_t>{view.buffer_views[1].data.as_int64 + view.offset, bytes_of(view.buffer_views[2])},
                n, validity, kernel, out, error);
        default: return parse_rows<family>(ViewRows{&view}, n, validity, kernel, out, error);
    }
}

bool is_string_type(ArrowType type) noexcept {
    return type == NANOARROW_TYPE_STRING || type == NANOARROW_TYPE_LARGE_STRING || type == NANOARROW_TYPE_STRING_VIEW;
}

// A dictionary column: each distinct value parsed once, then each row
// gathered from its value's parsed row. The gather copies a row's pieces as
// they lie: a row's kinds, and its values' bytes, are each one run in the
// parsed values; views are copied as views, and the parsed values' bytes
// become the rows' own.
template <class Index>
struct Indices {
    const Index* at;  // from the array's first row
    Validity validity;

    bool null(int64_t i) const noexcept { return validity.null(i); }
    int64_t operator[](int64_t i) const noexcept { return static_cast<int64_t>(at[i]); }
};

// The parsed values, read by the gather.
template <RowsFamily family>
struct ParsedValues {
    using Offset = typename FamilyTypes<family>::Offset;

    explicit ParsedValues(ArrowArray& parsed) noexcept
        : array(parsed),
          templates(*parsed.children[0]),
          tags(*parsed.children[1]->children[0]),
          nulls(static_cast<const uint8_t*>(parsed.children[0]->buffers[0])),
          tagOffsets(static_cast<const Offset*>(parsed.children[1]->buffers[1])) {}

    bool null(int64_t d) const noexcept { return nulls != nullptr && !ArrowBitGet(nulls, d); }
    int64_t first_tag(int64_t d) const noexcept { return tagOffsets[d]; }
    int64_t end_tag(int64_t d) const noexcept { return tagOffsets[d + 1]; }

    ArrowArray& array;
    const ArrowArray& templates;
    const ArrowArray& tags;
    const uint8_t* nulls;
    const Offset* tagOffsets;
};

// Builds `out` of the family's type from the rows' buffers, each moved in;
// `fill` sets each leaf's.
template <RowsFamily family, class Fill>
bool build_rows(int64_t rows,
                int64_t tags,
                int64_t nulls,
                OutputBuffer& validity,
                OutputBuffer& tagOffsets,
                Fill fill,
                ArrowArray* out,
                ColumnError& error) noexcept {
    using Offset = typename FamilyTypes<family>::Offset;
    nanoarrow::UniqueSchema schema;
    if (!init_parsed_schema(family, schema.get(), error)) return false;
    nanoarrow::UniqueArray built;
    if (ArrowArrayInitFromSchema(built.get(), schema.get(), &error.detail) != NANOARROW_OK) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the parsed column");
    }
    ArrowArray* templates = built->children[0];
    ArrowArray* lists = built->children[1];
    ArrowArray* tagArray = lists->children[0];
    built->length = templates->length = lists->length = rows;
    tagArray->length = tagArray->children[0]->length = tagArray->children[1]->length = tags;
    if (nulls > 0) {
        const int64_t bytes = (rows + 7) / 8;
        OutputBuffer copy;
        if (!copy.reserve(bytes)) return fail(error, ColumnFault::outOfMemory, "out of memory for the parsed column");
        std::memcpy(copy.data(), validity.data(), static_cast<size_t>(bytes));
        templates->null_count = lists->null_count = nulls;
        move_into(templates, 0, validity, bytes);
        move_into(lists, 0, copy, bytes);
    }
    move_into(lists, 1, tagOffsets, (rows + 1) * static_cast<int64_t>(sizeof(Offset)));
    if (!fill(templates, tagArray->children[0], tagArray->children[1])) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the parsed column");
    }
    if (ArrowArrayFinishBuilding(built.get(), NANOARROW_VALIDATION_LEVEL_MINIMAL, &error.detail) != NANOARROW_OK) {
        error.fault = ColumnFault::internal;
        return false;
    }
    ArrowArrayMove(built.get(), out);
    return true;
}

// The rows' validity, the tags' offsets and the count of tags and nulls,
// which every family's gather writes alike.
template <RowsFamily family>
struct GatheredRows {
    using Offset = typename FamilyTypes<family>::Offset;

    OutputBuffer validity, tagOffsets;
    int64_t tags = 0;
    int64_t nulls = 0;

    template <class Index>
    bool gather(const Indices<Index>& indices, int64_t n, const ParsedValues<family>& values) noexcept {
        if (!tagOffsets.reserve((n + 1) * static_cast<int64_t>(sizeof(Offset))) || !validity.reserve((n + 7) / 8)) {
            return false;
        }
        std::memset(validity.data(), 0, static_cast<size_t>((n + 7) / 8));
        auto* offsets = tagOffsets.as<Offset>();
        offsets[0] = 0;
        for (int64_t i = 0; i < n; ++i) {
            if (indices.null(i) || values.null(indices[i])) {
                ++nulls;
            } else {
                const int64_t d = indices[i];
                tags += values.end_tag(d) - values.first_tag(d);
                ArrowBitSet(validity.data(), i);
            }
            offsets[i + 1] = static_cast<Offset>(tags);
        }
        return true;
    }
    bool valid(int64_t i) const noexcept { return ArrowBitGet(validity.data(), i); }
};

// The leaves of the families by offsets: each row's bytes copied.
template <RowsFamily family, class Index>
bool gather_offsets(const Indices<Index>& indices,
                    int64_t n,
                    ParsedValues<family>& values,
                    ArrowArray* out,
                    ColumnError& error) noexcept {
    using Offset = typename FamilyTypes<family>::Offset;
    GatheredRows<family> rows;
    if (!rows.gather(indices, n, values)) return fail(error, ColumnFault::outOfMemory, "out of memory for the rows");
    const auto* templateOffsets = static_cast<const Offset*>(values.templates.buffers[1]);
    const auto* templateData = static_cast<const uint8_t*>(values.templates.buffers[2]);
    const auto* kindData = static_cast<const uint8_t*>(values.tags.children[0]->buffers[2]);
    const auto* valueOffsets = static_cast<const Offset*>(values.tags.children[1]->buffers[1]);
    const auto* valueData = static_cast<const uint8_t*>(values.tags.children[1]->buffers[2]);
    int64_t templateBytes = 0;
    int64_t valueBytes = 0;
    for (int64_t i = 0; i < n; ++i) {
        if (!rows.valid(i)) continue;
        const int64_t d = indices[i];
        templateBytes += templateOffsets[d + 1] - templateOffsets[d];
        valueBytes += valueOffsets[values.end_tag(d)] - valueOffsets[values.first_tag(d)];
    }
    constexpr int64_t limit = std::numeric_limits<Offset>::max();
    if (templateBytes > limit || valueBytes > limit || rows.tags > limit) {
        return fail(error, ColumnFault::tooLarge,
                    "the rows of this dictionary column hold more than 2 GiB, past what string's 32-bit offsets "
                    "reach; a dictionary of large_string or string_view gives rows that hold them");
    }
    OutputBuffer outTemplateOffsets, outTemplateData, outKindOffsets, outKindData, outValueOffsets, outValueData;
    if (!outTemplateOffsets.reserve((n + 1) * static_cast<int64_t>(sizeof(Offset))) ||
        !outTemplateData.reserve(templateBytes) ||
        !outKindOffsets.reserve((rows.tags + 1) * static_cast<int64_t>(sizeof(Offset))) ||
        !outKindData.reserve(rows.tags) ||
        !outValueOffsets.reserve((rows.tags + 1) * static_cast<int64_t>(sizeof(Offset))) ||
        !outValueData.reserve(valueBytes)) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the rows");
    }
    auto* tOffsets = outTemplateOffsets.as<Offset>();
    auto* kOffsets = outKindOffsets.as<Offset>();
    auto* vOffsets = outValueOffsets.as<Offset>();
    tOffsets[0] = kOffsets[0] = vOffsets[0] = 0;
    int64_t templateSize = 0;
    int64_t valueSize = 0;
    int64_t tag = 0;
    for (int64_t i = 0; i < n; ++i) {
        if (rows.valid(i)) {
            const int64_t d = indices[i];
            const int64_t size = templateOffsets[d + 1] - templateOffsets[d];
            std::memcpy(outTemplateData.data() + templateSize, templateData + templateOffsets[d],
                        static_cast<size_t>(size));
            templateSize += size;
            const int64_t first = values.first_tag(d);
            const int64_t count = values.end_tag(d) - first;
            std::memcpy(outKindData.data() + tag, kindData + first, static_cast<size_t>(count));
            const int64_t base = valueOffsets[first];
            const int64_t bytes = valueOffsets[first + count] - base;
            std::memcpy(outValueData.data() + valueSize, valueData + base, static_cast<size_t>(bytes));
            for (int64_t k = 1; k <= count; ++k) {
                kOffsets[tag + k] = static_cast<Offset>(tag + k);
                vOffsets[tag + k] = static_cast<Offset>(valueSize + valueOffsets[first + k] - base);
            }
            valueSize += bytes;
            tag += count;
        }
        tOffsets[i + 1] = static_cast<Offset>(templateSize);
    }
    auto fill = [&](ArrowArray* templates, ArrowArray* kinds, ArrowArray* valueArray) {
        move_into(templates, 1, outTemplateOffsets, (n + 1) * static_cast<int64_t>(sizeof(Offset)));
        move_into(templates, 2, outTemplateData, templateSize);
        move_into(kinds, 1, outKindOffsets, (tag + 1) * static_cast<int64_t>(sizeof(Offset)));
        move_into(kinds, 2, outKindData, tag);
        move_into(valueArray, 1, outValueOffsets, (tag + 1) * static_cast<int64_t>(sizeof(Offset)));
        move_into(valueArray, 2, outValueData, valueSize);
        return true;
    };
    return build_rows<family>(n, rows.tags, rows.nulls, rows.validity, rows.tagOffsets, fill, out, error);
}

// Moves the variadic buffers of a parsed view leaf into another, whose views
// then show the same bytes.
bool move_variadic_buffers(ArrowArray& from, ArrowArray* to) noexcept {
    const int32_t count = static_cast<int32_t>(from.n_buffers) - 3;
    if (count <= 0) return true;
    if (ArrowArrayAddVariadicBuffers(to, count) != NANOARROW_OK) return false;
    for (int32_t k = 0; k < count; ++k) {
        ArrowBuffer moved;
        ArrowBufferMove(ArrowArrayBuffer(&from, 2 + k), &moved);
        ArrowArraySetBuffer(to, 2 + k, &moved);
    }
    return true;
}

// The view family's leaves: each row's views copied, 16 bytes a string.
template <class Index>
bool gather_views(const Indices<Index>& indices,
                  int64_t n,
                  ParsedValues<RowsFamily::view>& values,
                  ArrowArray* out,
                  ColumnError& error) noexcept {
    GatheredRows<RowsFamily::view> rows;
    if (!rows.gather(indices, n, values)) return fail(error, ColumnFault::outOfMemory, "out of memory for the rows");
    OutputBuffer templateViews, kindViews, valueViews;
    if (!templateViews.reserve(n * 16) || !kindViews.reserve(rows.tags * 16) || !valueViews.reserve(rows.tags * 16)) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the rows");
    }
    const auto* templates = static_cast<const ArrowBinaryView*>(values.templates.buffers[1]);
    const auto* kinds = static_cast<const ArrowBinaryView*>(values.tags.children[0]->buffers[1]);
    const auto* valueArray = static_cast<const ArrowBinaryView*>(values.tags.children[1]->buffers[1]);
    auto* outTemplates = templateViews.as<ArrowBinaryView>();
    int64_t tag = 0;
    for (int64_t i = 0; i < n; ++i) {
        if (!rows.valid(i)) {
            std::memset(&outTemplates[i], 0, sizeof(ArrowBinaryView));
            continue;
        }
        const int64_t d = indices[i];
        outTemplates[i] = templates[d];
        const int64_t first = values.first_tag(d);
        const auto count = static_cast<size_t>(values.end_tag(d) - first);
        std::memcpy(kindViews.as<ArrowBinaryView>() + tag, kinds + first, count * sizeof(ArrowBinaryView));
        std::memcpy(valueViews.as<ArrowBinaryView>() + tag, valueArray + first, count * sizeof(ArrowBinaryView));
        tag += static_cast<int64_t>(count);
    }
    auto fill = [&](ArrowArray* templateArray, ArrowArray* kindArray, ArrowArray* valueLeaf) {
        move_into(templateArray, 1, templateViews, n * 16);
        move_into(kindArray, 1, kindViews, tag * 16);
        move_into(valueLeaf, 1, valueViews, tag * 16);
        return move_variadic_buffers(*values.array.children[0], templateArray) &&
               move_variadic_buffers(*values.array.children[1]->children[0]->children[1], valueLeaf);
    };
    return build_rows<RowsFamily::view>(n, rows.tags, rows.nulls, rows.validity, rows.tagOffsets, fill, out, error);
}

template <RowsFamily family, class Index>
bool parse_dictionary(const ArrowArrayView& view,
                      const Indices<Index>& indices,
                      const Kernel& kernel,
                      ArrowArray* out,
                      ColumnError& error) {
    // nanoarrow's full validation has checked each index against the dictionary
    nanoarrow::UniqueArray parsed;
    if (!parse_strings<family>(*view.dictionary, kernel, parsed.get(), error)) return false;
    ParsedValues<family> values(*parsed.get());
    if constexpr (family == RowsFamily::view) {
        return gather_views(indices, view.length, values, out, error);
    } else {
        return gather_offsets<family>(indices, view.length, values, out, error);
    }
}

template <RowsFamily family>
bool parse_dictionary(const ArrowArrayView& view, const Kernel& kernel, ArrowArray* out, ColumnError& error) {
    const Validity validity{view.buffer_views[0].data.as_uint8, view.offset};
    const ArrowBufferViewData data = view.buffer_views[1].data;
    switch (view.storage_type) {
        case NANOARROW_TYPE_INT8:
            return parse_dictionary<family>(view, Indices<int8_t>{data.as_int8 + view.offset, validity}, kernel, out,
                                            error);
        case NANOARROW_TYPE_UINT8:
            return parse_dictionary<family>(view, Indices<uint8_t>{data.as_uint8 + view.offset, validity}, kernel, out,
                                            error);
        case NANOARROW_TYPE_INT16:
            return parse_dictionary<family>(view, Indices<int16_t>{data.as_int16 + view.offset, validity}, kernel, out,
                                            error);
        case NANOARROW_TYPE_UINT16:
            return parse_dictionary<family>(view, Indices<uint16_t>{data.as_uint16 + view.offset, validity}, kernel,
                                            out, error);
        case NANOARROW_TYPE_INT32:
            return parse_dictionary<family>(view, Indices<int32_t>{data.as_int32 + view.offset, validity}, kernel, out,
                                            error);
        case NANOARROW_TYPE_UINT32:
            return parse_dictionary<family>(view, Indices<uint32_t>{data.as_uint32 + view.offset, validity}, kernel,
                                            out, error);
        case NANOARROW_TYPE_INT64:
            return parse_dictionary<family>(view, Indices<int64_t>{data.as_int64 + view.offset, validity}, kernel, out,
                                            error);
        case NANOARROW_TYPE_UINT64:
            return parse_dictionary<family>(view, Indices<uint64_t>{data.as_uint64 + view.offset, validity}, kernel,
                                            out, error);
        default: return fail(error, ColumnFault::notStrings, "a dictionary whose indices are not integers");
    }
}

template <RowsFamily family>
bool parse_any(const ArrowArrayView& view, const Kernel& kernel, ArrowArray* out, ColumnError& error) {
    if (view.storage_type == NANOARROW_TYPE_NA) return parse_nulls<family>(view.length, out, error);
    if (view.dictionary != nullptr) return parse_dictionary<family>(view, kernel, out, error);
    return parse_strings<family>(view, kernel, out, error);
}

}  // namespace

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
        ArrowArrayViewValidate(view.get(), NANOARROW_VALIDATION_LEVEL_FULL, &error.detail) != NANOARROW_OK) {
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
