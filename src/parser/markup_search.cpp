#include "parser/markup_search.hpp"

#ifdef __SSE2__
#include <immintrin.h>

namespace marquill {

int64_t skip_plain_text_sse2(const char* s, int64_t from, int64_t n) noexcept {
    return skip_by_64<markup_bytes>(s, from, n);
}

#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx2"))) int64_t skip_plain_text_avx2(const char* s, int64_t from, int64_t n) noexcept {
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

bool has_avx2() noexcept {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}
#else
int64_t skip_plain_text_avx2(const char* s, int64_t from, int64_t n) noexcept {
    return skip_plain_text_sse2(s, from, n);
}

bool has_avx2() noexcept { return false; }
#endif

int64_t skip_plain_text(const char* s, int64_t from, int64_t n) noexcept {
    return has_avx2() ? skip_plain_text_avx2(s, from, n) : skip_plain_text_sse2(s, from, n);
}

}  // namespace marquill
#endif
