// Seeded random streams: every random choice of the identifier core comes
// from here. A few bytes of key material (the seed plus small integers naming
// a hyperplane or a matrix row) are hashed with BLAKE3; the 32-byte digest
// keys a ChaCha20 keystream (64-bit block counter, 64-bit zero nonce); the
// keystream is read as little-endian u64 draws and turned into standard
// normal deviates by a 256-layer ziggurat. Every step is fixed down to word
// order and rounding so that the same key gives the same deviates on every
// machine.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace mivo::embeddings {

// ---------------------------------------------------------------------------
// ChaCha20 core

using ChaChaState = std::array<std::uint32_t, 16>;
using ChaChaKey = std::array<std::uint32_t, 8>;

inline constexpr std::uint32_t kChaChaConstants[4] = {0x61707865u, 0x3320646Eu, 0x79622D32u, 0x6B206574u};

// The block function on a full 16-word input state: 10 double rounds
// (column round, then diagonal round), then the input added word by word.
// Takes the raw state so that any counter/nonce layout can be fed to it.
ChaChaState chacha20_block(const ChaChaState& input);

// The smallest refill of a stream's buffer (single draws refill this much;
// batched draws up to 16 blocks at once), and its size in words.
inline constexpr std::size_t kChaChaBlocksPerRefill = 4;
inline constexpr std::size_t kChaChaBufferWords = 16 * kChaChaBlocksPerRefill;

// Four consecutive keystream blocks for block counters counter .. counter+3
// (words 12-13, low word first; nonce words 14-15 zero), written as 64 words,
// block after block. Uses vector instructions where the compiler offers them.
void chacha20_four_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint32_t* out64);

// The same four blocks computed one at a time with plain integer code; the
// vector path must agree with it word for word.
void chacha20_four_blocks_portable(const ChaChaKey& key, std::uint64_t counter, std::uint32_t* out64);

// Keystream kernels by width: the portable one-block code, and 4, 8 or 16
// blocks side by side in vector registers (8 and 16 only where the processor
// has AVX2 or AVX-512F; chosen at run time). All give the same words.
enum class ChaChaKernel : std::uint8_t { Portable, Lanes4, Lanes8, Lanes16 };

// The widest kernel this processor runs (found once, then only read).
ChaChaKernel chacha20_best_kernel();
bool chacha20_kernel_available(ChaChaKernel kernel);

// Blocks counter .. counter + nblocks - 1 (nblocks a multiple of 4), block
// after block, 16 words each. The kernel must be available.
void chacha20_blocks_with(ChaChaKernel kernel, const ChaChaKey& key, std::uint64_t counter, std::size_t nblocks,
                          std::uint32_t* out);
// The same with the widest available kernel.
void chacha20_blocks(const ChaChaKey& key, std::uint64_t counter, std::size_t nblocks, std::uint32_t* out);

// ---------------------------------------------------------------------------
// Uniform conversions of a 64-bit draw b, built from bit patterns (all exact).

// (b >> 12) * 2^-51 - 1 in [-1, 1): the f64 in [2, 4) with mantissa b >> 12, minus 3.
constexpr double symmetric_uniform(std::uint64_t b) {
    return std::bit_cast<double>(0x4000000000000000ull | (b >> 12)) - 3.0;
}

// (b >> 11) * 2^-53 in [0, 1).
constexpr double closed_open_uniform(std::uint64_t b) { return static_cast<double>(b >> 11) * 0x1p-53; }

// ((b >> 12) + 0.5) * 2^-52 in (0, 1): the f64 in [1, 2) with mantissa
// b >> 12, minus (1 - 2^-53).
constexpr double open_uniform(std::uint64_t b) {
    return std::bit_cast<double>(0x3FF0000000000000ull | (b >> 12)) - (1.0 - 0x1p-53);
}

// ---------------------------------------------------------------------------
// Ziggurat tables (257 rows each, built once from committed bit patterns).

namespace ziggurat {
inline constexpr int kLayers = 256;
inline constexpr double kR = 3.654152885361009;  // start of the tail, == X[1]
inline constexpr double kV = 0.00492867323399;   // area of each layer
// X[i]: layer abscissae, strictly decreasing, X[256] = 0.
const std::array<double, kLayers + 1>& x_table();
// F[i]: density exp(-X[i]^2 / 2) at each abscissa, F[256] = 1.
const std::array<double, kLayers + 1>& f_table();
}  // namespace ziggurat

// ---------------------------------------------------------------------------
// Key material (all integers little-endian).

using HyperplaneKeyMaterial = std::array<std::uint8_t, 9>;
using ProjectionRowKeyMaterial = std::array<std::uint8_t, 14>;

// seed (u64), h (u8).
HyperplaneKeyMaterial hyperplane_key_material(std::uint64_t seed, std::uint8_t h);
// seed (u64), source dims d (u16), target dims t (u16), row r (u16).
ProjectionRowKeyMaterial projection_row_key_material(std::uint64_t seed, std::uint16_t d, std::uint16_t t,
                                                     std::uint16_t r);

// The plain 32-byte BLAKE3 digest of bytes.
std::array<std::uint8_t, 32> blake3_digest(std::span<const std::uint8_t> bytes);

// ---------------------------------------------------------------------------

// One generator, created for one hyperplane or one projection row, drawn
// from and dropped. Never shared or reseeded.
class SeededStream {
public:
    // Key = BLAKE3(key_material).
    explicit SeededStream(std::span<const std::uint8_t> key_material);

    // Keyed directly by a 32-byte ChaCha20 key (no hashing).
    static SeededStream from_key(const std::array<std::uint8_t, 32>& key);

    // Stream of SimHash hyperplane h for seed.
    static SeededStream for_hyperplane(std::uint64_t seed, std::uint8_t h);

    // Stream of row r of the d -> t projection matrix for seed.
    static SeededStream for_projection_row(std::uint64_t seed, std::uint16_t d, std::uint16_t t, std::uint16_t r);

    // The next 64 keystream bits: the k-th call returns the little-endian u64
    // at keystream bytes 8k .. 8k+7.
    std::uint64_t next_u64() {
        if (pos_ == end_) refill(kChaChaBlocksPerRefill);
        const std::uint64_t v =
            static_cast<std::uint64_t>(buf_[pos_]) | (static_cast<std::uint64_t>(buf_[pos_ + 1]) << 32);
        pos_ += 2;
        return v;
    }

    // One standard normal deviate (ziggurat; the fast path uses one draw and
    // no transcendental function).
    double standard_normal();

    // out[j] = standard_normal() rounded to f32, for j in order.
    void fill_standard_normal_f32(std::span<float> out);

    // out[j] = (standard_normal() rounded to f32) * scale, the product rounded
    // to f32, for j in order.
    void fill_scaled_normal_f32(std::span<float> out, float scale);

    // Sequential f32 dot product with the next a.size() deviates: acc = start,
    // then for j in order acc = acc + a[j] * g_j, g_j = standard_normal()
    // rounded to f32; each product and each sum rounded to f32.
    float dot_standard_normal_f32(std::span<const float> a, float start);

    // The same with g_j = (standard_normal() rounded to f32) * scale, that
    // product rounded to f32 before it is used.
    float dot_scaled_normal_f32(std::span<const float> a, float scale, float start);

private:
    // Largest refill: 16 blocks, the widest keystream kernel's output.
    static constexpr std::size_t kMaxRefillBlocks = 16;

    SeededStream() = default;
    void set_key(const std::uint8_t* key32);
    // Replaces the (used up) buffer with the next `blocks` keystream blocks
    // (4, 8 or 16). Larger refills only change how much is made at once.
    void refill(std::size_t blocks);
    // Calls sink(j, deviate) for j = 0 .. n-1 in order.
    template <class Sink>
    void draw_normals(std::size_t n, Sink&& sink);

    ChaChaKey key_{};
    std::uint64_t counter_ = 0;
    std::size_t pos_ = 0;  // next word to read
    std::size_t end_ = 0;  // words in the buffer; pos_ == end_: empty
    alignas(64) std::uint32_t buf_[16 * kMaxRefillBlocks];
};

}  // namespace mivo::embeddings
