#include "parser/parsed_text.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "parser/markup_search.hpp"
#include "parser/scan.hpp"

namespace marquill {

Tag::Tag(char name, const char* staticValue, int64_t size, int64_t l, int64_t r) noexcept
    : value(staticValue), size(size), l(l), r(r), name(name), dynamic(false) {}

Tag::Tag(char name, std::unique_ptr<char[]> ownedValue, int64_t size, int64_t l, int64_t r) noexcept
    : value(ownedValue.release()), size(size), l(l), r(r), name(name), dynamic(true) {}

Tag::Tag(Tag&& other) noexcept
    : value(other.value), size(other.size), l(other.l), r(other.r), name(other.name),
      dynamic(std::exchange(other.dynamic, false)) {}

Tag::~Tag() {
    if (dynamic) delete[] value;
}

std::unique_ptr<char[]> substr(const char* str, int64_t start, int64_t end) {
    const auto size = static_cast<size_t>(end - start);
    std::unique_ptr<char[]> copy(new char[size + 1]);
    std::memcpy(copy.get(), str + start, size);
    copy[size] = '\0';
    return copy;
}

bool startswith(const char* str, const char* prefix) noexcept {
    for (; *prefix != '\0'; ++str, ++prefix) {
        if (*str != *prefix) return false;
    }
    return true;
}

namespace {

// Room for the tags, reserved at the first one. Eight serve a line of
// dialogue. On a long input, growing a large array by doubling copies it
// again and again, and past malloc's mmap threshold faults fresh pages in
// each time; instead it reserves what the input can hold: a tag begins at a
// '[' or '{' and ends at a ']' or '}'. Room no tag fills is never touched, so
// it costs no pages; past a cap the array grows as usual.
size_t tag_capacity(const char* input, int64_t n) noexcept {
    constexpr int64_t longInput = 4096;
    constexpr size_t cap = size_t{1} << 24;
    if (n < longInput) return 8;
    return std::min({count_openers(input, n), count_closers(input, n), cap});
}

void scan_all(Scan& scan) {
    for (; (scan.i = find_markup(scan.input, scan.i, scan.n)) < scan.n; ++scan.i) {
        switch (scan.input[scan.i]) {
            case '{': raw_block(scan); break;
            case '[': bracket_tag(scan); break;
            case ']':
                if (scan.tagName != 0) close_argument_tag(scan);
                break;
        }
    }
}

// Guards the copies below against a tag list that is out of order or
// outside the input, which would copy a negative span or overrun the text.
void check_layout(bool holds) {
    if (!holds) throw std::logic_error("marquill: tags overlap or leave the input");
}

// The input with each tag's span replaced by "{}", in a new buffer of
// exactly `bufferSize` bytes, the terminator included.
std::unique_ptr<char[]> assemble_text(const char* input, int64_t n, const std::vector<Tag>& args,
                                      int64_t bufferSize) {
    std::unique_ptr<char[]> text(new char[static_cast<size_t>(bufferSize)]);
    char* out = text.get();
    int64_t prev = 0;
    for (const Tag& tag : args) {
        check_layout(prev <= tag.l && tag.l < tag.r && tag.r < n);
        std::memcpy(out, input + prev, static_cast<size_t>(tag.l - prev));
        out += tag.l - prev;
        *out++ = '{';
        *out++ = '}';
        prev = tag.r + 1;
    }
    check_layout(out - text.get() + (n - prev) == bufferSize - 1);
    std::memcpy(out, input + prev, static_cast<size_t>(n - prev));
    out[n - prev] = '\0';
    return text;
}

}  // namespace

void Scan::append(Tag&& tag) {
    const int64_t budgetChange = tag.l - tag.r + 1;
    if (args.capacity() == 0) args.reserve(tag_capacity(input, n));
    args.push_back(std::move(tag));
    length += budgetChange;
    tagName = 0;
}

ParsedText::ParsedText(const char* input, int64_t size) : textSize(0) {
    Scan scan{input, size, args};
    scan_all(scan);
    const int64_t bufferSize = scan.length + size;  // the budget counts the terminator
    text = assemble_text(input, size, args, bufferSize);
    textSize = bufferSize - 1;
}

}  // namespace marquill
