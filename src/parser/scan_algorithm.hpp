// The scan, written once over the primitives of an instruction set. Each
// kernel file in kernels/ defines a struct of those primitives and includes
// this file; the scan then compiles with that file's instruction set.
//
// A primitives struct `Simd` provides, for code units of each width (uint8_t,
// uint16_t, uint32_t), reading nothing outside the units named:
//   uint64_t markup_mask(const Unit* p)     bit k set when unit k of the 64 at
//                                           p is markup: '[', ']', '{' or '}'
//   uint64_t markup_mask(const Unit* p, int64_t count)     the same for the
//                                           first 0 <= count <= 64 units at p
//   int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n)
//                                           a point p in [from, n] such that no
//                                           unit in [from, p) is markup; the 64
//                                           units before `from` are plain text,
//                                           which it may read again
//   bool maskedLoads                        whether a short read costs no more
//                                           than a whole one
//   Bytes16 narrow16(const Unit* p[, int64_t count])  the 16 units at p as
//                                           bytes, a unit above 0xff saturated
//                                           to a byte that is no keyword
//                                           character; with a count < 16, only
//                                           that many, the rest 0
//   uint64_t or_of_bytes(const uint8_t* p, int64_t size)  for size >= 16, the
//                                           OR of the bytes, folded into a word
//   UnitsSummary<Unit> summarize(const Unit* s, int64_t n)  for 2- and 4-byte
//                                           units with n * sizeof(Unit) >= 16
// and, for 2- and 4-byte units, the same marks taking in the units they read:
//   Survey<Unit>                            what is gathered of them, at first
//                                           nothing (value-initialised)
//   uint64_t surveyed_mask(const Unit* p[, int64_t count], Survey<Unit>&)
//                                           markup_mask, the units taken in
//   UnitsSummary<Unit> summary_of(const Survey<Unit>&)  of the units taken in
//
// Everything here lies in an unnamed namespace: each kernel file compiles its
// own copy for its own instruction set, and the linker must never hand one
// kernel's copy of a function to another.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

#include "parser/inlining.hpp"
#include "parser/kernel.hpp"
#include "parser/keywords.hpp"
#include "parser/tag_spans.hpp"

namespace marquill {
namespace {  // NOLINT(cert-dcl59-cpp, google-build-namespaces): see above

// Two little-endian words: bytes 0 to 7, then 8 to 15.
struct Bytes16 {
    uint64_t low;
    uint64_t high;
};

// A position, as wide as those it is added to.
MARQUILL_HOT int64_t lowest_bit(uint64_t bits) noexcept {  // bits != 0
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long index;
    _BitScanForward64(&index, bits);
    return static_cast<int64_t>(index);
#else
    return static_cast<int64_t>(static_cast<unsigned>(__builtin_ctzll(bits)));
#endif
}

MARQUILL_HOT uint64_t bits_below(int k) noexcept { return (uint64_t{1} << k) - 1; }  // 0 <= k < 64

// The last address at or before p that is a multiple of `Bytes`, a power of
// two no larger than 64: a skip over plain text reads its vectors from there,
// each inside one cache line rather than across two, and may go back that far
// because the 64 units before where it starts are known to be plain text.
template <uintptr_t Bytes, class Unit>
MARQUILL_HOT const Unit* aligned_back(const Unit* p) noexcept {
    static_assert((Bytes & (Bytes - 1)) == 0 && Bytes <= 64);
    return reinterpret_cast<const Unit*>(reinterpret_cast<uintptr_t>(p) & ~(Bytes - 1));
}

// Where a skip that stopped at `p` tells its caller to go on: `from` when it
// stopped before it, at a vector that began in the units already read.
template <class Unit>
MARQUILL_HOT int64_t skipped_to(const Unit* s, int64_t from, const Unit* p) noexcept {
    const int64_t at = p - s;
    return at > from ? at : from;
}

template <class Unit>
constexpr bool is_markup(Unit c) noexcept {
    return c == '[' || c == ']' || c == '{' || c == '}';
}

// The `size` bytes at `from` copied to `to`, size < Capacity <= 128: the
// first and the last bytes of the largest power of two that fits, in two
// moves that may overlap, rather than a call of memcpy for the few bytes of
// a short line.
template <size_t Move>
MARQUILL_HOT bool copy_ends(unsigned char* to, const unsigned char* from, size_t size) noexcept {
    if (size < Move) return false;
    std::memcpy(to, from, Move);
    std::memcpy(to + size - Move, from + size - Move, Move);
    return true;
}
template <size_t Capacity>
MARQUILL_HOT void copy_short(void* to, const void* from, size_t size) noexcept {
    static_assert(Capacity <= 128);
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const unsigned char*>(from);
    if constexpr (Capacity > 64) {
        if (copy_ends<64>(out, in, size)) return;
    }
    if constexpr (Capacity > 32) {
        if (copy_ends<32>(out, in, size)) return;
    }
    if (copy_ends<16>(out, in, size) || copy_ends<8>(out, in, size) || copy_ends<4>(out, in, size)) return;
    if (size > 0) {
        out[0] = in[0];
        out[size / 2] = in[size / 2];
        out[size - 1] = in[size - 1];
    }
}

// The mask of the first `count` units of 64 at p, 0 <= count <= 64, from
// masks of `Block` units at a time: blocks at 0, Block, 2 * Block and so on,
// each moved back as far as it must be to end by the count, so that blocks
// overlap rather than read past it and no branch depends on the count. Fewer
// units than a block are first copied into a buffer padded with units that
// are in no class, in a function of its own, so that the scan of longer
// lines keeps its registers.
template <int Block, class Unit, class BlockMask>
MARQUILL_COLD uint64_t padded_block_mask(const Unit* p, int64_t count, BlockMask block_mask) noexcept {
    Unit padded[Block] = {};
    copy_short<sizeof padded>(padded, p, static_cast<size_t>(count) * sizeof(Unit));
    return block_mask(padded);
}
template <int Block, class Unit, class BlockMask>
MARQUILL_HOT uint64_t first_mask(const Unit* p, int64_t count, BlockMask block_mask) noexcept {
    if (count < Block) return padded_block_mask<Block>(p, count, block_mask);
    uint64_t mask = block_mask(p);
    for (int64_t k = Block; k < 64; k += Block) {
        const int64_t at = k < count - Block ? k : count - Block;
        mask |= block_mask(p + at) << at;
    }
    return mask;
}

// The window masks of a kernel whose vectors hold `Block` units, from its
// `markup_block(p)`, the mask of one block: a kernel struct derives from
// BlockWindows<itself, Block>.
template <class Kernel, int Block>
struct BlockWindows {
    static constexpr bool maskedLoads = false;

    template <class Unit>
    static uint64_t markup_mask(const Unit* p) noexcept {
        return markup_mask(p, 64);
    }
    template <class Unit>
    static uint64_t markup_mask(const Unit* p, int64_t count) noexcept {
        return first_mask<Block>(p, count, [](const Unit* q) { return Kernel::markup_block(q); });
    }
    // The same from `markup_block(p, survey)`. A padded block's padding is
    // 0, which changes no survey.
    template <class Unit, class Survey>
    static uint64_t surveyed_mask(const Unit* p, Survey& survey) noexcept {
        return surveyed_mask(p, 64, survey);
    }
    template <class Unit, class Survey>
    static uint64_t surveyed_mask(const Unit* p, int64_t count, Survey& survey) noexcept {
        return first_mask<Block>(p, count, [&](const Unit* q) { return Kernel::markup_block(q, survey); });
    }
};

// narrow16 for a kernel without masked loads, near the line's end: the units
// there are, copied into a buffer padded with zeros.
template <class Simd, class Unit>
MARQUILL_COLD Bytes16 narrow16_padded(const Unit* p, int64_t count) noexcept {
    Unit padded[16] = {};
    copy_short<sizeof padded>(padded, p, static_cast<size_t>(count) * sizeof(Unit));
    return Simd::narrow16(padded);
}

// The marks still to visit in a window of 64 units at `base`.
struct WindowMarks {
    uint64_t bits;
    int64_t base;

    MARQUILL_HOT bool empty() const noexcept { return bits == 0; }
    MARQUILL_HOT int64_t lowest() const noexcept { return base + lowest_bit(bits); }
    MARQUILL_HOT void drop_lowest(bool drop = true) noexcept { bits &= bits - uint64_t{drop}; }
    // Whether a rule that consumed the units up to `last` ran to the window's end.
    MARQUILL_HOT bool ended_by(int64_t last) const noexcept { return last - base >= 63; }
};

// The marks still to visit in a line of up to 128 units: units 0 to 63, then
// 64 to 127.
struct LineMarks {
    uint64_t low;
    uint64_t high;

    MARQUILL_HOT bool empty() const noexcept { return (low | high) == 0; }
    MARQUILL_HOT int64_t lowest() const noexcept {
        // GCC 12 compiles this to a branch on whether the lowest mark lies in the
        // high half, which is as random as the text; choosing the half by
        // arithmetic instead made lines slower (bench/README.md)
        const bool inLow = low != 0;
        return (inLow ? 0 : 64) + lowest_bit(inLow ? low : high);
    }
    MARQUILL_HOT void drop_lowest(bool drop = true) noexcept {
        high &= high - uint64_t{drop && low == 0};
        low &= low - uint64_t{drop};
    }
    MARQUILL_HOT bool ended_by(int64_t) const noexcept { return false; }
};

// The bytes of `bytes` from `count` on, moved down to byte 0, with zeros
// after them; 0 < count <= 16.
MARQUILL_HOT Bytes16 drop_bytes(Bytes16 bytes, int64_t count) noexcept {
    const int shift = static_cast<int>(8 * (count & 7));
    // all ones when a whole word goes, when both do: masks, not branches
    const uint64_t whole = 0 - uint64_t{count >= 8};
    const uint64_t none = 0 - uint64_t{count >= 16};
    const uint64_t low = ((bytes.high & whole) | (bytes.low & ~whole)) & ~none;
    const uint64_t high = bytes.high & ~whole;
    return {(low >> shift) | ((high << 1) << (63 - shift)), high >> shift};
}

template <class Simd, class Unit>
UnitsSummary<Unit> summarize(const Unit* s, int64_t n) noexcept;

// One scan over a line: a forward pass over windows of marks, which never
// looks ahead. The marks of a window are visited in order, each starting the
// rule it may start; a bracket tag drops the mark of the ']' it ends at, and
// one whose match runs past the window moves the next window to where it
// stopped.
template <class Simd, class Unit>
class Scanner {
public:
    MARQUILL_HOT Scanner(const Unit* line, int64_t n, TagSpans& spans) noexcept
        : line_(line), n_(n), spans_(spans), out_(spans.start_writing()) {}

    // False when memory for the spans runs out.
    MARQUILL_HOT bool run() noexcept {
        if (n_ <= 128) {
            scan_short_line([](const Unit* p, auto... count) { return Simd::markup_mask(p, count...); });
        } else if (!scan_long_line()) {
            return false;
        }
        return finish();
    }

    // The same for wider units, and `summary` of the line's units: a short
    // line's are taken in as its windows are read, which reads them all, a
    // longer one's in a pass of their own.
    MARQUILL_HOT bool run(UnitsSummary<Unit>& summary) noexcept {
        if (n_ > 128) {
            summary = summarize<Simd>(line_, n_);
            return run();
        }
        typename Simd::template Survey<Unit> survey{};
        scan_short_line([&](const Unit* p, auto... count) { return Simd::surveyed_mask(p, count..., survey); });
        summary = Simd::summary_of(survey);
        return finish();
    }

private:
    MARQUILL_HOT bool finish() noexcept {
        if (spans_.exhausted()) return false;
        spans_.finish_writing(out_.next);
        return true;
    }

    // A line of up to 128 units, the length of most lines of dialogue: its
    // marks are made at once, by `mask_of(p[, count])`, and walked as one
    // window.
    template <class MaskOf>
    MARQUILL_HOT void scan_short_line(MaskOf mask_of) noexcept {
        // A whole window is read as one, not as a count of units that
        // happens to be 64: AVX-512 would make the lanes of its loads from
        // the count, and every line would wait for them.
        LineMarks marks{n_ >= 64 ? mask_of(line_) : mask_of(line_, n_), 0};
        if (n_ > 64) marks.high = mask_of(line_ + n_ - 64) >> (128 - n_);
        walk(marks);
    }

    // Any longer line, a window of 64 units at a time. Near the end the
    // window is the line's last 64 units, less those already passed, so that
    // no short read is needed.
    MARQUILL_HOT bool scan_long_line() noexcept {
        int64_t from = 0;
        while (from < n_) {
            const uint64_t marks = n_ - from >= 64 ? Simd::markup_mask(line_ + from)
                                                   : Simd::markup_mask(line_ + n_ - 64) >> (from - (n_ - 64));
            if (marks == 0) {
                from = n_ - from > 64 ? Simd::skip_plain_text(line_, from + 64, n_) : n_;
                continue;
            }
            const int64_t last = walk(WindowMarks{marks, from});
            if (spans_.exhausted()) return false;
            from = last >= from + 64 ? last + 1 : from + 64;
        }
        return true;
    }

    // Visits the marks in order. Returns the last unit consumed, or -1 when
    // none was; it lies past the window when a rule ran past it.
    template <class Marks>
    MARQUILL_HOT int64_t walk(Marks marks) noexcept {
        int64_t last = -1;
        while (!marks.empty()) {
            last = visit(marks);
            if (marks.ended_by(last)) break;
        }
        return last;
    }

    // Applies the rule of the lowest mark, which it drops; returns the last
    // unit consumed (the mark's own when none other was).
    template <class Marks>
    MARQUILL_HOT int64_t visit(Marks& marks) noexcept {
        const int64_t at = marks.lowest();
        marks.drop_lowest();
        const Unit c = line_[at];
        if (c == '[') return bracket_tag(at, marks);
        if (c == ']') {
            close_argument_tag(at);
        } else if (c == '{') {
            open_raw_block(at);
        } else {
            close_raw_block(at);
        }
        return at;
    }

    // At a '[': a fixed tag is recorded and consumed to its ']'. An opener
    // becomes the open argument tag, replacing any open one, whose opener
    // stays in the text; when the next mark is a ']' the tag is closed there
    // at once, and otherwise the scan goes on with its argument, the tag's
    // span written but not kept until its ']'. A match holds no markup but a
    // fixed tag's ']', so both kinds of tag end at the next mark when it is
    // a ']', and which kind it was decides only values, not the way through.
    template <class Marks>
    MARQUILL_HOT int64_t bracket_tag(int64_t at, Marks& marks) noexcept {
        using namespace keyword_lookup;
        const Bytes16 after = units_after(at);
        const uint32_t head = static_cast<uint32_t>(after.low);
        const Row& row = table.rows[(head * multiplier) >> (32 - slotBits)];  // slot_of, inlined by hand
        if ((((after.low ^ row.low) & row.lowMask) | ((after.high ^ row.high) & row.highMask)) != 0) return at;
        const int64_t matchEnd = at + row.length;
        // A match that runs past the window leaves no mark in it; a fixed
        // tag's ']' is then the match's last unit.
        const int64_t next = marks.empty() ? matchEnd : marks.lowest();
        const bool closed = line_[next] == ']';
        append_if(closed, {at, next, at + row.valueStart, row.kind, row.fixed});
        marks.drop_lowest(closed);
        argumentOpen_ = !closed;
        return closed ? next : matchEnd;
    }

    // The sixteen units after the '[' at `at`, narrowed, with zeros for any
    // past the line's end, which match no keyword. A kernel with masked
    // loads reads only the units there are; another reads the line's last
    // sixteen units and moves them down.
    MARQUILL_HOT Bytes16 units_after(int64_t at) const noexcept {
        const int64_t room = n_ - at - 1;
        if constexpr (Simd::maskedLoads) return Simd::narrow16(line_ + at + 1, room < 16 ? room : 16);
        if (room >= 16) return Simd::narrow16(line_ + at + 1);
        if (n_ < 16) return Simd::narrow16(line_ + at + 1, room);
        return drop_bytes(Simd::narrow16(line_ + n_ - 16), 16 - room);
    }

    // At a ']': an open argument tag ends here, its argument every unit after
    // the opener's space, and its span, waiting where the next one goes, is
    // kept; with none open, the ']' is plain text.
    MARQUILL_HOT void close_argument_tag(int64_t at) noexcept {
        if (out_.next == out_.limit) out_ = spans_.next_chunk();  // only when none is open
        out_.next->r = at;
        out_.next += argumentOpen_ ? 1 : 0;
        argumentOpen_ = false;
    }

    // A raw block runs from a '{' to the last '}' before the first '{' that
    // follows its first '}'; with no '}' after it, the '{' is plain text. The
    // scan reads on without looking ahead: the block's span is written at
    // its first '}' and moved on to each later one, and the tags read since
    // its '{' or its last '}' are taken back, as they lie inside it. The
    // tags after its last '}' stand.
    MARQUILL_HOT void open_raw_block(int64_t at) noexcept {
        if (blockL_ >= 0 && !blockClosed_) return;  // before the block's first '}': inside it
        blockL_ = at;
        blockClosed_ = false;
        if (out_.next == out_.limit) out_ = spans_.next_chunk();
        blockSlot_ = spans_.position_of(out_);
    }

    MARQUILL_HOT void close_raw_block(int64_t at) noexcept {
        if (blockL_ < 0) return;  // a '}' outside a block is plain text
        out_ = spans_.rewind_to(blockSlot_, out_);
        append_if(true, {blockL_, at, blockL_ + 1, 'r', -1});
        blockClosed_ = true;
        argumentOpen_ = false;
    }

    // Writes a tag's span and keeps it when `keep`; written either way, so
    // that whether a tag is recorded decides no branch. A recorded tag
    // forgets any open argument tag, whose span it overwrites (its caller
    // clears argumentOpen_): tags never overlap, so they stand in line order.
    MARQUILL_HOT void append_if(bool keep, const TagSpan& span) noexcept {
        if (out_.next == out_.limit) out_ = spans_.next_chunk();
        *out_.next = span;
        out_.next += keep ? 1 : 0;
    }

    const Unit* line_;
    int64_t n_;
    TagSpans& spans_;
    TagSpans::Cursor out_;
    bool argumentOpen_ = false;       // an argument tag is open: its span is at out_.next
    int64_t blockL_ = -1;             // the '{' of the last raw block begun, -1 when none was
    bool blockClosed_ = false;        // whether a '}' has followed it
    TagSpans::Position blockSlot_{};  // where its span is written
};

// What a string made of a run of units needs to know of them: the OR of the
// units, whose highest bit gives the narrowest width that holds them all, and
// whether one is a UTF-16 surrogate, which has no UTF-8. Runs of 16 bytes or
// more go by in the kernel's vectors, shorter ones in 8- and 4-byte words;
// both read the last block again, overlapping the one before, rather than
// take units one at a time.
template <class Word>
Word word_at(const uint8_t* p) noexcept {
    Word word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

template <class Word>
Word or_of_words(const uint8_t* p, int64_t size) noexcept {  // size >= sizeof(Word)
    constexpr auto width = static_cast<int64_t>(sizeof(Word));
    Word any = word_at<Word>(p + size - width);
    for (int64_t k = 0; k + width <= size; k += width) any |= word_at<Word>(p + k);
    return any;
}

// The OR of the lanes of `word`, each one unit wide.
template <class Unit>
Unit or_of_lanes(uint64_t word) noexcept {
    if constexpr (sizeof(Unit) <= 4) word |= word >> 32;
    if constexpr (sizeof(Unit) <= 2) word |= word >> 16;
    if constexpr (sizeof(Unit) == 1) word |= word >> 8;
    return static_cast<Unit>(word);
}

template <class Simd, class Unit>
Unit or_of_units(const Unit* s, int64_t n) noexcept {
    const auto* bytes = reinterpret_cast<const uint8_t*>(s);
    const int64_t size = n * static_cast<int64_t>(sizeof(Unit));
    if (size >= 16) return or_of_lanes<Unit>(Simd::or_of_bytes(bytes, size));
    if (size >= 8) return or_of_lanes<Unit>(or_of_words<uint64_t>(bytes, size));
    if (size >= 4) return or_of_lanes<Unit>(or_of_words<uint32_t>(bytes, size));
    Unit any = 0;
    for (int64_t k = 0; k < n; ++k) any |= s[k];
    return any;
}

// U+D800 to U+DFFF: the units whose bits above the lowest eleven read 0xd800.
template <class Unit>
constexpr bool is_surrogate(Unit unit) noexcept {
    return (unit & ~Unit{0x7ff}) == 0xd800;
}

template <class Simd, class Unit>
UnitsSummary<Unit> summarize(const Unit* s, int64_t n) noexcept {
    if (n * static_cast<int64_t>(sizeof(Unit)) >= 16) return Simd::summarize(s, n);
    UnitsSummary<Unit> summary{0, false};
    for (int64_t k = 0; k < n; ++k) {
        summary.any |= s[k];
        summary.surrogate |= is_surrogate(s[k]);
    }
    return summary;
}

template <class Simd, class Unit>
bool find_tags(const Unit* line, int64_t n, TagSpans& spans) noexcept {
    return Scanner<Simd, Unit>(line, n, spans).run();
}

template <class Simd, class Unit>
bool find_tags_and_summarize(const Unit* line, int64_t n, TagSpans& spans, UnitsSummary<Unit>& summary) noexcept {
    return Scanner<Simd, Unit>(line, n, spans).run(summary);
}

template <class Simd, class Unit>
constexpr UnitKernel<Unit> unit_kernel() noexcept {
    if constexpr (sizeof(Unit) == 1) {
        return {&find_tags<Simd, Unit>, &or_of_units<Simd, Unit>, nullptr};
    } else {
        return {&find_tags<Simd, Unit>, &or_of_units<Simd, Unit>, &find_tags_and_summarize<Simd, Unit>};
    }
}

// The kernel of a primitives struct, under the name `_kernel` reports.
template <class Simd>
constexpr Kernel kernel_of(const char* name) noexcept {
    return {name, unit_kernel<Simd, uint8_t>(), unit_kernel<Simd, uint16_t>(), unit_kernel<Simd, uint32_t>()};
}

}  // namespace
}  // namespace marquill
