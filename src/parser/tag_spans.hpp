// Where the tags of a line lie: the records the scan reports. A span copies
// nothing; whoever reads it cuts the tag's value and the text around it from
// the line itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "parser/inlining.hpp"

namespace marquill {

struct TagSpan {
    int64_t l;       // the tag's first unit, its '[' or '{'
    int64_t r;       // its last unit, its ']' or '}'; the span is inclusive
    int64_t valueL;  // a copied value is the units [valueL, r)
    char kind;       // 'a', 's', 'f', 't' or 'r'
    int8_t fixed;    // the id of a fixed tag (fixedTags), or -1 for a copied value
};

// The spans of one line, in order, in chunks that never move: the first
// lives inside the object, so the tags of a line of dialogue never touch the
// heap, and each further chunk is as large as all before it. Growing copies
// nothing and needs no count of the tags in advance. A TagSpans has a single
// owner and is never copied.
class TagSpans {
public:
    static constexpr size_t firstChunkSize = 16;

    TagSpans() noexcept = default;
    ~TagSpans();
    TagSpans(const TagSpans&) = delete;
    TagSpans& operator=(const TagSpans&) = delete;

    size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    // Calls `visit(span)` for each span, in order, a chunk at a time.
    template <class Visit>
    void for_each(Visit visit) const {
        size_t left = size_;
        const TagSpan* span = first_;
        for (size_t k = 0;;) {
            const size_t count = left < chunk_size(k) ? left : chunk_size(k);
            for (const TagSpan* end = span + count; span != end; ++span) visit(*span);
            left -= count;
            if (left == 0) return;
            span = chunks_[++k];
        }
    }

    // The scan writes spans through a cursor it keeps in registers: it fills
    // [next, limit) and asks for a new chunk when that is full.
    struct Cursor {
        TagSpan* next;
        TagSpan* limit;
    };
    MARQUILL_HOT Cursor start_writing() noexcept { return {first_, first_ + firstChunkSize}; }
    // The chunk after the full one. When memory runs out, the spans written
    // so far are kept and the cursor points at a slot that takes the rest,
    // one at a time, until the writer sees exhausted().
    Cursor next_chunk() noexcept;
    MARQUILL_HOT bool exhausted() const noexcept { return exhausted_; }
    // A place among the spans written, to come back to.
    struct Position {
        TagSpan* at;
        size_t chunk;  // the index of its chunk
    };
    MARQUILL_HOT Position position_of(const Cursor& cursor) const noexcept { return {cursor.next, chunkCount_ - 1}; }
    // The cursor back at `position`, the spans written since it dropped.
    MARQUILL_HOT Cursor rewind_to(Position position, const Cursor& cursor) noexcept {
        if (exhausted_) return cursor;
        if (position.chunk + 1 == chunkCount_) return {position.at, cursor.limit};
        return rewind_chunks(position);
    }
    // The spans written end at `end`, inside the last chunk handed out.
    MARQUILL_HOT void finish_writing(const TagSpan* end) noexcept {
        size_ = sizeBeforeLast_ + static_cast<size_t>(end - lastChunk_);
    }

private:
    Cursor rewind_chunks(Position position) noexcept;

    static constexpr size_t maxChunks = 48;  // 16 << 47 spans lie beyond any address space

    static constexpr size_t chunk_size(size_t k) noexcept {
        return k == 0 ? firstChunkSize : firstChunkSize << (k - 1);
    }

    size_t size_ = 0;
    size_t sizeBeforeLast_ = 0;    // the spans in the full chunks before the last one handed out
    size_t chunkCount_ = 1;        // chunks handed out, the first included
    TagSpan* lastChunk_ = first_;  // the last chunk handed out
    bool exhausted_ = false;       // memory ran out: spans now go to discarded_
    TagSpan discarded_;
    TagSpan* chunks_[maxChunks];     // chunks_[1] to chunks_[chunkCount_ - 1]: the first chunk is first_
    TagSpan first_[firstChunkSize];  // left uninitialised: only written spans are read
};

}  // namespace marquill
