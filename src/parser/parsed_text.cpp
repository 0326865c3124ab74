#include "parser/parsed_text.hpp"

#include <cstring>
#include <new>
#include <stdexcept>

#include "parser/find_tags.hpp"
#include "parser/tag_spans.hpp"

namespace marquill {

const char* substr(const char* str, int64_t start, int64_t end) {
    const auto size = static_cast<size_t>(end - start);
    char* copy = new char[size + 1];
    std::memcpy(copy, str + start, size);
    copy[size] = '\0';
    return copy;
}

namespace {

Tag tag_from(const TagSpan& span, const char* input) {
    if (span.fixed >= 0) {
        const std::string_view value = fixedTagValues[span.fixed];
        return {value.data(), static_cast<int64_t>(value.size()), span.l, span.r, span.kind, false};
    }
    return {substr(input, span.valueL, span.r), span.r - span.valueL, span.l, span.r, span.kind, true};
}

// Guards the copies below against spans out of order or outside the input,
// which would copy a negative length or overrun the text.
void check_layout(bool holds) {
    if (!holds) throw std::logic_error("marquill: tags overlap or leave the input");
}

// The input with each tag's span replaced by "{}", in a buffer of exactly
// its size and a terminator.
char* assemble_text(const char* input, int64_t n, const TagSpans& spans, int64_t& textSize) {
    int64_t size = n;
    int64_t prev = 0;
    for (const TagSpan& span : spans) {
        check_layout(prev <= span.l && span.l < span.r && span.r < n);
        size -= span.r - span.l + 1 - 2;
        prev = span.r + 1;
    }
    char* text = new char[static_cast<size_t>(size) + 1];
    char* out = text;
    prev = 0;
    for (const TagSpan& span : spans) {
        std::memcpy(out, input + prev, static_cast<size_t>(span.l - prev));
        out += span.l - prev;
        *out++ = '{';
        *out++ = '}';
        prev = span.r + 1;
    }
    std::memcpy(out, input + prev, static_cast<size_t>(n - prev));
    out[n - prev] = '\0';
    textSize = size;
    return text;
}

}  // namespace

ParsedText::ParsedText(const char* input, int64_t size) : text(nullptr), textSize(0) {
    TagSpans spans;
    if (!find_tags(reinterpret_cast<const uint8_t*>(input), size, spans)) throw std::bad_alloc();
    try {
        args.reserve(spans.size());
        for (const TagSpan& span : spans) args.push_back(tag_from(span, input));
        text = assemble_text(input, size, spans, textSize);
    } catch (...) {
        release();
        throw;
    }
}

ParsedText::~ParsedText() { release(); }

void ParsedText::release() noexcept {
    delete[] text;
    text = nullptr;
    for (const Tag& tag : args) {
        if (tag.dynamic) delete[] tag.value;
    }
    args.clear();
}

}  // namespace marquill
