#include "parser/parsed_text.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "parser/markup_search.hpp"
#include "parser/scan.hpp"
#include "parser/simd/bit_ops.hpp"

namespace marquill {

const char* substr(const char* str, int64_t start, int64_t end, std::pmr::memory_resource& memory) {
    const auto size = static_cast<size_t>(end - start);
    auto* copy = static_cast<char*>(memory.allocate(size + 1, 1));
    std::memcpy(copy, str + start, size);
    copy[size] = '\0';
    return copy;
}

// Room for the tags, reserved at the first one. Eight serve a line of
// dialogue. On a long input, growing the array by doubling would leave every
// smaller copy behind in the parse's memory; instead it reserves what the
// input can hold: a tag begins at a '[' or '{' and ends at a ']' or '}'.
// Room no tag fills is never touched, so it costs no pages; past a cap the
// array grows as usual.
size_t tag_capacity(const char* input, int64_t n) noexcept {
    constexpr int64_t longInput = 4096;
    constexpr size_t cap = size_t{1} << 24;
    if (n < longInput) return 8;
    return std::min({count_openers(input, n), count_closers(input, n), cap});
}

namespace {

// Finds the markup bytes of the input in order, 64 bytes at a time: one
// vector pass marks every markup byte of a window, and the scan then jumps
// from mark to mark. A rule that moves past the window starts a new one.
class MarkupCursor {
public:
    MarkupCursor(const char* input, int64_t n) noexcept : input_(input), n_(n) {}

    // The index of the first markup byte at or after `from`, or n.
    int64_t next(int64_t from) noexcept {
        while (from < n_) {
            if (from >= windowStart_ + 64) {
                load_window(from);
                from = std::max(from, windowStart_);  // what the window skipped holds no markup
            }
            const uint64_t ahead = bits_ & (~uint64_t{0} << (from - windowStart_));
            if (ahead != 0) return windowStart_ + lowest_set_bit(ahead);
            from = windowStart_ + 64;
        }
        return n_;
    }

private:
    void load_window(int64_t from) noexcept {
        if (from + 64 <= n_) {
            set_window(from);
            // Once a window holds no markup, long plain text goes by with
            // the widest search the processor has.
            if (bits_ != 0 || from + 256 > n_) return;
            from = skip_plain_text(input_, from + 64, n_);
            if (from + 64 <= n_) return set_window(from);
        }
        if (n_ >= 64) return set_window(n_ - 64);  // next() ignores the bytes before `from`
        // A line shorter than a window, padded with bytes that are not
        // markup, so that nothing is read past its end.
        alignas(16) char line[64] = {};
        std::memcpy(line, input_, static_cast<size_t>(n_));
        windowStart_ = 0;
        bits_ = markup_bits(line);
    }

    void set_window(int64_t start) noexcept {
        windowStart_ = start;
        bits_ = markup_bits(input_ + start);
    }

    const char* input_;
    int64_t n_;
    int64_t windowStart_ = std::numeric_limits<int64_t>::min() / 2;
    uint64_t bits_ = 0;
};

void scan_all(Scan& scan) {
    MarkupCursor cursor(scan.input, scan.n);
    for (; (scan.i = cursor.next(scan.i)) < scan.n; ++scan.i) {
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

// The input with each tag's span replaced by "{}", into `text`, which holds
// exactly `bufferSize` bytes, the terminator included.
void assemble_text(const char* input, int64_t n, const std::pmr::vector<Tag>& args, char* text,
                   int64_t bufferSize) {
    char* out = text;
    int64_t prev = 0;
    for (const Tag& tag : args) {
        check_layout(prev <= tag.l && tag.l < tag.r && tag.r < n);
        std::memcpy(out, input + prev, static_cast<size_t>(tag.l - prev));
        out += tag.l - prev;
        *out++ = '{';
        *out++ = '}';
        prev = tag.r + 1;
    }
    check_layout(out - text + (n - prev) == bufferSize - 1);
    std::memcpy(out, input + prev, static_cast<size_t>(n - prev));
    out[n - prev] = '\0';
}

}  // namespace

ParsedText::ParsedText(const char* input, int64_t size, std::pmr::memory_resource* upstream)
    : memory_(inlineBuffer_, inlineBytes, upstream), args(&memory_), text(nullptr), textSize(0) {
    Scan scan{input, size, args, memory_};
    scan_all(scan);
    const int64_t bufferSize = scan.length + size;  // the budget counts the terminator
    check_layout(1 <= bufferSize && bufferSize <= size + 1);
    char* buffer = static_cast<char*>(memory_.allocate(static_cast<size_t>(bufferSize), 1));
    assemble_text(input, size, args, buffer, bufferSize);
    text = buffer;
    textSize = bufferSize - 1;
}

}  // namespace marquill
