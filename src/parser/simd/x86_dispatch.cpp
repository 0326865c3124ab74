// Chooses the long plain-text skip of the x86-64 search once, at run time:
// AVX2's where the processor and the system support it, SSE2's otherwise.
#include "parser/markup_search.hpp"

#if MARQUILL_SEARCH_SSE2
#if defined(_MSC_VER)
#include <immintrin.h>
#include <intrin.h>
#endif

namespace marquill::sse2 {

namespace {

#if defined(_MSC_VER)
// AVX2 is usable when the processor has it and the system saves the YMM
// registers on a context switch (OSXSAVE, and XCR0's SSE and AVX bits).
bool detect_avx2() noexcept {
    int info[4];
    __cpuid(info, 0);
    if (info[0] < 7) return false;
    __cpuid(info, 1);
    const bool osxsave = (info[2] & (1 << 27)) != 0;
    const bool avx = (info[2] & (1 << 28)) != 0;
    if (!osxsave || !avx || (_xgetbv(0) & 0x6) != 0x6) return false;
    __cpuidex(info, 7, 0);
    return (info[1] & (1 << 5)) != 0;
}
#else
bool detect_avx2() noexcept { return __builtin_cpu_supports("avx2"); }
#endif

template <class Unit>
int64_t skip(const Unit* s, int64_t from, int64_t n) noexcept {
    return has_avx2() ? skip_plain_text_avx2(s, from, n) : skip_plain_text_sse2(s, from, n);
}

}  // namespace

bool has_avx2() noexcept {
    static const bool available = detect_avx2();
    return available;
}

int64_t skip_plain_text(const uint8_t* s, int64_t from, int64_t n) noexcept { return skip(s, from, n); }
int64_t skip_plain_text(const uint16_t* s, int64_t from, int64_t n) noexcept { return skip(s, from, n); }
int64_t skip_plain_text(const uint32_t* s, int64_t from, int64_t n) noexcept { return skip(s, from, n); }

}  // namespace marquill::sse2
#endif
