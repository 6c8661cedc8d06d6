#include "embeddings/encoding.hpp"

#include <array>

namespace mivo::embeddings {
namespace {

constexpr std::string_view kAlphabet = Base32HexLowerNoPad::kAlphabet;
constexpr std::uint8_t kBad = 0xFF;  // any value with bits above the low 5 set is refused

// Character -> symbol value, kBad outside the alphabet.
constexpr std::array<std::uint8_t, 256> make_values() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = kBad;
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    return t;
}

// 10-bit group -> its two characters, first character in the low byte so a
// little-endian store writes them in order.
constexpr std::array<std::uint16_t, 1024> make_pairs() {
    std::array<std::uint16_t, 1024> t{};
    for (std::size_t v = 0; v < 1024; ++v) {
        const auto hi = static_cast<std::uint16_t>(static_cast<unsigned char>(kAlphabet[v >> 5]));
        const auto lo = static_cast<std::uint16_t>(static_cast<unsigned char>(kAlphabet[v & 31]));
        t[v] = static_cast<std::uint16_t>(hi | (lo << 8));
    }
    return t;
}

constexpr std::array<std::uint8_t, 256> kValues = make_values();
constexpr std::array<std::uint16_t, 1024> kPairs = make_pairs();

// Bytes produced by a trailing group of r characters (r = 0, 2, 4, 5, 7); -1
// for the lengths no byte string encodes to.
constexpr int kTailBytes[8] = {0, -1, 1, -1, 2, 3, -1, 4};

inline void store_pair(char* out, std::uint64_t group10) {
    const std::uint16_t p = kPairs[group10 & 1023];
    out[0] = static_cast<char>(p & 0xFF);
    out[1] = static_cast<char>(p >> 8);
}

}  // namespace

std::string Base32HexLowerNoPad::encode(std::span<const std::uint8_t> bytes) const {
    const std::size_t n = bytes.size();
    std::string out(encoded_len(n), '\0');
    const std::uint8_t* in = bytes.data();
    char* dst = out.data();

    // Whole groups: 5 bytes (40 bits) give 8 characters, as 4 table pairs.
    std::size_t i = 0;
    for (; i + 5 <= n; i += 5, dst += 8) {
        const std::uint64_t g = (std::uint64_t{in[i]} << 32) | (std::uint64_t{in[i + 1]} << 24) |
                                (std::uint64_t{in[i + 2]} << 16) | (std::uint64_t{in[i + 3]} << 8) |
                                std::uint64_t{in[i + 4]};
        store_pair(dst, g >> 30);
        store_pair(dst + 2, g >> 20);
        store_pair(dst + 4, g >> 10);
        store_pair(dst + 6, g);
    }

    // Last partial group: the bytes left, completed with zero bits.
    const std::size_t rest = n - i;
    if (rest > 0) {
        std::uint64_t g = 0;
        for (std::size_t k = 0; k < rest; ++k) g |= std::uint64_t{in[i + k]} << (32 - 8 * k);
        const std::size_t chars = encoded_len(rest);
        for (std::size_t k = 0; k < chars; ++k) dst[k] = kAlphabet[(g >> (35 - 5 * k)) & 31];
    }
    return out;
}

Result<void> Base32HexLowerNoPad::check(std::string_view text) const {
    // Every byte of a non-ASCII character is outside the alphabet, so a byte
    // test is the character test.
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::uint8_t bad = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        bad |= kValues[p[i]] | kValues[p[i + 1]] | kValues[p[i + 2]] | kValues[p[i + 3]] | kValues[p[i + 4]] |
               kValues[p[i + 5]] | kValues[p[i + 6]] | kValues[p[i + 7]];
    }
    for (; i < n; ++i) bad |= kValues[p[i]];
    if (bad & 0xE0) return fail(MivoError::invalid_encoding());
    return {};
}

Result<std::vector<std::uint8_t>> Base32HexLowerNoPad::decode(std::string_view text) const {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const int tail_bytes = kTailBytes[n % 8];
    if (tail_bytes < 0) return fail(MivoError::invalid_encoding());

    const std::size_t whole = n / 8;
    std::vector<std::uint8_t> out(whole * 5 + static_cast<std::size_t>(tail_bytes));
    std::uint8_t* dst = out.data();

    // Whole groups: 8 characters give 5 bytes. Invalid characters are
    // collected in `bad` and judged once at the end.
    std::uint8_t bad = 0;
    for (std::size_t g = 0; g < whole; ++g, p += 8, dst += 5) {
        const std::uint8_t v0 = kValues[p[0]], v1 = kValues[p[1]], v2 = kValues[p[2]], v3 = kValues[p[3]];
        const std::uint8_t v4 = kValues[p[4]], v5 = kValues[p[5]], v6 = kValues[p[6]], v7 = kValues[p[7]];
        bad |= v0 | v1 | v2 | v3 | v4 | v5 | v6 | v7;
        const std::uint64_t x = (std::uint64_t{v0} << 35) | (std::uint64_t{v1} << 30) | (std::uint64_t{v2} << 25) |
                                (std::uint64_t{v3} << 20) | (std::uint64_t{v4} << 15) | (std::uint64_t{v5} << 10) |
                                (std::uint64_t{v6} << 5) | std::uint64_t{v7};
        dst[0] = static_cast<std::uint8_t>(x >> 32);
        dst[1] = static_cast<std::uint8_t>(x >> 24);
        dst[2] = static_cast<std::uint8_t>(x >> 16);
        dst[3] = static_cast<std::uint8_t>(x >> 8);
        dst[4] = static_cast<std::uint8_t>(x);
    }

    // Trailing partial group: its leftover low bits must be zero.
    const std::size_t rest = n % 8;
    if (rest > 0) {
        std::uint64_t x = 0;
        for (std::size_t k = 0; k < rest; ++k) {
            const std::uint8_t v = kValues[p[k]];
            bad |= v;
            x = (x << 5) | (v & 31);
        }
        const std::size_t bits = rest * 5;
        const std::size_t leftover = bits - static_cast<std::size_t>(tail_bytes) * 8;
        if (x & ((std::uint64_t{1} << leftover) - 1)) return fail(MivoError::invalid_encoding());
        x >>= leftover;
        for (int k = tail_bytes - 1; k >= 0; --k) {
            dst[k] = static_cast<std::uint8_t>(x);
            x >>= 8;
        }
    }
    if (bad & 0xE0) return fail(MivoError::invalid_encoding());
    return out;
}

}  // namespace mivo::embeddings
