#include "parser/tag_spans.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace marquill {

// Spans are moved by memcpy and realloc.
static_assert(std::is_trivially_copyable_v<TagSpan>);

TagSpans::~TagSpans() {
    if (data_ != inline_) std::free(data_);
}

bool TagSpans::grow() noexcept {
    if (capacity_ > SIZE_MAX / 2 / sizeof(TagSpan)) return false;
    const size_t capacity = capacity_ * 2;
    void* grown =
        data_ == inline_ ? std::malloc(capacity * sizeof(TagSpan)) : std::realloc(data_, capacity * sizeof(TagSpan));
    if (grown == nullptr) return false;
    if (data_ == inline_) std::memcpy(grown, inline_, size_ * sizeof(TagSpan));
    data_ = static_cast<TagSpan*>(grown);
    capacity_ = capacity;
    return true;
}

}  // namespace marquill
