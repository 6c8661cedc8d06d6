// The AVX-512 distance scan (VPOPCNTDQ: a popcount per 64-bit lane), 16
// codes per step. 128-bit codes are split into their first and second words
// by two permutes, so that one lane holds one code's distance.
#include "collections/hamming_kernels.hpp"

#if MIVO_HAMMING_X86
#include <immintrin.h>

#define MIVO_AVX512 [[gnu::target("avx512f,avx512vpopcntdq,popcnt")]]

namespace mivo::collections {
namespace {

MIVO_AVX512 inline std::size_t emit(unsigned mask, __m512i d_low, __m512i d_high, std::size_t base,
                                    std::uint32_t* index, std::uint8_t* distance, std::size_t found) {
    alignas(64) std::uint64_t d[16];
    _mm512_store_si512(d, d_low);
    _mm512_store_si512(d + 8, d_high);
    return emit_within(mask, d, base, index, distance, found);
}

MIVO_AVX512 inline unsigned within_mask(__m512i d_low, __m512i d_high, __m512i limit) {
    return _mm512_cmple_epu64_mask(d_low, limit) | (unsigned{_mm512_cmple_epu64_mask(d_high, limit)} << 8);
}

// Distances of the 8 codes held in a (codes 0-3) and b (codes 4-7).
MIVO_AVX512 inline __m512i distances16(__m512i a, __m512i b, __m512i q0, __m512i q1) {
    const __m512i even = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
    const __m512i odd = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
    const __m512i w0 = _mm512_permutex2var_epi64(a, even, b);
    const __m512i w1 = _mm512_permutex2var_epi64(a, odd, b);
    return _mm512_add_epi64(_mm512_popcnt_epi64(_mm512_xor_si512(w0, q0)),
                            _mm512_popcnt_epi64(_mm512_xor_si512(w1, q1)));
}

struct Distances {
    __m512i low, high;  // codes 0-7, 8-15 of a step
};

MIVO_AVX512 inline Distances step8(const std::uint64_t* p, __m512i q) {
    return {_mm512_popcnt_epi64(_mm512_xor_si512(_mm512_loadu_si512(p), q)),
            _mm512_popcnt_epi64(_mm512_xor_si512(_mm512_loadu_si512(p + 8), q))};
}

MIVO_AVX512 inline Distances step16(const std::uint64_t* p, __m512i q0, __m512i q1) {
    return {distances16(_mm512_loadu_si512(p), _mm512_loadu_si512(p + 8), q0, q1),
            distances16(_mm512_loadu_si512(p + 16), _mm512_loadu_si512(p + 24), q0, q1)};
}

}  // namespace

MIVO_AVX512 std::size_t hamming_within8_avx512(const std::uint64_t* codes, std::size_t n, const std::uint64_t* query,
                                               std::uint32_t bound, std::uint32_t* index, std::uint8_t* distance) {
    const __m512i q = _mm512_set1_epi64(static_cast<long long>(query[0]));
    const __m512i limit = _mm512_set1_epi64(bound);
    MIVO_HAMMING_WIDE_LOOP(1, 16, hamming_within8_portable, step8(p, q));
}

MIVO_AVX512 std::size_t hamming_within16_avx512(const std::uint64_t* codes, std::size_t n, const std::uint64_t* query,
                                                std::uint32_t bound, std::uint32_t* index, std::uint8_t* distance) {
    const __m512i q0 = _mm512_set1_epi64(static_cast<long long>(query[0]));
    const __m512i q1 = _mm512_set1_epi64(static_cast<long long>(query[1]));
    const __m512i limit = _mm512_set1_epi64(bound);
    MIVO_HAMMING_WIDE_LOOP(2, 16, hamming_within16_portable, step16(p, q0, q1));
}

}  // namespace mivo::collections
#endif
