#include "strings/lane_kernels_x86.hpp"

#if MIVO_LANES_X86
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mivo::strings::lanes {

// The bit counts of the 16 nibbles, for a byte-wise table lookup.
#define MIVO_NIBBLE_COUNTS 0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4

// A lane-wise operation of lanes of E bits: the intrinsic prefix_op_epiE.
#define MIVO_LANEWISE(name, prefix, op)                            \
    template <int E>                                               \
    MIVO_LANE_OP V name(V a, V b) {                                \
        if constexpr (E == 8) return prefix##_##op##_epi8(a, b);   \
        if constexpr (E == 16) return prefix##_##op##_epi16(a, b); \
        if constexpr (E == 32) return prefix##_##op##_epi32(a, b); \
        if constexpr (E == 64) return prefix##_##op##_epi64(a, b); \
    }

namespace avx2 {

constexpr std::size_t kBytes = 32;
using V = __m256i;
#define MIVO_LANE_FN [[gnu::target("avx2")]]
#define MIVO_LANE_OP [[gnu::target("avx2"), gnu::always_inline]] inline

MIVO_LANE_OP V vzero() { return _mm256_setzero_si256(); }
MIVO_LANE_OP V vones() { return _mm256_set1_epi32(-1); }
MIVO_LANE_OP V vload(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
MIVO_LANE_OP void vstore(void* p, V v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
MIVO_LANE_OP V vand(V a, V b) { return _mm256_and_si256(a, b); }
MIVO_LANE_OP V vor(V a, V b) { return _mm256_or_si256(a, b); }
MIVO_LANE_OP V vxor(V a, V b) { return _mm256_xor_si256(a, b); }
MIVO_LANE_OP V vandnot(V a, V b) { return _mm256_andnot_si256(a, b); }
MIVO_LANE_OP V vsrl63(V a) { return _mm256_srli_epi64(a, 63); }

template <int E>
MIVO_LANE_OP V vset1(std::uint64_t x) {
    if constexpr (E == 8) return _mm256_set1_epi8(static_cast<char>(x));
    if constexpr (E == 16) return _mm256_set1_epi16(static_cast<short>(x));
    if constexpr (E == 32) return _mm256_set1_epi32(static_cast<int>(x));
    if constexpr (E == 64) return _mm256_set1_epi64x(static_cast<long long>(x));
}
MIVO_LANEWISE(vadd, _mm256, add)
MIVO_LANEWISE(vsub, _mm256, sub)
MIVO_LANEWISE(vcmpeq, _mm256, cmpeq)
// Bits per byte from a nibble table, then summed over the lane's bytes.
template <int E>
MIVO_LANE_OP V vpopcnt(V a) {
    const V table = _mm256_setr_epi8(MIVO_NIBBLE_COUNTS, MIVO_NIBBLE_COUNTS);
    const V low = _mm256_set1_epi8(0x0F);
    const V bytes = _mm256_add_epi8(_mm256_shuffle_epi8(table, _mm256_and_si256(a, low)),
                                    _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(a, 4), low)));
    if constexpr (E == 8) return bytes;
    if constexpr (E == 64) return _mm256_sad_epu8(bytes, _mm256_setzero_si256());
    const V pairs = _mm256_add_epi16(_mm256_and_si256(bytes, _mm256_set1_epi16(0xFF)), _mm256_srli_epi16(bytes, 8));
    if constexpr (E == 16) return pairs;
    if constexpr (E == 32) return _mm256_madd_epi16(pairs, _mm256_set1_epi16(1));
}

#include "strings/lane_kernels.inc"

#undef MIVO_LANE_FN
#undef MIVO_LANE_OP
}  // namespace avx2

namespace avx512 {

constexpr std::size_t kBytes = 64;
using V = __m512i;
#define MIVO_LANE_FN [[gnu::target("avx512f,avx512bw")]]
#define MIVO_LANE_OP [[gnu::target("avx512f,avx512bw"), gnu::always_inline]] inline

MIVO_LANE_OP V vzero() { return _mm512_setzero_si512(); }
MIVO_LANE_OP V vones() { return _mm512_set1_epi32(-1); }
MIVO_LANE_OP V vload(const void* p) { return _mm512_loadu_si512(p); }
MIVO_LANE_OP void vstore(void* p, V v) { _mm512_storeu_si512(p, v); }
MIVO_LANE_OP V vand(V a, V b) { return _mm512_and_si512(a, b); }
MIVO_LANE_OP V vor(V a, V b) { return _mm512_or_si512(a, b); }
MIVO_LANE_OP V vxor(V a, V b) { return _mm512_xor_si512(a, b); }
// The zero-masked forms: the plain ones start from an undefined register,
// which some compilers' sanitizer builds take for an uninitialised read.
MIVO_LANE_OP V vandnot(V a, V b) { return _mm512_maskz_andnot_epi64(0xFF, a, b); }
MIVO_LANE_OP V vsrl63(V a) { return _mm512_maskz_srli_epi64(0xFF, a, 63); }

template <int E>
MIVO_LANE_OP V vset1(std::uint64_t x) {
    if constexpr (E == 8) return _mm512_set1_epi8(static_cast<char>(x));
    if constexpr (E == 16) return _mm512_set1_epi16(static_cast<short>(x));
    if constexpr (E == 32) return _mm512_set1_epi32(static_cast<int>(x));
    if constexpr (E == 64) return _mm512_set1_epi64(static_cast<long long>(x));
}
MIVO_LANEWISE(vadd, _mm512, add)
MIVO_LANEWISE(vsub, _mm512, sub)
template <int E>
MIVO_LANE_OP V vcmpeq(V a, V b) {
    const V ones = vones();
    if constexpr (E == 8) return _mm512_maskz_mov_epi8(_mm512_cmpeq_epi8_mask(a, b), ones);
    if constexpr (E == 16) return _mm512_maskz_mov_epi16(_mm512_cmpeq_epi16_mask(a, b), ones);
    if constexpr (E == 32) return _mm512_maskz_mov_epi32(_mm512_cmpeq_epi32_mask(a, b), ones);
    if constexpr (E == 64) return _mm512_maskz_mov_epi64(_mm512_cmpeq_epi64_mask(a, b), ones);
}
template <int E>
MIVO_LANE_OP V vpopcnt(V a) {
    const V table = _mm512_set4_epi32(0x04030302, 0x03020201, 0x03020201, 0x02010100);
    const V low = _mm512_set1_epi8(0x0F);
    const V bytes = _mm512_add_epi8(_mm512_shuffle_epi8(table, _mm512_and_si512(a, low)),
                                    _mm512_shuffle_epi8(table, _mm512_and_si512(_mm512_srli_epi16(a, 4), low)));
    if constexpr (E == 8) return bytes;
    if constexpr (E == 64) return _mm512_sad_epu8(bytes, _mm512_setzero_si512());
    const V pairs = _mm512_add_epi16(_mm512_and_si512(bytes, _mm512_set1_epi16(0xFF)), _mm512_srli_epi16(bytes, 8));
    if constexpr (E == 16) return pairs;
    if constexpr (E == 32) return _mm512_madd_epi16(pairs, _mm512_set1_epi16(1));
}

#include "strings/lane_kernels.inc"

#undef MIVO_LANE_FN
#undef MIVO_LANE_OP
}  // namespace avx512

#undef MIVO_NIBBLE_COUNTS
#undef MIVO_LANEWISE

const KernelSet kAvx2Kernels{avx2::kBytes, avx2::edit_short_any, avx2::edit_long_any, avx2::jaro_short_any};
const KernelSet kAvx512Kernels{avx512::kBytes, avx512::edit_short_any, avx512::edit_long_any, avx512::jaro_short_any};

LaneKernel best_x86_lane_kernel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) return LaneKernel::Avx512;
    if (__builtin_cpu_supports("avx2")) return LaneKernel::Avx2;
    return LaneKernel::Portable;
}

}  // namespace mivo::strings::lanes
#endif
