// The long plain-text skip of the x86-64 search with AVX2's 32-byte
// registers, chosen at run time when the processor has them; SSE2 otherwise.
#include "parser/markup_search.hpp"

#if MARQUILL_SEARCH_SSE2
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#endif

// GCC and Clang compile AVX2 code only in functions marked for it; MSVC
// compiles any intrinsic anywhere.
#if defined(__GNUC__) || defined(__clang__)
#define MARQUILL_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define MARQUILL_TARGET_AVX2
#endif

namespace marquill::sse2 {

int64_t skip_plain_text_sse2(const char* s, int64_t from, int64_t n) noexcept {
    return vector_search::skip_by_64<Vectors, ByteClass::markup>(s, from, n);
}

MARQUILL_TARGET_AVX2 int64_t skip_plain_text_avx2(const char* s, int64_t from, int64_t n) noexcept {
    const __m256i fold = _mm256_set1_epi8(0x20);
    const __m256i open = _mm256_set1_epi8('{');
    const __m256i close = _mm256_set1_epi8(']');
    for (; from + 64 <= n; from += 64) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + from));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + from + 32));
        const __m256i hits = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_or_si256(low, fold), open), _mm256_cmpeq_epi8(low, close)),
            _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_or_si256(high, fold), open), _mm256_cmpeq_epi8(high, close)));
        if (!_mm256_testz_si256(hits, hits)) break;
    }
    return from;
}

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

}  // namespace

bool has_avx2() noexcept {
    static const bool available = detect_avx2();
    return available;
}

int64_t skip_plain_text(const char* s, int64_t from, int64_t n) noexcept {
    return has_avx2() ? skip_plain_text_avx2(s, from, n) : skip_plain_text_sse2(s, from, n);
}

}  // namespace marquill::sse2
#endif
