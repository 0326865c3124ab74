#include "parser/parsed_text.hpp"

#include <cstring>
#include <new>
#include <stdexcept>

#include "parser/kernel.hpp"
#include "parser/keywords.hpp"
#include "parser/tag_spans.hpp"
#include "parser/template_text.hpp"

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
        const std::string_view value = fixedTags[span.fixed].word;
        return {value.data(), static_cast<int64_t>(value.size()), span.l, span.r, span.kind, false};
    }
    return {substr(input, span.valueL, span.r), span.r - span.valueL, span.l, span.r, span.kind, true};
}

// The input with each tag's span replaced by "{}", in a buffer of exactly
// its size and a terminator.
char* assemble_text(const char* input, int64_t n, const TagSpans& spans, int64_t& textSize) {
    TemplateLayout layout(n);
    spans.for_each([&](const TagSpan& span) {
        if (!layout.add(span)) throw std::logic_error("marquill: tags overlap or leave the input");
    });
    char* text = new char[static_cast<size_t>(layout.size()) + 1];
    write_template(input, n, spans, text);
    text[layout.size()] = '\0';
    textSize = layout.size();
    return text;
}

}  // namespace

ParsedText::ParsedText(const char* input, int64_t size, const Kernel& kernel) : text(nullptr), textSize(0) {
    TagSpans spans;
    if (!kernel.bytes.find_tags(reinterpret_cast<const uint8_t*>(input), size, spans)) throw std::bad_alloc();
    try {
        args.reserve(spans.size());
        spans.for_each([&](const TagSpan& span) { args.push_back(tag_from(span, input)); });
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
