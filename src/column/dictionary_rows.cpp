// A dictionary column: each distinct value parsed once, then each row
// gathered from its value's parsed row. A row's kinds, and its values'
// bytes, each lie in one run of the parsed values, so a row costs a few
// short copies whatever its tags. Views are copied as views, and the parsed
// values' bytes become the rows' own.
#include <cinttypes>
#include <cstring>
#include <limits>
#include <type_traits>

#include "column/column_buffers.hpp"
#include "column/input_checks.hpp"
#include "column/parsed_rows.hpp"
#include "column/string_rows.hpp"
#include "third_party/nanoarrow/nanoarrow.hpp"

namespace marquill {

namespace {

template <class Index>
struct Indices {
    const Index* at;  // from the array's first row
    Validity validity;

    bool null(int64_t i) const noexcept { return validity.null(i); }
    int64_t operator[](int64_t i) const noexcept { return static_cast<int64_t>(at[i]); }
};

// Whether the index of each row that is not null names one of the
// dictionary's `length` values. Compared unsigned, a negative index lies past
// every length; without a bitmap, the loop has no branch and vectorises.
template <class Index>
bool indices_inside(const Indices<Index>& indices, int64_t n, int64_t length, ColumnError& error) noexcept {
    const auto limit = static_cast<uint64_t>(length);
    if (indices.validity.bits == nullptr) {
        bool outside = false;
        for (int64_t i = 0; i < n; ++i) outside |= static_cast<uint64_t>(indices.at[i]) >= limit;
        if (!outside) return true;
    }
    for (int64_t i = 0; i < n; ++i) {
        if (!indices.null(i) && static_cast<uint64_t>(indices.at[i]) >= limit) {
            if constexpr (std::is_signed_v<Index>) {
                return fail(error, ColumnFault::malformed,
                            "row %" PRId64 " has dictionary index %" PRId64 ", outside its %" PRId64 " values", i,
                            static_cast<int64_t>(indices.at[i]), length);
            } else {
                return fail(error, ColumnFault::malformed,
                            "row %" PRId64 " has dictionary index %" PRIu64 ", outside its %" PRId64 " values", i,
                            static_cast<uint64_t>(indices.at[i]), length);
            }
        }
    }
    return true;
}

// The parsed values, as the gather reads them.
template <RowsFamily family>
struct ParsedValues {
    using Offset = typename FamilyTypes<family>::Offset;

    explicit ParsedValues(ArrowArray& parsed) noexcept
        : array(parsed),
          templates(*parsed.children[0]),
          kinds(*parsed.children[1]->children[0]->children[0]),
          values(*parsed.children[1]->children[0]->children[1]),
          nulls(static_cast<const uint8_t*>(parsed.children[0]->buffers[0])),
          tagOffsets(static_cast<const Offset*>(parsed.children[1]->buffers[1])) {}

    bool null(int64_t d) const noexcept { return nulls != nullptr && !ArrowBitGet(nulls, d); }
    int64_t first_tag(int64_t d) const noexcept { return tagOffsets[d]; }
    int64_t tag_count(int64_t d) const noexcept { return tagOffsets[d + 1] - tagOffsets[d]; }

    ArrowArray& array;
    const ArrowArray& templates;
    const ArrowArray& kinds;
    const ArrowArray& values;
    const uint8_t* nulls;
    const Offset* tagOffsets;
};

// A string leaf of the parsed values by offsets, read.
template <class Offset>
struct OffsetLeaf {
    explicit OffsetLeaf(const ArrowArray& leaf) noexcept
        : offsets(static_cast<const Offset*>(leaf.buffers[1])),
          data(static_cast<const char*>(leaf.buffers[2])),
          end(data + offsets[leaf.length]) {}

    // The bytes of strings [first, last).
    int64_t bytes(int64_t first, int64_t last) const noexcept { return offsets[last] - offsets[first]; }

    const Offset* offsets;
    const char* data;
    const char* end;  // the last string's end, as far as a copy may read
};

// How many rows use each of the dictionary's `length` values, a row whose
// index is null none: what the rows add up to then comes from a pass over
// the values, not a second pass over the rows.
template <class Index>
bool count_uses(const Indices<Index>& indices, int64_t n, int64_t length, OutputBuffer& uses) noexcept {
    if (!uses.reserve(length * static_cast<int64_t>(sizeof(int64_t)))) return false;
    auto* counts = uses.as<int64_t>();
    std::memset(counts, 0, static_cast<size_t>(length) * sizeof(int64_t));
    if (indices.validity.bits == nullptr) {
        for (int64_t i = 0; i < n; ++i) ++counts[indices[i]];
    } else {
        for (int64_t i = 0; i < n; ++i) {
            if (!indices.null(i)) ++counts[indices[i]];
        }
    }
    return true;
}

// Adds count * size to `total`; false when that would pass `limit`, which
// `total` has not.
bool add_times(int64_t& total, int64_t count, int64_t size, int64_t limit) noexcept {
    if (size != 0 && count > (limit - total) / size) return false;
    total += count * size;
    return true;
}

// What the rows of a family add up to, and the most each total may be.
template <RowsFamily family>
struct RowTotals {
    static constexpr int64_t limit = family == RowsFamily::small ? std::numeric_limits<int32_t>::max() : sizeLimit / 16;

    int64_t tags = 0;
    int64_t templateBytes = 0;
    int64_t valueBytes = 0;

    bool too_large(ColumnError& error) const noexcept {
        if (family == RowsFamily::small) {
            return fail(error, ColumnFault::tooLarge,
                        "the rows of this dictionary column hold more than 2 GiB, past what string's 32-bit offsets "
                        "reach; a dictionary of large_string or string_view gives rows that hold them");
        }
        return fail(error, ColumnFault::outOfMemory, "the rows of this dictionary column hold more than memory does");
    }
};

// The rows' validity and the tags' offsets, which every family's gather
// writes alike.
template <RowsFamily family>
struct RowBuffers {
    using Offset = typename FamilyTypes<family>::Offset;

    bool reserve(int64_t n) noexcept {
        if (!tagOffsets.reserve((n + 1) * static_cast<int64_t>(sizeof(Offset))) || !validity.reserve((n + 7) / 8)) {
            return false;
        }
        std::memset(validity.data(), 0, static_cast<size_t>((n + 7) / 8));
        tagOffsets.as<Offset>()[0] = 0;
        return true;
    }

    OutputBuffer validity, tagOffsets;
};

// A leaf by offsets being written: the strings' ends and their bytes.
template <class Offset>
struct OffsetLeafWriter {
    bool reserve(int64_t count, int64_t bytes) noexcept {
        if (!offsets.reserve((count + 1) * static_cast<int64_t>(sizeof(Offset))) || !data.reserve(bytes + copySlack)) {
            return false;
        }
        offsets.as<Offset>()[0] = 0;
        return true;
    }
    void finish(ArrowArray* leaf, int64_t count) noexcept {
        move_into(leaf, 1, offsets, (count + 1) * static_cast<int64_t>(sizeof(Offset)));
        move_into(leaf, 2, data, size);
    }

    OutputBuffer offsets, data;
    int64_t size = 0;
};

// The leaves of the families by offsets: each row's bytes copied. A kind is
// one byte, so the kinds' offsets count the tags.
template <RowsFamily family, class Index>
bool gather_offsets(const Indices<Index>& indices,
                    int64_t n,
                    ParsedValues<family>& values,
                    ArrowArray* out,
                    ColumnError& error) noexcept {
    using Offset = typename FamilyTypes<family>::Offset;
    const OffsetLeaf<Offset> templates(values.templates), kinds(values.kinds), valueLeaf(values.values);
    const int64_t length = values.templates.length;
    OutputBuffer uses;
    if (!count_uses(indices, n, length, uses))
        return fail(error, ColumnFault::outOfMemory, "out of memory for the rows");
    RowTotals<family> totals;
    for (int64_t d = 0; d < length; ++d) {
        const int64_t count = uses.as<int64_t>()[d];
        if (count == 0 || values.null(d)) continue;
        const int64_t first = values.first_tag(d);
        if (!add_times(totals.tags, count, values.tag_count(d), totals.limit) ||
            !add_times(totals.templateBytes, count, templates.bytes(d, d + 1), totals.limit) ||
            !add_times(totals.valueBytes, count, valueLeaf.bytes(first, first + values.tag_count(d)), totals.limit)) {
            return totals.too_large(error);
        }
    }
    RowBuffers<family> rows;
    OffsetLeafWriter<Offset> outTemplates, outKinds, outValues;
    if (!rows.reserve(n) || !outTemplates.reserve(n, totals.templateBytes) ||
        !outKinds.reserve(totals.tags, totals.tags) || !outValues.reserve(totals.tags, totals.valueBytes)) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the rows");
    }
    uint8_t* valid = rows.validity.data();
    auto* tagEnds = rows.tagOffsets.template as<Offset>();
    auto* templateEnds = outTemplates.offsets.template as<Offset>();
    auto* valueEnds = outValues.offsets.template as<Offset>();
    uint8_t* templateData = outTemplates.data.data();
    uint8_t* kindData = outKinds.data.data();
    uint8_t* valueData = outValues.data.data();
    int64_t templateSize = 0;
    int64_t valueSize = 0;
    int64_t tag = 0;
    int64_t nulls = 0;
    for (int64_t i = 0; i < n; ++i) {
        if (indices.null(i) || values.null(indices[i])) {
            ++nulls;
        } else {
            const int64_t d = indices[i];
            const int64_t size = templates.bytes(d, d + 1);
            copy_piece(templateData + templateSize, templates.data + templates.offsets[d], size, templates.end);
            templateSize += size;
            const int64_t first = values.first_tag(d);
            const int64_t count = values.tag_count(d);
            copy_piece(kindData + tag, kinds.data + kinds.offsets[first], count, kinds.end);
            const int64_t base = valueLeaf.offsets[first];
            const int64_t bytes = valueLeaf.bytes(first, first + count);
            copy_piece(valueData + valueSize, valueLeaf.data + base, bytes, valueLeaf.end);
            for (int64_t k = 1; k <= count; ++k) {
                valueEnds[tag + k] = static_cast<Offset>(valueSize + valueLeaf.offsets[first + k] - base);
            }
            valueSize += bytes;
            tag += count;
            ArrowBitSet(valid, i);
        }
        tagEnds[i + 1] = static_cast<Offset>(tag);
        templateEnds[i + 1] = static_cast<Offset>(templateSize);
    }
    auto* kindEnds = outKinds.offsets.template as<Offset>();
    for (int64_t k = 1; k <= tag; ++k) kindEnds[k] = static_cast<Offset>(k);
    outTemplates.size = templateSize;
    outKinds.size = tag;
    outValues.size = valueSize;
    auto fill = [&](ArrowArray* templateArray, ArrowArray* kindArray, ArrowArray* valueArray) {
        outTemplates.finish(templateArray, n);
        outKinds.finish(kindArray, tag);
        outValues.finish(valueArray, tag);
        return true;
    };
    return build_parsed_rows<family>(n, tag, nulls, rows.validity, rows.tagOffsets, fill, out, error);
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
    const int64_t length = values.templates.length;
    OutputBuffer uses;
    if (!count_uses(indices, n, length, uses))
        return fail(error, ColumnFault::outOfMemory, "out of memory for the rows");
    RowTotals<RowsFamily::view> totals;
    for (int64_t d = 0; d < length; ++d) {
        const int64_t count = uses.as<int64_t>()[d];
        if (count > 0 && !values.null(d) && !add_times(totals.tags, count, values.tag_count(d), totals.limit)) {
            return totals.too_large(error);
        }
    }
    RowBuffers<RowsFamily::view> rows;
    OutputBuffer templateViews, kindViews, valueViews;
    if (!rows.reserve(n) || !templateViews.reserve(n * 16) || !kindViews.reserve(totals.tags * 16) ||
        !valueViews.reserve(totals.tags * 16)) {
        return fail(error, ColumnFault::outOfMemory, "out of memory for the rows");
    }
    const auto* templates = static_cast<const ArrowBinaryView*>(values.templates.buffers[1]);
    const auto* kinds = static_cast<const ArrowBinaryView*>(values.kinds.buffers[1]);
    const auto* valueArray = static_cast<const ArrowBinaryView*>(values.values.buffers[1]);
    uint8_t* valid = rows.validity.data();
    auto* tagEnds = rows.tagOffsets.as<int64_t>();
    auto* outTemplates = templateViews.as<ArrowBinaryView>();
    auto* outKinds = kindViews.as<ArrowBinaryView>();
    auto* outValues = valueViews.as<ArrowBinaryView>();
    int64_t tag = 0;
    int64_t nulls = 0;
    for (int64_t i = 0; i < n; ++i) {
        if (indices.null(i) || values.null(indices[i])) {
            ++nulls;
            std::memset(&outTemplates[i], 0, sizeof(ArrowBinaryView));
        } else {
            const int64_t d = indices[i];
            outTemplates[i] = templates[d];
            const int64_t first = values.first_tag(d);
            const int64_t count = values.tag_count(d);
            for (int64_t k = 0; k < count; ++k) {  // a row holds a tag or two: a loop beats a call
                outKinds[tag + k] = kinds[first + k];
                outValues[tag + k] = valueArray[first + k];
            }
            tag += count;
            ArrowBitSet(valid, i);
        }
        tagEnds[i + 1] = tag;
    }
    auto fill = [&](ArrowArray* templateArray, ArrowArray* kindArray, ArrowArray* valueLeaf) {
        move_into(templateArray, 1, templateViews, n * 16);
        move_into(kindArray, 1, kindViews, tag * 16);
        move_into(valueLeaf, 1, valueViews, tag * 16);
        return move_variadic_buffers(*values.array.children[0], templateArray) &&
               move_variadic_buffers(*values.array.children[1]->children[0]->children[1], valueLeaf);
    };
    return build_parsed_rows<RowsFamily::view>(n, tag, nulls, rows.validity, rows.tagOffsets, fill, out, error);
}

template <RowsFamily family, class Index>
bool parse_indexed(const ArrowArrayView& view,
                   const Indices<Index>& indices,
                   const Kernel& kernel,
                   ArrowArray* out,
                   ColumnError& error) {
    if (!indices_inside(indices, view.length, view.dictionary->length, error)) return false;
    nanoarrow::UniqueArray parsed;
    if (!parse_strings<family>(*view.dictionary, kernel, parsed.get(), error)) return false;
    ParsedValues<family> values(*parsed.get());
    if constexpr (family == RowsFamily::view) {
        return gather_views(indices, view.length, values, out, error);
    } else {
        return gather_offsets<family>(indices, view.length, values, out, error);
    }
}

}  // namespace

template <RowsFamily family>
bool parse_dictionary(const ArrowArrayView& view, const Kernel& kernel, ArrowArray* out, ColumnError& error) {
    const Validity validity{view.buffer_views[0].data.as_uint8, view.offset};
    const ArrowBufferViewData data = view.buffer_views[1].data;
    switch (view.storage_type) {
        case NANOARROW_TYPE_INT8:
            return parse_indexed<family>(view, Indices<int8_t>{data.as_int8 + view.offset, validity}, kernel, out,
                                         error);
        case NANOARROW_TYPE_UINT8:
            return parse_indexed<family>(view, Indices<uint8_t>{data.as_uint8 + view.offset, validity}, kernel, out,
                                         error);
        case NANOARROW_TYPE_INT16:
            return parse_indexed<family>(view, Indices<int16_t>{data.as_int16 + view.offset, validity}, kernel, out,
                                         error);
        case NANOARROW_TYPE_UINT16:
            return parse_indexed<family>(view, Indices<uint16_t>{data.as_uint16 + view.offset, validity}, kernel, out,
                                         error);
        case NANOARROW_TYPE_INT32:
            return parse_indexed<family>(view, Indices<int32_t>{data.as_int32 + view.offset, validity}, kernel, out,
                                         error);
        case NANOARROW_TYPE_UINT32:
            return parse_indexed<family>(view, Indices<uint32_t>{data.as_uint32 + view.offset, validity}, kernel, out,
                                         error);
        case NANOARROW_TYPE_INT64:
            return parse_indexed<family>(view, Indices<int64_t>{data.as_int64 + view.offset, validity}, kernel, out,
                                         error);
        case NANOARROW_TYPE_UINT64:
            return parse_indexed<family>(view, Indices<uint64_t>{data.as_uint64 + view.offset, validity}, kernel, out,
                                         error);
        default: return fail(error, ColumnFault::notStrings, "a dictionary whose indices are not integers");
    }
}

template bool parse_dictionary<RowsFamily::small>(const ArrowArrayView&, const Kernel&, ArrowArray*, ColumnError&);
template bool parse_dictionary<RowsFamily::large>(const ArrowArrayView&, const Kernel&, ArrowArray*, ColumnError&);
template bool parse_dictionary<RowsFamily::view>(const ArrowArrayView&, const Kernel&, ArrowArray*, ColumnError&);

}  // namespace marquill
