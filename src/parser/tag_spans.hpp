// Where the tags of a line lie: the records the scan reports. A span copies
// nothing; whoever reads it cuts the tag's value and the text around it from
// the line itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace marquill {

// The values of the fixed tags, in the order of their ids.
inline constexpr std::string_view fixedTagValues[] = {"center",   "left",     "right",     "nowrap",
                                                      "passport", "autowrap", "noautowrap"};
inline constexpr int fixedTagCount = static_cast<int>(std::size(fixedTagValues));

struct TagSpan {
    int64_t l;       // the tag's first unit, its '[' or '{'
    int64_t r;       // its last unit, its ']' or '}'; the span is inclusive
    int64_t valueL;  // a copied value is the units [valueL, r)
    char kind;       // 'a', 's', 'f', 't' or 'r'
    int8_t fixed;    // the id of a fixed tag's value, or -1 for a copied value
};

// The spans of one line, in order. The first few live inside the object, so
// the tags of a line of dialogue never touch the heap; past them the array
// doubles as tags are found. It has a single owner and is never copied.
class TagSpans {
public:
    TagSpans() noexcept = default;
    ~TagSpans();
    TagSpans(const TagSpans&) = delete;
    TagSpans& operator=(const TagSpans&) = delete;

    // False, with the spans so far kept, when memory runs out.
    bool push(const TagSpan& span) noexcept {
        if (size_ == capacity_ && !grow()) return false;
        data_[size_++] = span;
        return true;
    }

    size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    const TagSpan& operator[](size_t k) const noexcept { return data_[k]; }
    const TagSpan* begin() const noexcept { return data_; }
    const TagSpan* end() const noexcept { return data_ + size_; }

private:
    static constexpr size_t inlineCount = 16;

    bool grow() noexcept;

    TagSpan* data_ = inline_;
    size_t size_ = 0;
    size_t capacity_ = inlineCount;
    TagSpan inline_[inlineCount];  // left uninitialised: only pushed spans are read
};

}  // namespace marquill
