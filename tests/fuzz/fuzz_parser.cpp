// libFuzzer target for the parser. Each input is copied into a heap buffer of
// exactly its size plus the terminator, so AddressSanitizer sees a read one
// byte past the end, and the result is checked against invariants that hold
// for every input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "parser/markup_search.hpp"
#include "parser/parsed_text.hpp"

namespace {

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool is_fixed_keyword(std::string_view word) {
    for (std::string_view keyword : {"center", "left", "right", "nowrap", "passport", "autowrap", "noautowrap"}) {
        if (word == keyword) return true;
    }
    return false;
}

std::string_view opener_of(char kind) {
    switch (kind) {
        case 'a': return "[pixel ";
        case 's': return "[style ";
        case 'f': return "[font ";
        default: return {};
    }
}

// The value is the bytes the tag came from, less its delimiters.
void check_value(const marquill::Tag& tag, std::string_view input) {
    const std::string_view value(tag.value, static_cast<size_t>(tag.size));
    require(tag.value[tag.size] == '\0', "value is terminated");
    const std::string_view span = input.substr(static_cast<size_t>(tag.l), static_cast<size_t>(tag.r - tag.l + 1));
    if (tag.name == 'r') {
        require(tag.dynamic && span.front() == '{' && span.back() == '}', "raw block has braces");
        require(value == span.substr(1, span.size() - 2), "raw value is the block's content");
        return;
    }
    require(span.front() == '[' && span.back() == ']', "bracket tag has brackets");
    if (!tag.dynamic) {
        require(tag.name == 'a' || tag.name == 't', "fixed tag kind");
        require(is_fixed_keyword(value) && span.substr(1, span.size() - 2) == value, "fixed tag is its keyword");
        return;
    }
    const std::string_view opener = opener_of(tag.name);
    require(!opener.empty() && span.substr(0, opener.size()) == opener, "argument tag starts with its opener");
    require(value == span.substr(opener.size(), span.size() - opener.size() - 1), "argument value");
}

// The fast searches stop where the byte-by-byte ones do, segment by segment.
template <marquill::ByteClass wanted>
void check_search(const char* input, int64_t n) {
    for (int64_t from = 0; from <= n;) {
        const int64_t found = marquill::search::find<wanted>(input, from, n);
        require(found == marquill::bytewise::find<wanted>(input, from, n), "fast search agrees");
        from = found + 1;
    }
    require(marquill::search::count<wanted>(input, n) == marquill::bytewise::count<wanted>(input, n),
            "fast count agrees");
    for (int64_t from = 0; from + 64 <= n; from += 13) {
        require(marquill::search::bits64<wanted>(input + from) == marquill::bytewise::bits64<wanted>(input + from),
                "fast bit mask agrees");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> exact(new char[size + 1]);
    std::memcpy(exact.get(), data, size);
    exact[size] = '\0';
    const std::string_view input(exact.get(), size);
    const auto n = static_cast<int64_t>(size);
    check_search<marquill::ByteClass::markup>(exact.get(), n);
    check_search<marquill::ByteClass::brace>(exact.get(), n);
    check_search<marquill::ByteClass::closeBrace>(exact.get(), n);
    check_search<marquill::ByteClass::opener>(exact.get(), n);
    check_search<marquill::ByteClass::closer>(exact.get(), n);
    check_search<marquill::ByteClass::codePointStart>(exact.get(), n);

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
    return 0;
}
