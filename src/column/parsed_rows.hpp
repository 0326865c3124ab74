// The writers of parsed rows, one per family of Arrow types (string_column.hpp
// names them): each string-like leaf is written by offsets or by views, the
// same code for templates, kinds and values.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#elif defined(__ARM_NEON) || defined(_M_ARM64)
#include <arm_neon.h>
#endif

#include "column/column_buffers.hpp"
#include "column/string_column.hpp"
#include "third_party/nanoarrow/nanoarrow.hpp"

namespace marquill {

// Data buffers keep this many bytes of room past their end, so that a short
// piece is copied by one fixed move of that size, four vector moves inline,
// instead of a call sized to it: most pieces of a line of text are short.
inline constexpr int64_t copySlack = 64;

// The fixed move: four 16-byte loads, then four stores. Left to a memcpy of
// 64 bytes, GCC may emit a string instruction, slow to start, in some
// instantiations and not in others.
inline void move_64(uint8_t* to, const char* from) noexcept {
#if defined(__SSE2__) || defined(_M_X64)
    const auto* in = reinterpret_cast<const __m128i*>(from);
    const __m128i a = _mm_loadu_si128(in), b = _mm_loadu_si128(in + 1);
    const __m128i c = _mm_loadu_si128(in + 2), d = _mm_loadu_si128(in + 3);
    auto* out = reinterpret_cast<__m128i*>(to);
    _mm_storeu_si128(out, a);
    _mm_storeu_si128(out + 1, b);
    _mm_storeu_si128(out + 2, c);
    _mm_storeu_si128(out + 3, d);
#elif defined(__ARM_NEON) || defined(_M_ARM64)
    const auto* in = reinterpret_cast<const uint8_t*>(from);
    const uint8x16_t a = vld1q_u8(in), b = vld1q_u8(in + 16), c = vld1q_u8(in + 32), d = vld1q_u8(in + 48);
    vst1q_u8(to, a);
    vst1q_u8(to + 16, b);
    vst1q_u8(to + 32, c);
    vst1q_u8(to + 48, d);
#else
    std::memcpy(to, from, copySlack);
#endif
}

// Copies `size` bytes from `from`, any of which up to `readable` may be read.
inline void copy_piece(uint8_t* to, const char* from, int64_t size, const char* readable) noexcept {
    if (size <= copySlack && readable - from >= copySlack) {
        move_64(to, from);
    } else if (size > 0) {
        std::memcpy(to, from, static_cast<size_t>(size));
    }
}

inline bool out_of_memory(ColumnError& error) noexcept {
    error.fault = ColumnFault::outOfMemory;
    ArrowErrorSet(&error.detail, "out of memory for the parsed column");
    return false;
}

// Moves the first `used` bytes of `buffer` into buffer `index` of `array`.
inline void move_into(ArrowArray* array, int64_t index, OutputBuffer& buffer, int64_t used) noexcept {
    ArrowBuffer moved;
    buffer.hand_over(used, &moved);
    ArrowArraySetBuffer(array, index, &moved);  // a valid index of the type: cannot fail
}

// Where the next piece of a string's bytes goes, in either family's cursor.
struct PieceCursor {
    uint8_t* data;
    int64_t size;

    void put(const char* from, int64_t count, const char* readable) noexcept {
        copy_piece(data + size, from, count, readable);
        size += count;
    }
    void put_placeholder() noexcept {
        std::memcpy(data + size, "{}", 2);
        size += 2;
    }
};

// Strings by offsets: string, binary and their large twins. A string is
// written piece by piece and ended by its index.
template <class Offset>
class OffsetStrings {
public:
    bool reserve(int64_t count, int64_t bytes) noexcept {
        if (!offsets_.reserve((count + 1) * static_cast<int64_t>(sizeof(Offset))) ||
            !data_.reserve(bytes + copySlack)) {
            return false;
        }
        dataCapacity_ = bytes;
        offsets_.as<Offset>()[0] = 0;
        return true;
    }
    // Room for `count` strings and, when it is more than before, `bytes`.
    bool grow(int64_t count, int64_t bytes) noexcept {
        if (!offsets_.grow((count + 1) * static_cast<int64_t>(sizeof(Offset)))) return false;
        if (bytes <= dataCapacity_) return true;
        dataCapacity_ = bytes;
        return data_.grow(bytes + copySlack);
    }

    // Where the next string goes, taken out for a row's writes and put back
    // after them: held in registers meanwhile, not reloaded after each byte
    // written, as a member would be.
    struct Cursor : PieceCursor {
        Offset* offsets;

        void end(int64_t index) noexcept { offsets[index + 1] = static_cast<Offset>(size); }
        // A whole string of its own.
        void put_whole(int64_t index, const char* from, int64_t count, const char* readable) noexcept {
            put(from, count, readable);
            end(index);
        }
        void put_byte(int64_t index, uint8_t byte) noexcept {
            data[size++] = byte;
            end(index);
        }
    };
    Cursor cursor() const noexcept { return {{data_.data(), size_}, offsets_.as<Offset>()}; }
    void commit(const Cursor& cursor) noexcept { size_ = cursor.size; }

    bool finish(ArrowArray* array, int64_t count) noexcept {
        move_into(array, 1, offsets_, (count + 1) * static_cast<int64_t>(sizeof(Offset)));
        move_into(array, 2, data_, size_);
        return true;
    }

private:
    OutputBuffer offsets_, data_;
    int64_t size_ = 0;
    int64_t dataCapacity_ = 0;
};

// Strings by views: string_view and binary_view. A string of up to 12 bytes
// lives in its view; a longer one in the data, which one buffer shows from
// each multiple of 1 GiB on, so that every view's offset fits its 32 bits.
class ViewStrings {
public:
    static constexpr int64_t stride = int64_t{1} << 30;

    bool reserve(int64_t count, int64_t bytes) noexcept {
        dataCapacity_ = bytes;
        return views_.reserve(count * 16) && data_.reserve(bytes + copySlack);
    }
    bool grow(int64_t count, int64_t bytes) noexcept {
        if (!views_.grow(count * 16)) return false;
        if (bytes <= dataCapacity_) return true;
        dataCapacity_ = bytes;
        return data_.grow(bytes + copySlack);
    }

    // Where the next string goes, as OffsetStrings' cursor.
    struct Cursor : PieceCursor {
        ArrowBinaryView* views;
        int64_t start;  // where the string being written starts

        // The string written since the last end becomes view `index`; a
        // short one moves into its view and leaves the data.
        void end(int64_t index) noexcept {
            const int64_t count = size - start;
            if (count <= NANOARROW_BINARY_VIEW_INLINE_SIZE) {
                inline_view(index, data + start, count);
                size = start;
                return;
            }
            ArrowBinaryView view;
            view.ref.size = static_cast<int32_t>(count);
            std::memcpy(view.ref.prefix, data + start, 4);
            view.ref.buffer_index = static_cast<int32_t>(start / stride);
            view.ref.offset = static_cast<int32_t>(start % stride);
            views[index] = view;
            start = size;
        }
        void put_whole(int64_t index, const char* from, int64_t count, const char* readable) noexcept {
            if (count <= NANOARROW_BINARY_VIEW_INLINE_SIZE) {
                inline_view(index, reinterpret_cast<const uint8_t*>(from), count);
                return;
            }
            put(from, count, readable);
            end(index);
        }
        void put_byte(int64_t index, uint8_t byte) noexcept { inline_view(index, &byte, 1); }

        void inline_view(int64_t index, const uint8_t* bytes, int64_t count) noexcept {
            ArrowBinaryView view;
            std::memset(&view, 0, sizeof view);
            view.inlined.size = static_cast<int32_t>(count);
            std::memcpy(view.inlined.data, bytes, static_cast<size_t>(count));
            views[index] = view;
        }
    };
    Cursor cursor() const noexcept { return {{data_.data(), size_}, views_.as<ArrowBinaryView>(), start_}; }
    void commit(const Cursor& cursor) noexcept {
        size_ = cursor.size;
        start_ = cursor.start;
    }

    bool finish(ArrowArray* array, int64_t count) noexcept {
        move_into(array, 1, views_, count * 16);
        const int64_t buffers = (size_ + stride - 1) / stride;
        if (buffers == 0) return true;
        if (ArrowArrayAddVariadicBuffers(array, static_cast<int32_t>(buffers)) != NANOARROW_OK) return false;
        ArrowBuffer data;
        data_.hand_over(size_, &data);
        const uint8_t* base = data.data;
        ArrowArraySetBuffer(array, 2, &data);
        for (int64_t k = 1; k < buffers; ++k) {  // views into the first, which owns the bytes
            ArrowBuffer shown;
            ArrowBufferInit(&shown);
            shown.data = const_cast<uint8_t*>(base) + k * stride;
            shown.size_bytes = shown.capacity_bytes = size_ - k * stride;
            shown.allocator = ArrowBufferDeallocator([](ArrowBufferAllocator*, uint8_t*, int64_t) {}, nullptr);
            ArrowArraySetBuffer(array, 2 + k, &shown);
        }
        return true;
    }

private:
    OutputBuffer views_, data_;
    int64_t size_ = 0;
    int64_t dataCapacity_ = 0;
    int64_t start_ = 0;  // where the string being written starts
};

template <RowsFamily family>
struct FamilyTypes {
    using Offset = std::conditional_t<family == RowsFamily::small, int32_t, int64_t>;
    using Strings = std::conditional_t<family == RowsFamily::view, ViewStrings, OffsetStrings<Offset>>;
};

// Builds `out`, of the family's parsed type, from the rows' validity (read
// only when some row is null) and the tags' offsets, each moved in; `fill`
// moves in the buffers of the three string leaves.
template <RowsFamily family, class Fill>
bool build_parsed_rows(int64_t rows,
                       int64_t tags,
                       int64_t nulls,
                       OutputBuffer& validity,
                       OutputBuffer& tagOffsets,
                       Fill fill,
                       ArrowArray* out,
                       ColumnError& error) noexcept {
    using Offset = typename FamilyTypes<family>::Offset;
    out->release = nullptr;
    nanoarrow::UniqueSchema schema;
    if (!init_parsed_schema(family, schema.get(), error)) return false;
    nanoarrow::UniqueArray built;
    if (ArrowArrayInitFromSchema(built.get(), schema.get(), &error.detail) != NANOARROW_OK) {
        return out_of_memory(error);
    }
    ArrowArray* templates = built->children[0];
    ArrowArray* lists = built->children[1];
    ArrowArray* tagArray = lists->children[0];
    built->length = templates->length = lists->length = rows;
    tagArray->length = tagArray->children[0]->length = tagArray->children[1]->length = tags;
    if (nulls > 0) {
        const int64_t bytes = (rows + 7) / 8;
        OutputBuffer copy;
        if (!copy.reserve(bytes)) return out_of_memory(error);
        std::memcpy(copy.data(), validity.data(), static_cast<size_t>(bytes));
        templates->null_count = lists->null_count = nulls;
        move_into(templates, 0, validity, bytes);
        move_into(lists, 0, copy, bytes);
    }
    move_into(lists, 1, tagOffsets, (rows + 1) * static_cast<int64_t>(sizeof(Offset)));
    if (!fill(templates, tagArray->children[0], tagArray->children[1])) return out_of_memory(error);
    if (ArrowArrayFinishBuilding(built.get(), NANOARROW_VALIDATION_LEVEL_MINIMAL, &error.detail) != NANOARROW_OK) {
        error.fault = ColumnFault::internal;
        return false;
    }
    ArrowArrayMove(built.get(), out);
    return true;
}

// The buffers of one parsed chunk, written row by row. The rows' buffers
// and the templates' and values' bytes are reserved at their bound: a
// template and its values never hold more bytes than their row. The tags'
// grow, a row ahead: a row of n bytes holds at most n / 2 tags, a bound too
// loose to reserve for the whole column at once. A null row's template and
// tags are null; the row itself never is, as a table's rows cannot be.
template <RowsFamily family>
class ParsedRowsWriter {
    using Offset = typename FamilyTypes<family>::Offset;
    using Strings = typename FamilyTypes<family>::Strings;

public:
    bool reserve(int64_t rows, int64_t bytes, bool nullable) noexcept {
        const int64_t tags = rows + 1024;  // enough for most text, which has a tag a line or fewer
        tagCapacity_ = tags;
        valueBound_ = bytes;
        if (!templates_.reserve(rows, bytes) ||
            !tagOffsets_.reserve((rows + 1) * static_cast<int64_t>(sizeof(Offset))) ||
            !kinds_.reserve(tags, kind_bytes(tags)) || !values_.reserve(tags, bytes) ||
            (nullable && !validity_.reserve((rows + 7) / 8))) {
            return false;
        }
        tagOffsets_.as<Offset>()[0] = 0;
        if (nullable) std::memset(validity_.data(), 0, static_cast<size_t>((rows + 7) / 8));
        validityBits_ = nullable ? validity_.data() : nullptr;
        return true;
    }

    // Room for `more` tags; false when memory runs out.
    bool make_room(int64_t more) noexcept {
        const int64_t needed = tags_ + more;
        if (needed <= tagCapacity_) return true;
        const int64_t tags = needed > 2 * tagCapacity_ ? needed : 2 * tagCapacity_;
        if (!kinds_.grow(tags, kind_bytes(tags)) || !values_.grow(tags, valueBound_)) return false;
        tagCapacity_ = tags;
        return true;
    }

    // The writes of one row, through the cursors of its leaves.
    struct Row {
        typename Strings::Cursor templates, kinds, values;
        int64_t tags;
        int64_t tagCapacity;

        // A piece of the row's template.
        void put_template(const char* from, int64_t size, const char* readable) noexcept {
            templates.put(from, size, readable);
        }
        // A tag of the row, its placeholder put in the template.
        void put_tag(char kind, const char* value, int64_t size, const char* readable) noexcept {
            templates.put_placeholder();
            kinds.put_byte(tags, static_cast<uint8_t>(kind));
            values.put_whole(tags, value, size, readable);
            ++tags;
        }
        bool tag_room() const noexcept { return tags < tagCapacity; }
    };

    // Row i begins: its writes go through the Row, which end_row puts back.
    Row begin_row() const noexcept {
        return {templates_.cursor(), kinds_.cursor(), values_.cursor(), tags_, tagCapacity_};
    }
    void end_row(int64_t i, Row& row) noexcept {
        if (validityBits_ != nullptr) ArrowBitSet(validityBits_, i);
        row.templates.end(i);
        tagOffsets_.as<Offset>()[i + 1] = static_cast<Offset>(row.tags);
        templates_.commit(row.templates);
        kinds_.commit(row.kinds);
        values_.commit(row.values);
        tags_ = row.tags;
    }
    void append_null(int64_t i) noexcept {
        ++nulls_;
        typename Strings::Cursor templates = templates_.cursor();
        templates.end(i);
        templates_.commit(templates);
        tagOffsets_.as<Offset>()[i + 1] = static_cast<Offset>(tags_);
    }

    // Moves the buffers into `out`, an array of the family's parsed type.
    bool finish(int64_t rows, ArrowArray* out, ColumnError& error) noexcept;

private:
    // A kind is one byte, which a view holds in itself.
    static int64_t kind_bytes(int64_t tags) noexcept { return family == RowsFamily::view ? 0 : tags; }

    Strings templates_, kinds_, values_;
    OutputBuffer tagOffsets_, validity_;
    uint8_t* validityBits_ = nullptr;
    int64_t tags_ = 0;
    int64_t tagCapacity_ = 0;
    int64_t valueBound_ = 0;  // the values' bytes, whatever the tags' count
    int64_t nulls_ = 0;
};

template <RowsFamily family>
bool ParsedRowsWriter<family>::finish(int64_t rows, ArrowArray* out, ColumnError& error) noexcept {
    auto fill = [&](ArrowArray* templates, ArrowArray* kinds, ArrowArray* values) {
        return templates_.finish(templates, rows) && kinds_.finish(kinds, tags_) && values_.finish(values, tags_);
    };
    return build_parsed_rows<family>(rows, tags_, nulls_, validity_, tagOffsets_, fill, out, error);
}

}  // namespace marquill
