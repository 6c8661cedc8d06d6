#include "embeddings/seeded_stream.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "blake3.h"

// The vector path uses the compiler's generic vector types (SSE2 on x86-64,
// NEON on AArch64, plain code elsewhere). Define MIVO_CHACHA_PORTABLE_ONLY to
// build the one-block-at-a-time path only.
#if (defined(__GNUC__) || defined(__clang__)) && !defined(MIVO_CHACHA_PORTABLE_ONLY)
#define MIVO_CHACHA_VECTOR 1
#endif

namespace mivo::embeddings {

namespace {

// ---------------------------------------------------------------------------
// Tables

#include "embeddings/ziggurat_tables.inc"

using Table = std::array<double, ziggurat::kLayers + 1>;

constexpr Table table_from_bits(const std::uint64_t (&bits)[ziggurat::kLayers + 1]) {
    Table t{};
    for (int i = 0; i <= ziggurat::kLayers; ++i) t[i] = std::bit_cast<double>(bits[i]);
    return t;
}

constexpr Table kX = table_from_bits(kZigguratXBits);
constexpr Table kF = table_from_bits(kZigguratFBits);

static_assert(kX[1] == ziggurat::kR);
static_assert(kX[ziggurat::kLayers] == 0.0);
static_assert(kF[ziggurat::kLayers] == 1.0);

// ---------------------------------------------------------------------------
// ChaCha20

constexpr std::uint32_t rotl32(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

// clang-format off: one quarter round, four steps to a line
constexpr void quarter_round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) {
    a += b; d ^= a; d = rotl32(d, 16);
    c += d; b ^= c; b = rotl32(b, 12);
    a += b; d ^= a; d = rotl32(d, 8);
    c += d; b ^= c; b = rotl32(b, 7);
}
// clang-format on

ChaChaState stream_state(const ChaChaKey& key, std::uint64_t counter) {
    ChaChaState s{};
    for (int i = 0; i < 4; ++i) s[i] = kChaChaConstants[i];
    for (int i = 0; i < 8; ++i) s[4 + i] = key[i];
    s[12] = static_cast<std::uint32_t>(counter);
    s[13] = static_cast<std::uint32_t>(counter >> 32);
    s[14] = 0;
    s[15] = 0;
    return s;
}

#if MIVO_CHACHA_VECTOR
// Four blocks side by side: lane k of every vector belongs to block k.
typedef std::uint32_t u32x4 __attribute__((vector_size(16)));

typedef std::uint16_t u16x8 __attribute__((vector_size(16)));

template <int N>
inline u32x4 rotl(u32x4 v) {
    if constexpr (N == 16) {
        // Swap the 16-bit halves of each word: two word shuffles instead of
        // two shifts and an or.
        const u16x8 h = reinterpret_cast<u16x8>(v);
#if defined(__clang__)
        return reinterpret_cast<u32x4>(__builtin_shufflevector(h, h, 1, 0, 3, 2, 5, 4, 7, 6));
#else
        return reinterpret_cast<u32x4>(__builtin_shuffle(h, u16x8{1, 0, 3, 2, 5, 4, 7, 6}));
#endif
    } else {
        return (v << N) | (v >> (32 - N));
    }
}

// clang-format off: one quarter round, four steps to a line
#define MIVO_VQR(a, b, c, d)  \
    a += b; d ^= a; d = rotl<16>(d); \
    c += d; b ^= c; b = rotl<12>(b); \
    a += b; d ^= a; d = rotl<8>(d);  \
    c += d; b ^= c; b = rotl<7>(b)
// clang-format on

inline u32x4 splat(std::uint32_t v) { return u32x4{v, v, v, v}; }

#if defined(__clang__)
#define MIVO_SHUF(a, b, i0, i1, i2, i3) __builtin_shufflevector(a, b, i0, i1, i2, i3)
#else
#define MIVO_SHUF(a, b, i0, i1, i2, i3) __builtin_shuffle(a, b, u32x4{i0, i1, i2, i3})
#endif

// Writes words w .. w+3 of each of the four blocks (a, b, c, d hold word w,
// w+1, w+2, w+3 across the blocks): a 4x4 transpose.
inline void store_transposed(std::uint32_t* out, int w, u32x4 a, u32x4 b, u32x4 c, u32x4 d) {
    const u32x4 t0 = MIVO_SHUF(a, b, 0, 4, 1, 5);  // a0 b0 a1 b1
    const u32x4 t1 = MIVO_SHUF(c, d, 0, 4, 1, 5);  // c0 d0 c1 d1
    const u32x4 t2 = MIVO_SHUF(a, b, 2, 6, 3, 7);  // a2 b2 a3 b3
    const u32x4 t3 = MIVO_SHUF(c, d, 2, 6, 3, 7);  // c2 d2 c3 d3
    const u32x4 r0 = MIVO_SHUF(t0, t1, 0, 1, 4, 5);
    const u32x4 r1 = MIVO_SHUF(t0, t1, 2, 3, 6, 7);
    const u32x4 r2 = MIVO_SHUF(t2, t3, 0, 1, 4, 5);
    const u32x4 r3 = MIVO_SHUF(t2, t3, 2, 3, 6, 7);
    std::memcpy(out + 0 * 16 + w, &r0, 16);
    std::memcpy(out + 1 * 16 + w, &r1, 16);
    std::memcpy(out + 2 * 16 + w, &r2, 16);
    std::memcpy(out + 3 * 16 + w, &r3, 16);
}

void four_blocks_vector(const ChaChaKey& key, std::uint64_t counter, std::uint32_t* out) {
    const u32x4 i0 = splat(kChaChaConstants[0]), i1 = splat(kChaChaConstants[1]);
    const u32x4 i2 = splat(kChaChaConstants[2]), i3 = splat(kChaChaConstants[3]);
    const u32x4 i4 = splat(key[0]), i5 = splat(key[1]), i6 = splat(key[2]), i7 = splat(key[3]);
    const u32x4 i8 = splat(key[4]), i9 = splat(key[5]), i10 = splat(key[6]), i11 = splat(key[7]);
    std::uint64_t c[4];
    for (int k = 0; k < 4; ++k) c[k] = counter + static_cast<std::uint64_t>(k);
    const u32x4 i12 = {static_cast<std::uint32_t>(c[0]), static_cast<std::uint32_t>(c[1]),
                       static_cast<std::uint32_t>(c[2]), static_cast<std::uint32_t>(c[3])};
    const u32x4 i13 = {static_cast<std::uint32_t>(c[0] >> 32), static_cast<std::uint32_t>(c[1] >> 32),
                       static_cast<std::uint32_t>(c[2] >> 32), static_cast<std::uint32_t>(c[3] >> 32)};
    const u32x4 i14 = splat(0), i15 = splat(0);

    u32x4 x0 = i0, x1 = i1, x2 = i2, x3 = i3, x4 = i4, x5 = i5, x6 = i6, x7 = i7;
    u32x4 x8 = i8, x9 = i9, x10 = i10, x11 = i11, x12 = i12, x13 = i13, x14 = i14, x15 = i15;
    for (int round = 0; round < 10; ++round) {
        MIVO_VQR(x0, x4, x8, x12);
        MIVO_VQR(x1, x5, x9, x13);
        MIVO_VQR(x2, x6, x10, x14);
        MIVO_VQR(x3, x7, x11, x15);
        MIVO_VQR(x0, x5, x10, x15);
        MIVO_VQR(x1, x6, x11, x12);
        MIVO_VQR(x2, x7, x8, x13);
        MIVO_VQR(x3, x4, x9, x14);
    }
    store_transposed(out, 0, x0 + i0, x1 + i1, x2 + i2, x3 + i3);
    store_transposed(out, 4, x4 + i4, x5 + i5, x6 + i6, x7 + i7);
    store_transposed(out, 8, x8 + i8, x9 + i9, x10 + i10, x11 + i11);
    store_transposed(out, 12, x12 + i12, x13 + i13, x14 + i14, x15 + i15);
}

#undef MIVO_SHUF
#undef MIVO_VQR
#endif  // MIVO_CHACHA_VECTOR

// ---------------------------------------------------------------------------
// Ziggurat

// Tail beyond R for the symmetric value u of the first draw.
[[gnu::noinline]] double normal_tail(SeededStream& s, double u) {
    double xt;
    double yt;
    do {
        const double a = open_uniform(s.next_u64());
        const double c = open_uniform(s.next_u64());
        xt = std::log(a) / ziggurat::kR;
        yt = std::log(c);
    } while (!(xt * xt <= yt * -2.0));
    return u < 0.0 ? xt - ziggurat::kR : ziggurat::kR - xt;
}

// Everything after a failed fast-path test for layer i: the tail, the wedge
// test, and fresh attempts until one is accepted.
[[gnu::noinline]] double normal_slow(SeededStream& s, unsigned i, double u, double x) {
    for (;;) {
        if (i == 0) return normal_tail(s, u);
        const double uu = closed_open_uniform(s.next_u64());
        const double diff = kF[i] - kF[i + 1];
        const double prod = diff * uu;
        const double lhs = kF[i + 1] + prod;
        const double rhs = std::exp((x * x) * -0.5);
        if (lhs < rhs) return x;

        const std::uint64_t b = s.next_u64();
        i = static_cast<unsigned>(b & 0xFF);
        u = symmetric_uniform(b);
        x = u * kX[i];
        if (std::fabs(x) < kX[i + 1]) return x;
    }
}

inline double draw_normal(SeededStream& s) {
    const std::uint64_t b = s.next_u64();
    const unsigned i = static_cast<unsigned>(b & 0xFF);
    const double u = symmetric_uniform(b);
    const double x = u * kX[i];
    if (std::fabs(x) < kX[i + 1]) [[likely]]
        return x;
    return normal_slow(s, i, u, x);
}

}  // namespace

// ---------------------------------------------------------------------------

ChaChaState chacha20_block(const ChaChaState& input) {
    ChaChaState x = input;
    for (int round = 0; round < 10; ++round) {
        quarter_round(x[0], x[4], x[8], x[12]);
        quarter_round(x[1], x[5], x[9], x[13]);
        quarter_round(x[2], x[6], x[10], x[14]);
        quarter_round(x[3], x[7], x[11], x[15]);
        quarter_round(x[0], x[5], x[10], x[15]);
        quarter_round(x[1], x[6], x[11], x[12]);
        quarter_round(x[2], x[7], x[8], x[13]);
        quarter_round(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < 16; ++i) x[i] += input[i];
    return x;
}

void chacha20_four_blocks_portable(const ChaChaKey& key, std::uint64_t counter, std::uint32_t* out64) {
    for (std::size_t k = 0; k < kChaChaBlocksPerRefill; ++k) {
        const ChaChaState block = chacha20_block(stream_state(key, counter + k));
        std::memcpy(out64 + 16 * k, block.data(), sizeof block);
    }
}

void chacha20_four_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint32_t* out64) {
#if MIVO_CHACHA_VECTOR
    four_blocks_vector(key, counter, out64);
#else
    chacha20_four_blocks_portable(key, counter, out64);
#endif
}

const std::array<double, ziggurat::kLayers + 1>& ziggurat::x_table() { return kX; }
const std::array<double, ziggurat::kLayers + 1>& ziggurat::f_table() { return kF; }

HyperplaneKeyMaterial hyperplane_key_material(std::uint64_t seed, std::uint8_t h) {
    HyperplaneKeyMaterial m{};
    for (int i = 0; i < 8; ++i) m[i] = static_cast<std::uint8_t>(seed >> (8 * i));
    m[8] = h;
    return m;
}

ProjectionRowKeyMaterial projection_row_key_material(std::uint64_t seed, std::uint16_t d, std::uint16_t t,
                                                     std::uint16_t r) {
    ProjectionRowKeyMaterial m{};
    for (int i = 0; i < 8; ++i) m[i] = static_cast<std::uint8_t>(seed >> (8 * i));
    m[8] = static_cast<std::uint8_t>(d);
    m[9] = static_cast<std::uint8_t>(d >> 8);
    m[10] = static_cast<std::uint8_t>(t);
    m[11] = static_cast<std::uint8_t>(t >> 8);
    m[12] = static_cast<std::uint8_t>(r);
    m[13] = static_cast<std::uint8_t>(r >> 8);
    return m;
}

std::array<std::uint8_t, 32> blake3_digest(std::span<const std::uint8_t> bytes) {
    blake3_hasher hasher;
    blake3_hasher_init(&hasher);
    blake3_hasher_update(&hasher, bytes.data(), bytes.size());
    std::array<std::uint8_t, 32> out{};
    blake3_hasher_finalize(&hasher, out.data(), out.size());
    return out;
}

// ---------------------------------------------------------------------------

SeededStream::SeededStream(std::span<const std::uint8_t> key_material) {
    const auto key = blake3_digest(key_material);
    set_key(key.data());
}

SeededStream SeededStream::from_key(const std::array<std::uint8_t, 32>& key) {
    SeededStream s;
    s.set_key(key.data());
    return s;
}

SeededStream SeededStream::for_hyperplane(std::uint64_t seed, std::uint8_t h) {
    return SeededStream(hyperplane_key_material(seed, h));
}

SeededStream SeededStream::for_projection_row(std::uint64_t seed, std::uint16_t d, std::uint16_t t, std::uint16_t r) {
    return SeededStream(projection_row_key_material(seed, d, t, r));
}

void SeededStream::set_key(const std::uint8_t* key32) {
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t* p = key32 + 4 * i;
        key_[i] = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                  (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }
    counter_ = 0;
    pos_ = 0;
    end_ = 0;
}

void SeededStream::refill(std::size_t blocks) {
    chacha20_blocks(key_, counter_, blocks, buf_);
    counter_ += blocks;
    pos_ = 0;
    end_ = 16 * blocks;
}

// The ziggurat over the buffered keystream: the fast path reads the buffer
// directly; a draw that leaves it resynchronises the position and takes the
// general path, which reads on through next_u64. Refills are sized to the
// draws still wanted (at least one per deviate), so little keystream is made
// that is never read.
template <class Sink>
void SeededStream::draw_normals(std::size_t n, Sink&& sink) {
    const double* X = kX.data();
    std::size_t j = 0;
    while (j < n) {
        if (pos_ == end_) {
            const std::size_t want = (n - j + 7) / 8;  // blocks for one draw per deviate
            refill(want >= 16 ? 16 : want > 4 ? 8 : 4);
        }
        const std::size_t count = std::min((end_ - pos_) / 2, n - j);
        const std::uint32_t* p = buf_ + pos_;
        std::size_t k = 0;
        for (; k < count; ++k) {
            const std::uint64_t b =
                static_cast<std::uint64_t>(p[2 * k]) | (static_cast<std::uint64_t>(p[2 * k + 1]) << 32);
            const unsigned i = static_cast<unsigned>(b & 0xFF);
            const double u = symmetric_uniform(b);
            const double x = u * X[i];
            if (std::fabs(x) < X[i + 1]) [[likely]] {
                sink(j + k, x);
                continue;
            }
            pos_ += 2 * (k + 1);
            sink(j + k, normal_slow(*this, i, u, x));
            break;
        }
        if (k == count) {
            pos_ += 2 * count;
            j += count;
        } else {
            j += k + 1;
        }
    }
}

double SeededStream::standard_normal() { return draw_normal(*this); }

void SeededStream::fill_standard_normal_f32(std::span<float> out) {
    float* o = out.data();
    draw_normals(out.size(), [o](std::size_t j, double x) { o[j] = static_cast<float>(x); });
}

void SeededStream::fill_scaled_normal_f32(std::span<float> out, float scale) {
    float* o = out.data();
    draw_normals(out.size(), [o, scale](std::size_t j, double x) {
        const float g = static_cast<float>(x);
        o[j] = g * scale;
    });
}

float SeededStream::dot_standard_normal_f32(std::span<const float> a, float start) {
    const float* v = a.data();
    float acc = start;
    draw_normals(a.size(), [v, &acc](std::size_t j, double x) {
        const float g = static_cast<float>(x);
        const float p = v[j] * g;
        acc = acc + p;
    });
    return acc;
}

float SeededStream::dot_scaled_normal_f32(std::span<const float> a, float scale, float start) {
    const float* v = a.data();
    float acc = start;
    draw_normals(a.size(), [v, scale, &acc](std::size_t j, double x) {
        const float g = static_cast<float>(x);
        const float e = g * scale;
        const float p = v[j] * e;
        acc = acc + p;
    });
    return acc;
}

}  // namespace mivo::embeddings
