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
    // every chunk handed out so far is full
    size_ = sizeBeforeLast_ + chunk_size(chunkCount_ - 1);
    if (chunkCount_ == maxChunks) return {nullptr, nullptr};
    const size_t count = chunk_size(chunkCount_);
    auto* chunk = static_cast<TagSpan*>(std::malloc(count * sizeof(TagSpan)));
    if (chunk == nullptr) return {nullptr, nullptr};
    chunks_[chunkCount_++] = chunk;
    lastChunk_ = chunk;
    sizeBeforeLast_ = size_;
    return {chunk, chunk + count};
}

}  // namespace marquill
