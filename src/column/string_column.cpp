#include "column/string_column.hpp"

#include <cinttypes>
#include <cstring>
#include <string_view>

#include "column/column_buffers.hpp"
#include "column/input_checks.hpp"
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

// The buffers of one parsed chunk, written row by row. The rows' and the
// bytes' buffers are reserved at their bound: a template and its values
// never hold more bytes than their row. The tags' grow, a row ahead: a row
// of n bytes holds at most n / 2 tags, a bound too loose to reserve for the
// whole column at once.
class ParsedRowsWriter {
public:
    bool reserve(int64_t rows, int64_t bytes, bool nullable) noexcept {
        const int64_t tags = rows + 1024;  // enough for most text, which has a tag a line or fewer
        return templateOffsets_.reserve((rows + 1) * 8) && templateData_.reserve(bytes) &&
               tagOffsets_.reserve((rows + 1) * 8) && kinds_.reserve(tags) && valueOffsets_.reserve((tags + 1) * 8) &&
               valueData_.reserve(bytes) && (!nullable || validity_.reserve((rows + 7) / 8)) &&
               start(rows, tags, nullable);
    }

    // Room for the tags of a row of n bytes; false when memory runs out.
    bool make_room(int64_t n) noexcept {
        const int64_t needed = tags_ + n / 2;
        if (needed <= tagCapacity_) return true;
        const int64_t tags = needed > 2 * tagCapacity_ ? needed : 2 * tagCapacity_;
        if (!kinds_.grow(tags) || !valueOffsets_.grow((tags + 1) * 8)) return false;
        tagCapacity_ = tags;
        return true;
    }

    // False when the spans break the order the writes rely on.
    bool append(int64_t row, const char* line, int64_t n, const TagSpans& spans) noexcept {
        TemplateLayout layout(n);
        int64_t from = 0;
        bool sound = true;
        spans.for_each([&](const TagSpan& span) {
            if (!sound) return;
            if (!layout.add(span) || !value_inside(span) || tags_ == tagCapacity_) {
                sound = false;
                return;
            }
            put_template(line + from, span.l - from);
            put_template("{}", 2);
            const std::string_view value = value_of(span, line);
            kinds_.data()[tags_] = static_cast<uint8_t>(span.kind);
            std::memcpy(valueData_.data() + valueSize_, value.data(), value.size());
            valueSize_ += static_cast<int64_t>(value.size());
            valueOffsets_.as<int64_t>()[++tags_] = valueSize_;
            from = span.r + 1;
        });
        if (!sound) return false;
        put_template(line + from, n - from);
        end_row(row, true);
        return true;
    }

    void append_null(int64_t row) noexcept {
        ++nulls_;
        end_row(row, false);
    }

    // Moves the buffers into `out`, an array of the parsed type.
    bool finish(int64_t rows, ArrowArray* out, ColumnError& error) noexcept {
        nanoarrow::UniqueSchema schema;
        if (!init_parsed_schema(schema.get(), error)) return false;
        if (ArrowArrayInitFromSchema(out, schema.get(), &error.detail) != NANOARROW_OK) {
            return fail(error, ColumnFault::outOfMemory, "out of memory for the parsed column");
        }
        ArrowArray* templates = out->children[0];
        ArrowArray* tagLists = out->children[1];
        ArrowArray* tags = tagLists->children[0];
        out->length = templates->length = tagLists->length = rows;
        tags->length = tags->children[0]->length = tags->children[1]->length = tags_;
        out->null_count = nulls_;
        if (nulls_ > 0) move_into(out, 0, validity_, (rows + 7) / 8);
        move_into(templates, 1, templateOffsets_, (rows + 1) * 8);
        move_into(templates, 2, templateData_, templateSize_);
        move_into(tagLists, 1, tagOffsets_, (rows + 1) * 8);
        move_into(tags->children[0], 1, kinds_, tags_);
        move_into(tags->children[1], 1, valueOffsets_, (tags_ + 1) * 8);
        move_into(tags->children[1], 2, valueData_, valueSize_);
        if (ArrowArrayFinishBuilding(out, NANOARROW_VALIDATION_LEVEL_MINIMAL, &error.detail) != NANOARROW_OK) {
            ArrowArrayRelease(out);
            error.fault = ColumnFault::internal;
            return false;
        }
        return true;
    }

private:
    bool start(int64_t rows, int64_t tags, bool nullable) noexcept {
        tagCapacity_ = tags;
        templateOffsets_.as<int64_t>()[0] = 0;
        tagOffsets_.as<int64_t>()[0] = 0;
        valueOffsets_.as<int64_t>()[0] = 0;
        if (nullable) std::memset(validity_.data(), 0, static_cast<size_t>((rows + 7) / 8));
        validityBits_ = nullable ? validity_.data() : nullptr;
        return true;
    }

    void put_template(const char* bytes, int64_t size) noexcept {
        std::memcpy(templateData_.data() + templateSize_, bytes, static_cast<size_t>(size));
        templateSize_ += size;
    }

    void end_row(int64_t row, bool valid) noexcept {
        if (valid && validityBits_ != nullptr) ArrowBitSet(validityBits_, row);
        templateOffsets_.as<int64_t>()[row + 1] = templateSize_;
        tagOffsets_.as<int64_t>()[row + 1] = tags_;
    }

    static void move_into(ArrowArray* array, int64_t index, OutputBuffer& buffer, int64_t used) noexcept {
        ArrowBuffer moved;
        buffer.hand_over(used, &moved);
        ArrowArraySetBuffer(array, index, &moved);  // a valid index of the type: cannot fail
    }

    OutputBuffer templateOffsets_, templateData_, tagOffsets_, kinds_, valueOffsets_, valueData_, validity_;
    uint8_t* validityBits_ = nullptr;
    int64_t templateSize_ = 0;
    int64_t valueSize_ = 0;
    int64_t tags_ = 0;
    int64_t tagCapacity_ = 0;
    int64_t nulls_ = 0;
};

template <class Rows>
bool parse_rows(
    const ArrowArrayView& view, const Rows& rows, const Kernel& kernel, ArrowArray* out, ColumnError& error) {
    const int64_t n = view.length;
    const Validity validity{view.buffer_views[0].data.as_uint8, view.offset};
    int64_t bytes = 0;
    if (!rows.measure(n, validity, bytes, error)) return false;
    ParsedRowsWriter writer;
    if (!writer.reserve(n, bytes, validity.bits != nullptr)) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the parsed column of %" PRId64 " rows", n);
    }
    for (int64_t i = 0; i < n; ++i) {
        if (validity.null(i)) {
            writer.append_null(i);
            continue;
        }
        const std::string_view line = rows.row(i);
        TagSpans spans;
        if (!writer.make_room(static_cast<int64_t>(line.size())) ||
            !kernel.bytes.find_tags(reinterpret_cast<const uint8_t*>(line.data()), static_cast<int64_t>(line.size()),
                                    spans)) {
            return fail(error, ColumnFault::outOfMemory, "out of memory for the tags of row %" PRId64, i);
        }
        if (!writer.append(i, line.data(), static_cast<int64_t>(line.size()), spans)) {
            return fail(error, ColumnFault::internal, "the tags of row %" PRId64 " overlap or leave the row", i);
        }
    }
    return writer.finish(n, out, error);
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
    switch (view.type) {
        case NANOARROW_TYPE_STRING:
        case NANOARROW_TYPE_LARGE_STRING:
        case NANOARROW_TYPE_STRING_VIEW: return true;
        default: break;
    }
    char type[128];
    ArrowSchemaToString(&schema, type, sizeof type, 0);
    return fail(error, ColumnFault::notStrings,
                "expected an Arrow column of type string, large_string or string_view, got %s", type);
}

bool init_parsed_schema(ArrowSchema* out, ColumnError& error) noexcept {
    nanoarrow::UniqueSchema schema;
    ArrowSchema* tag = nullptr;
    ArrowSchemaInit(schema.get());
    const bool built =
        ArrowSchemaSetTypeStruct(schema.get(), 2) == NANOARROW_OK &&
        ArrowSchemaSetType(schema->children[0], NANOARROW_TYPE_LARGE_STRING) == NANOARROW_OK &&
        ArrowSchemaSetName(schema->children[0], "template") == NANOARROW_OK &&
        ArrowSchemaSetType(schema->children[1], NANOARROW_TYPE_LARGE_LIST) == NANOARROW_OK &&
        ArrowSchemaSetName(schema->children[1], "tags") == NANOARROW_OK &&
        ArrowSchemaSetTypeStruct(tag = schema->children[1]->children[0], 2) == NANOARROW_OK &&
        ArrowSchemaSetName(tag, "item") == NANOARROW_OK &&
        ArrowSchemaSetTypeFixedSize(tag->children[0], NANOARROW_TYPE_FIXED_SIZE_BINARY, 1) == NANOARROW_OK &&
        ArrowSchemaSetName(tag->children[0], "kind") == NANOARROW_OK &&
        ArrowSchemaSetType(tag->children[1], NANOARROW_TYPE_LARGE_STRING) == NANOARROW_OK &&
        ArrowSchemaSetName(tag->children[1], "value") == NANOARROW_OK;
    if (!built) return fail(error, ColumnFault::outOfMemory, "out of memory for the parsed column's schema");
    // Only a row may be null: a null string gives one; its parts never are.
    for (ArrowSchema* part : {schema->children[0], schema->children[1], tag, tag->children[0], tag->children[1]}) {
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
    if (!check_string_structure(view->storage_type, chunk, error)) return false;
    if (ArrowArrayViewSetArray(view.get(), &chunk, &error.detail) != NANOARROW_OK ||
        ArrowArrayViewValidate(view.get(), NANOARROW_VALIDATION_LEVEL_FULL, &error.detail) != NANOARROW_OK) {
        error.fault = ColumnFault::malformed;
        return false;
    }
    switch (view->storage_type) {
        case NANOARROW_TYPE_STRING:
            return parse_rows(*view.get(),
                              OffsetRows<int32_t>{view->buffer_views[1].data.as_int32 + view->offset,
                                                  bytes_of(view->buffer_views[2])},
                              kernel, out, error);
        case NANOARROW_TYPE_LARGE_STRING:
            return parse_rows(*view.get(),
                              OffsetRows<int64_t>{view->buffer_views[1].data.as_int64 + view->offset,
                                                  bytes_of(view->buffer_views[2])},
                              kernel, out, error);
        default: return parse_rows(*view.get(), ViewRows{view.get()}, kernel, out, error);
    }
}

}  // namespace marquill
