// Wider ChaCha20 keystream kernels: 8 blocks side by side in 256-bit vectors
// (AVX2) and 16 blocks in 512-bit vectors (AVX-512F), chosen at run time.
// Lane k of every vector belongs to block counter + k; after the rounds the
// lanes are transposed so that the output is block after block, exactly as
// the one-block-at-a-time code writes it. Integer arithmetic only, so every
// kernel gives the same bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "embeddings/seeded_stream.hpp"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(MIVO_CHACHA_PORTABLE_ONLY)
#define MIVO_CHACHA_X86_WIDE 1
#endif

#if MIVO_CHACHA_X86_WIDE && defined(__clang__)
#include <immintrin.h>
#endif

namespace mivo::embeddings {
namespace {

#if MIVO_CHACHA_X86_WIDE

// Shuffle masks of the in-register transpose. Stage s swaps, between rows i
// and i + s (i without bit s), the elements whose position has bit s set:
// after the stages L/2, L/4, ..., 1, row b holds what was column b.
template <std::size_t L>
struct TransposeMasks {
    std::uint32_t lo[L][L];  // indexed by log2(s)
    std::uint32_t hi[L][L];
};

template <std::size_t L>
constexpr TransposeMasks<L> make_transpose_masks() {
    TransposeMasks<L> m{};
    for (std::size_t bit = 0; (std::size_t{1} << bit) < L; ++bit) {
        const std::size_t s = std::size_t{1} << bit;
        for (std::size_t p = 0; p < L; ++p) {
            m.lo[bit][p] = static_cast<std::uint32_t>((p & s) ? L + p - s : p);
            m.hi[bit][p] = static_cast<std::uint32_t>((p & s) ? L + p : p + s);
        }
    }
    return m;
}

constexpr TransposeMasks<8> kMasks8 = make_transpose_masks<8>();
constexpr TransposeMasks<16> kMasks16 = make_transpose_masks<16>();

// Byte permutations for the rotations by 16 and 8 (little-endian words).
constexpr std::array<std::uint8_t, 32> make_rot_bytes(int by) {
    std::array<std::uint8_t, 32> m{};
    for (int w = 0; w < 8; ++w)
        for (int b = 0; b < 4; ++b)
            m[static_cast<std::size_t>(4 * w + b)] = static_cast<std::uint8_t>(4 * w + ((b - by / 8 + 4) % 4));
    return m;
}
constexpr std::array<std::uint8_t, 32> kRot16Bytes = make_rot_bytes(16);
constexpr std::array<std::uint8_t, 32> kRot8Bytes = make_rot_bytes(8);

// The body shared by both widths. V is the lane vector type, L its lane
// count, ROT16/ROT8/ROT12/ROT7 rotate a V left by that many bits, and SHUF
// is a two-operand lane shuffle with a mask of type V.
// clang-format off: one quarter round, four steps to a line
#define MIVO_WIDE_QR(a, b, c, d)        \
    a += b; d ^= a; d = MIVO_ROT16(d);  \
    c += d; b ^= c; b = MIVO_ROT12(b);  \
    a += b; d ^= a; d = MIVO_ROT8(d);   \
    c += d; b ^= c; b = MIVO_ROT7(b)
// clang-format on

#define MIVO_WIDE_BODY(V, L, MASKS)                                                                               \
    V in[16];                                                                                                     \
    for (int w = 0; w < 4; ++w) in[w] = V{} + kChaChaConstants[w];                                                \
    for (int w = 0; w < 8; ++w) in[4 + w] = V{} + key[static_cast<std::size_t>(w)];                               \
    for (std::size_t k = 0; k < (L); ++k) {                                                                       \
        const std::uint64_t c = counter + k;                                                                      \
        in[12][k] = static_cast<std::uint32_t>(c);                                                                \
        in[13][k] = static_cast<std::uint32_t>(c >> 32);                                                          \
    }                                                                                                             \
    in[14] = V{};                                                                                                 \
    in[15] = V{};                                                                                                 \
    V x0 = in[0], x1 = in[1], x2 = in[2], x3 = in[3], x4 = in[4], x5 = in[5], x6 = in[6], x7 = in[7];             \
    V x8 = in[8], x9 = in[9], x10 = in[10], x11 = in[11], x12 = in[12], x13 = in[13], x14 = in[14], x15 = in[15]; \
    for (int round = 0; round < 10; ++round) {                                                                    \
        MIVO_WIDE_QR(x0, x4, x8, x12);                                                                            \
        MIVO_WIDE_QR(x1, x5, x9, x13);                                                                            \
        MIVO_WIDE_QR(x2, x6, x10, x14);                                                                           \
        MIVO_WIDE_QR(x3, x7, x11, x15);                                                                           \
        MIVO_WIDE_QR(x0, x5, x10, x15);                                                                           \
        MIVO_WIDE_QR(x1, x6, x11, x12);                                                                           \
        MIVO_WIDE_QR(x2, x7, x8, x13);                                                                            \
        MIVO_WIDE_QR(x3, x4, x9, x14);                                                                            \
    }                                                                                                             \
    V x[16] = {x0 + in[0],   x1 + in[1],   x2 + in[2],   x3 + in[3],  x4 + in[4],   x5 + in[5],                   \
               x6 + in[6],   x7 + in[7],   x8 + in[8],   x9 + in[9],  x10 + in[10], x11 + in[11],                 \
               x12 + in[12], x13 + in[13], x14 + in[14], x15 + in[15]};                                           \
    for (std::size_t g = 0; g < 16 / (L); ++g) {                                                                  \
        V* r = x + g * (L);                                                                                       \
        for (std::size_t s = (L) / 2; s > 0; s /= 2) {                                                            \
            const auto bit = static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(s)));                   \
            V lo, hi;                                                                                             \
            std::memcpy(&lo, MASKS.lo[bit], sizeof lo);                                                           \
            std::memcpy(&hi, MASKS.hi[bit], sizeof hi);                                                           \
            for (std::size_t i = 0; i < (L); ++i) {                                                               \
                if (i & s) continue;                                                                              \
                const V a = r[i];                                                                                 \
                const V b = r[i + s];                                                                             \
                r[i] = MIVO_SHUFFLE2(a, b, lo);                                                                   \
                r[i + s] = MIVO_SHUFFLE2(a, b, hi);                                                               \
            }                                                                                                     \
        }                                                                                                         \
        for (std::size_t b = 0; b < (L); ++b) std::memcpy(out + 16 * b + g * (L), &r[b], sizeof(V));              \
    }

typedef std::uint32_t u32x8 __attribute__((vector_size(32)));
typedef std::uint8_t u8x32 __attribute__((vector_size(32)));
typedef std::uint32_t u32x16 __attribute__((vector_size(64)));

#if defined(__clang__)
// Clang has no __builtin_shuffle with a mask known only as data: the same
// shuffles through the permute instructions. A two-operand mask element m
// takes lane m of a below L and lane m - L of b from L on.
[[gnu::target("avx2")]] inline u8x32 shuffle_bytes(u8x32 v, u8x32 m) {
    return reinterpret_cast<u8x32>(_mm256_shuffle_epi8(reinterpret_cast<__m256i>(v), reinterpret_cast<__m256i>(m)));
}
[[gnu::target("avx2")]] inline u32x8 shuffle2(u32x8 a, u32x8 b, u32x8 m) {
    const __m256i i = reinterpret_cast<__m256i>(m);
    const auto from_a = reinterpret_cast<u32x8>(_mm256_permutevar8x32_epi32(reinterpret_cast<__m256i>(a), i));
    const auto from_b = reinterpret_cast<u32x8>(_mm256_permutevar8x32_epi32(reinterpret_cast<__m256i>(b), i));
    const auto take_b = reinterpret_cast<u32x8>((m & 8u) != 0u);
    return (from_a & ~take_b) | (from_b & take_b);
}
[[gnu::target("avx512f")]] inline u32x16 shuffle2(u32x16 a, u32x16 b, u32x16 m) {
    return reinterpret_cast<u32x16>(_mm512_permutex2var_epi32(
        reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(m), reinterpret_cast<__m512i>(b)));
}
#define MIVO_SHUFFLE2(a, b, m) shuffle2(a, b, m)
#else
[[gnu::target("avx2")]] inline u8x32 shuffle_bytes(u8x32 v, u8x32 m) { return __builtin_shuffle(v, m); }
#define MIVO_SHUFFLE2(a, b, m) __builtin_shuffle(a, b, m)
#endif

[[gnu::target("avx2")]] inline u32x8 rot_bytes(u32x8 v, const std::array<std::uint8_t, 32>& perm) {
    u8x32 m;
    std::memcpy(&m, perm.data(), sizeof m);
    return reinterpret_cast<u32x8>(shuffle_bytes(reinterpret_cast<u8x32>(v), m));
}

[[gnu::target("avx2")]] void eight_blocks_avx2(const ChaChaKey& key, std::uint64_t counter, std::uint32_t* out) {
#define MIVO_ROT16(v) rot_bytes(v, kRot16Bytes)
#define MIVO_ROT8(v) rot_bytes(v, kRot8Bytes)
#define MIVO_ROT12(v) (((v) << 12) | ((v) >> 20))
#define MIVO_ROT7(v) (((v) << 7) | ((v) >> 25))
    MIVO_WIDE_BODY(u32x8, 8, kMasks8)
#undef MIVO_ROT16
#undef MIVO_ROT8
#undef MIVO_ROT12
#undef MIVO_ROT7
}

[[gnu::target("avx512f")]] void sixteen_blocks_avx512(const ChaChaKey& key, std::uint64_t counter, std::uint32_t* out){
// Plain rotations: the compiler turns them into single rotate instructions.
#define MIVO_ROT16(v) (((v) << 16) | ((v) >> 16))
#define MIVO_ROT8(v) (((v) << 8) | ((v) >> 24))
#define MIVO_ROT12(v) (((v) << 12) | ((v) >> 20))
#define MIVO_ROT7(v) (((v) << 7) | ((v) >> 25))
    MIVO_WIDE_BODY(u32x16, 16, kMasks16)
#undef MIVO_ROT16
#undef MIVO_ROT8
#undef MIVO_ROT12
#undef MIVO_ROT7
}

#undef MIVO_WIDE_BODY
#undef MIVO_WIDE_QR
#undef MIVO_SHUFFLE2

ChaChaKernel detect_best() {
    __builtin_cpu_init();
    // The 16-lane path finishes short refills with the 8-lane kernel.
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2")) return ChaChaKernel::Lanes16;
    if (__builtin_cpu_supports("avx2")) return ChaChaKernel::Lanes8;
    return ChaChaKernel::Lanes4;
}

#else

ChaChaKernel detect_best() { return ChaChaKernel::Lanes4; }

#endif  // MIVO_CHACHA_X86_WIDE

}  // namespace

ChaChaKernel chacha20_best_kernel() {
    static const ChaChaKernel best = detect_best();
    return best;
}

bool chacha20_kernel_available(ChaChaKernel kernel) {
    return static_cast<int>(kernel) <= static_cast<int>(chacha20_best_kernel());
}

void chacha20_blocks_with(ChaChaKernel kernel, const ChaChaKey& key, std::uint64_t counter, std::size_t nblocks,
                          std::uint32_t* out) {
#if MIVO_CHACHA_X86_WIDE
    if (kernel >= ChaChaKernel::Lanes16) {
        for (; nblocks >= 16; nblocks -= 16, counter += 16, out += 16 * 16) sixteen_blocks_avx512(key, counter, out);
    }
    if (kernel >= ChaChaKernel::Lanes8) {
        for (; nblocks >= 8; nblocks -= 8, counter += 8, out += 8 * 16) eight_blocks_avx2(key, counter, out);
    }
#endif
    for (; nblocks >= 4; nblocks -= 4, counter += 4, out += 4 * 16) {
        if (kernel == ChaChaKernel::Portable)
            chacha20_four_blocks_portable(key, counter, out);
        else
            chacha20_four_blocks(key, counter, out);
    }
}

void chacha20_blocks(const ChaChaKey& key, std::uint64_t counter, std::size_t nblocks, std::uint32_t* out) {
    chacha20_blocks_with(chacha20_best_kernel(), key, counter, nblocks, out);
}

}  // namespace mivo::embeddings
