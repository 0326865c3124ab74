// libFuzzer target for the parser. Each input is copied into a heap buffer of
// exactly its size plus the terminator, so AddressSanitizer sees a read one
// byte past the end, and the result is checked against invariants that hold
// for every input. Every kernel the processor runs must find the same spans,
// in the input and in the input widened to 2- and 4-byte units.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "parser/kernel.hpp"
#include "parser/keywords.hpp"
#include "parser/parsed_text.hpp"
#include "parser/tag_spans.hpp"

namespace {

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Whether a fixed tag of this kind and value is in the keyword table.
bool is_fixed_tag(char kind, std::string_view value) {
    for (const marquill::Keyword& tag : marquill::fixedTags) {
        if (tag.kind == kind && tag.word == value) return true;
    }
    return false;
}

// The length of the opener of this kind that `span` starts with ("[font "),
// or 0 for none.
size_t opener_length(char kind, std::string_view span) {
    for (const marquill::Keyword& keyword : marquill::keywords) {
        const size_t length = keyword.word.size() + 2;
        if (keyword.opener && keyword.kind == kind && span.size() > length && span[0] == '[' &&
            span.substr(1, keyword.word.size()) == keyword.word && span[length - 1] == ' ') {
            return length;
        }
    }
    return 0;
}

// The value is the bytes the tag came from, less its delimiters.
void check_value(const marquill::Tag& tag, std::string_view input) {
    const std::string_view value(tag.value, static_cast<size_t>(tag.size));
    require(tag.value[tag.size] == '\0', "value is terminated");
    const std::string_view span = input.substr(static_cast<size_t>(tag.l), static_cast<size_t>(tag.r - tag.l + 1));
    if (tag.name == marquill::rawBlockKind) {
        require(tag.dynamic && span.front() == '{' && span.back() == '}', "raw block has braces");
        require(value == span.substr(1, span.size() - 2), "raw value is the block's content");
        return;
    }
    require(span.front() == '[' && span.back() == ']', "bracket tag has brackets");
    if (!tag.dynamic) {
        require(is_fixed_tag(tag.name, value) && span.substr(1, span.size() - 2) == value, "fixed tag is its keyword");
        return;
    }
    const size_t opener = opener_length(tag.name, span);
    require(opener > 0, "argument tag starts with an opener of its kind");
    require(value == span.substr(opener, span.size() - opener - 1), "argument value");
}

// The spans of `line` on every kernel, which must all be those of the
// portable one; for wider units, also those of find_tags_and_summarize,
// whose summary must be that of a loop over the units.
template <class Unit>
std::vector<marquill::TagSpan> spans_on_every_kernel(const Unit* line, int64_t n) {
    marquill::TagSpans expected;
    require(marquill::runnable_kernel("portable")->of<Unit>().find_tags(line, n, expected), "scan has memory");
    std::vector<marquill::TagSpan> flat;
    expected.for_each([&](const marquill::TagSpan& span) { flat.push_back(span); });
    auto require_expected = [&](const marquill::TagSpans& spans) {
        require(spans.size() == flat.size(), "every kernel finds as many tags");
        size_t k = 0;
        spans.for_each([&](const marquill::TagSpan& span) {
            const marquill::TagSpan& other = flat[k++];
            require(span.l == other.l && span.r == other.r && span.valueL == other.valueL && span.kind == other.kind &&
                        span.fixed == other.fixed,
                    "every kernel finds the same spans");
        });
    };
    for (const marquill::Kernel* kernel : marquill::runnable_kernels()) {
        marquill::TagSpans spans;
        require(kernel->of<Unit>().find_tags(line, n, spans), "scan has memory");
        require_expected(spans);
        if constexpr (sizeof(Unit) >= 2) {
            marquill::TagSpans summarized;
            marquill::UnitsSummary<Unit> summary{};
            require(kernel->of<Unit>().find_tags_and_summarize(line, n, summarized, summary), "scan has memory");
            require_expected(summarized);
            Unit any = 0;
            bool surrogate = false;
            for (int64_t k = 0; k < n; ++k) {
                any |= line[k];
                surrogate |= line[k] >= 0xd800 && line[k] <= 0xdfff;
            }
            require(summary.any == any && summary.surrogate == surrogate, "the summary is of every unit");
        }
    }
    return flat;
}

// The input widened to wider units, each in an exact-size heap buffer:
// ASCII bytes keep their value, the others become units above 0xff whose low
// byte they keep (so that truncating them would make markup), and the spans
// must be those of the byte scan.
template <class Unit>
void check_wider_scan(const uint8_t* data, int64_t n, Unit high, const marquill::ParsedText& parsed) {
    std::unique_ptr<Unit[]> line(new Unit[static_cast<size_t>(n)]);
    for (int64_t k = 0; k < n; ++k) line[k] = data[k] < 0x80 ? data[k] : static_cast<Unit>(high | data[k]);
    const std::vector<marquill::TagSpan> spans = spans_on_every_kernel(line.get(), n);
    require(spans.size() == parsed.args.size(), "wide scan finds as many tags");
    for (size_t k = 0; k < spans.size(); ++k) {
        const marquill::TagSpan& span = spans[k];
        const marquill::Tag& tag = parsed.args[k];
        require(span.l == tag.l && span.r == tag.r && span.kind == tag.name, "wide scan finds the same span");
        require((span.fixed >= 0) == !tag.dynamic, "wide scan finds the same value");
        require(span.fixed >= 0 || span.r - span.valueL == tag.size, "wide scan's value has the same length");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> exact(new char[size + 1]);
    std::memcpy(exact.get(), data, size);
    exact[size] = '\0';
    const std::string_view input(exact.get(), size);
    const auto n = static_cast<int64_t>(size);
    spans_on_every_kernel(reinterpret_cast<const uint8_t*>(exact.get()), n);

    const marquill::ParsedText parsed(exact.get(), n);

    // Putting each tag's source bytes back in place of its placeholder gives
    // back the input; on the way, the tags stand in order inside the input.
    std::string_view text(parsed.text, static_cast<size_t>(parsed.textSize));
    require(parsed.text[parsed.textSize] == '\0', "text is terminated");
    int64_t prev = 0;
    size_t at = 0;
    for (const marquill::Tag& tag : parsed.args) {
        require(prev <= tag.l && tag.l < tag.r && tag.r < n, "tags in order, inside the input");
        const auto plain = static_cast<size_t>(tag.l - prev);
        require(text.substr(at, plain) == input.substr(static_cast<size_t>(prev), plain), "plain text copied");
        require(text.substr(at + plain, 2) == "{}", "placeholder in place");
        check_value(tag, input);
        at += plain + 2;
        prev = tag.r + 1;
    }
    require(text.substr(at) == input.substr(static_cast<size_t>(prev)), "the rest copied");

    check_wider_scan<uint16_t>(data, n, 0xff00, parsed);
    check_wider_scan<uint32_t>(data, n, 0x10f00, parsed);
    check_wider_scan<uint32_t>(data, n, 0xffffff00, parsed);
    return 0;
}
