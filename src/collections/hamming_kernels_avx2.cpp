// The AVX2 distance scan, 8 codes per step: the bits of each byte counted by
// a 16-entry table (one lookup per nibble), the byte counts summed per
// 64-bit lane, and for 128-bit codes the two lanes of a code added.
#include "collections/hamming_kernels.hpp"

#if MIVO_HAMMING_X86
#include <immintrin.h>

#define MIVO_AVX2 [[gnu::target("avx2,popcnt")]]

namespace mivo::collections {
namespace {

// The number of 1 bits of each 64-bit lane of x.
MIVO_AVX2 inline __m256i popcount_lanes(__m256i x) {
    const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4,  //
                                           0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i low = _mm256_shuffle_epi8(table, _mm256_and_si256(x, nibble));
    const __m256i high = _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble));
    return _mm256_sad_epu8(_mm256_add_epi8(low, high), _mm256_setzero_si256());
}

// Distances of the 4 codes held in a (codes 0-1) and b (codes 2-3), in order.
MIVO_AVX2 inline __m256i distances16(__m256i a, __m256i b, __m256i q) {
    const __m256i ca = popcount_lanes(_mm256_xor_si256(a, q));  // c0w0 c0w1 c1w0 c1w1
    const __m256i cb = popcount_lanes(_mm256_xor_si256(b, q));  // c2w0 c2w1 c3w0 c3w1
    const __m256i d = _mm256_add_epi64(_mm256_unpacklo_epi64(ca, cb), _mm256_unpackhi_epi64(ca, cb));  // d0 d2 d1 d3
    return _mm256_permute4x64_epi64(d, _MM_SHUFFLE(3, 1, 2, 0));
}

// Bit j set where lane j of d exceeds the limit.
MIVO_AVX2 inline unsigned above(__m256i d, __m256i limit) {
    return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpgt_epi64(d, limit))));
}

MIVO_AVX2 inline unsigned within_mask(__m256i d_low, __m256i d_high, __m256i limit) {
    return ~(above(d_low, limit) | (above(d_high, limit) << 4)) & 0xFFu;
}

MIVO_AVX2 inline std::size_t emit(unsigned mask, __m256i d_low, __m256i d_high, std::size_t base, std::uint32_t* index,
                                  std::uint8_t* distance, std::size_t found) {
    alignas(32) std::uint64_t d[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(d), d_low);
    _mm256_store_si256(reinterpret_cast<__m256i*>(d + 4), d_high);
    return emit_within(mask, d, base, index, distance, found);
}

MIVO_AVX2 inline __m256i load(const std::uint64_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

struct Distances {
    __m256i low, high;  // codes 0-3, 4-7 of a step
};

MIVO_AVX2 inline Distances step8(const std::uint64_t* p, __m256i q) {
    return {popcount_lanes(_mm256_xor_si256(load(p), q)), popcount_lanes(_mm256_xor_si256(load(p + 4), q))};
}

MIVO_AVX2 inline Distances step16(const std::uint64_t* p, __m256i q) {
    return {distances16(load(p), load(p + 4), q), distances16(load(p + 8), load(p + 12), q)};
}

}  // namespace

MIVO_AVX2 std::size_t hamming_within8_avx2(const std::uint64_t* codes, std::size_t n, const std::uint64_t* query,
                                           std::uint32_t bound, std::uint32_t* index, std::uint8_t* distance) {
    const __m256i q = _mm256_set1_epi64x(static_cast<long long>(query[0]));
    const __m256i limit = _mm256_set1_epi64x(bound);
    MIVO_HAMMING_WIDE_LOOP(1, 8, hamming_within8_portable, step8(p, q));
}

MIVO_AVX2 std::size_t hamming_within16_avx2(const std::uint64_t* codes, std::size_t n, const std::uint64_t* query,
                                            std::uint32_t bound, std::uint32_t* index, std::uint8_t* distance) {
    const __m256i q = _mm256_setr_epi64x(static_cast<long long>(query[0]), static_cast<long long>(query[1]),
                                         static_cast<long long>(query[0]), static_cast<long long>(query[1]));
    const __m256i limit = _mm256_set1_epi64x(bound);
    MIVO_HAMMING_WIDE_LOOP(2, 8, hamming_within16_portable, step16(p, q));
}

}  // namespace mivo::collections
#endif
