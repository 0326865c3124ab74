#include "parser/tag_spans.hpp"

#include <cstdlib>
#include <type_traits>

namespace marquill {

// Chunks are raw memory, released with free.
static_assert(std::is_trivially_copyable_v<TagSpan> && std::is_trivially_destructible_v<TagSpan>);

TagSpans::~TagSpans() {
    for (size_t k = 1; k < chunkCount_; ++k) std::free(chunks_[k]);
}

TagSpans::Cursor TagSpans::next_chunk() noexcept {
    if (exhausted_) return {&discarded_, &discarded_ + 1};
    // every chunk handed out so far is full
    size_ = sizeBeforeLast_ + chunk_size(chunkCount_ - 1);
    const size_t count = chunk_size(chunkCount_);
    auto* chunk = chunkCount_ < maxChunks ? static_cast<TagSpan*>(std::malloc(count * sizeof(TagSpan))) : nullptr;
    if (chunk == nullptr) {
        exhausted_ = true;
        return {&discarded_, &discarded_ + 1};
    }
    chunks_[chunkCount_++] = chunk;
    lastChunk_ = chunk;
    sizeBeforeLast_ = size_;
    return {chunk, chunk + count};
}

// Back to an earlier chunk: the chunks after it go, and it is the last
// chunk handed out again.
TagSpans::Cursor TagSpans::rewind_chunks(Position position) noexcept {
    for (size_t k = position.chunk + 1; k < chunkCount_; ++k) std::free(chunks_[k]);
    chunkCount_ = position.chunk + 1;
    lastChunk_ = position.chunk == 0 ? first_ : chunks_[position.chunk];
    sizeBeforeLast_ =
        position.chunk == 0 ? 0 : chunk_size(position.chunk);  // each chunk holds as many as all before it
    return {position.at, lastChunk_ + chunk_size(position.chunk)};
}

}  // namespace marquill
