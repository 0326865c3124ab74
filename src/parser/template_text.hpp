// The template: the line with each tag's span replaced by "{}". Both the C++
// records (parsed_text.cpp) and the Python module write it here, after
// checking the spans with the same TemplateLayout.
#pragma once

#include <cstdint>
#include <cstring>

#include "parser/tag_spans.hpp"

namespace marquill {

// The template's size, taken span by span, each checked to follow the last
// inside the line: the writer's copies rely on that, so a span out of order
// would copy a negative length or overrun the template.
class TemplateLayout {
public:
    explicit TemplateLayout(int64_t n) noexcept : n_(n), size_(n) {}

    // False when the span does not follow the last one inside the line.
    bool add(const TagSpan& span) noexcept {
        if (span.l < from_ || span.r <= span.l || span.r >= n_) return false;
        size_ -= span.r - span.l - 1;
        from_ = span.r + 1;
        return true;
    }

    int64_t size() const noexcept { return size_; }
    // The first unit after the last span added: the template goes on with
    // the line's units from here.
    int64_t from() const noexcept { return from_; }

private:
    int64_t n_;
    int64_t size_;
    int64_t from_ = 0;
};

// Copies `count` units into units of another width, which the caller knows
// holds each of them.
template <class From, class To>
void copy_units(const From* from, int64_t count, To* to) noexcept {
    if constexpr (sizeof(From) == sizeof(To)) {
        std::memcpy(to, from, static_cast<size_t>(count) * sizeof(To));
    } else {
        for (int64_t k = 0; k < count; ++k) to[k] = static_cast<To>(from[k]);
    }
}

// Writes the template of `line` into `out`, which holds the size a
// TemplateLayout found for these spans.
template <class From, class To>
void write_template(const From* line, int64_t n, const TagSpans& spans, To* out) noexcept {
    int64_t from = 0;
    spans.for_each([&](const TagSpan& span) {
        copy_units(line + from, span.l - from, out);
        out += span.l - from;
        *out++ = '{';
        *out++ = '}';
        from = span.r + 1;
    });
    copy_units(line + from, n - from, out);
}

}  // namespace marquill
