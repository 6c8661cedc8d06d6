#include "embeddings/base32hex.hpp"

#include <array>
#include <bit>
#include <cstring>

namespace mivo::embeddings {
namespace {

constexpr std::string_view kAlphabet = Base32HexLowerNoPad::kAlphabet;
constexpr std::uint8_t kBad = 0xFF;  // any value with bits above the low 5 set is refused

// Character -> symbol value, kBad outside the alphabet.
constexpr std::array<std::uint8_t, 256> make_values() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = kBad;
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return t;
}

// 10-bit group -> its two characters, first character in the low byte so a
// little-endian store writes them in order.
constexpr std::array<std::uint16_t, 1024> make_pairs() {
    std::array<std::uint16_t, 1024> t{};
    for (std::size_t v = 0; v < 1024; ++v) {
        const auto first = static_cast<std::uint16_t>(static_cast<unsigned char>(kAlphabet[v >> 5]));
        const auto second = static_cast<std::uint16_t>(static_cast<unsigned char>(kAlphabet[v & 31]));
        t[v] = static_cast<std::uint16_t>(first | (second << 8));
    }
    return t;
}

// Two characters (first in the low byte) -> their 10-bit value, kBadPair when
// either is outside the alphabet. 65,536 entries are more than a compiler will
// evaluate as a constant expression, so the table is filled at first use
// (thread-safe static initialisation) and read-only afterwards.
constexpr std::uint16_t kBadPair = 0x8000;
constexpr std::array<std::uint8_t, 256> kValues = make_values();
constexpr std::array<std::uint16_t, 1024> kPairs = make_pairs();

struct PairValues {
    std::uint16_t t[65536];
    PairValues() {
        for (std::size_t i = 0; i < 65536; ++i) {
            const std::uint8_t a = kValues[i & 0xFF], b = kValues[i >> 8];
            t[i] = (a | b) & 0xE0 ? kBadPair : static_cast<std::uint16_t>((a << 5) | b);
        }
    }
};

const std::uint16_t* pair_values() {
    static const PairValues table;
    return table.t;
}

// Bytes produced by a trailing group of r characters (r = 0, 2, 4, 5, 7); -1
// for the lengths no byte string encodes to.
constexpr int kTailBytes[8] = {0, -1, 1, -1, 2, 3, -1, 4};

inline std::uint64_t pair_at(std::uint64_t group10) { return kPairs[group10 & 1023]; }

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
        // Characters in memory order in a little-endian word, one 8-byte store.
        const std::uint64_t chars =
            pair_at(g >> 30) | (pair_at(g >> 20) << 16) | (pair_at(g >> 10) << 32) | (pair_at(g) << 48);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(dst, &chars, 8);
        } else {
            for (int k = 0; k < 8; ++k) dst[k] = static_cast<char>(chars >> (8 * k));
        }
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
    // test is the character test. Branch-free range tests, so the loop runs
    // many bytes per step.
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    unsigned bad = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        const bool digit = static_cast<unsigned char>(c - '0') < 10;
        const bool letter = static_cast<unsigned char>(c - 'a') < 22;
        bad |= static_cast<unsigned>(!(digit | letter));
    }
    if (bad) return fail(MivoError::invalid_encoding());
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

    // Whole groups: 8 characters give 5 bytes, from four 2-character lookups.
    // Invalid characters are collected in `bad` and judged once at the end.
    const std::uint16_t* const pair_value = pair_values();
    std::uint8_t bad = 0;
    std::uint16_t bad_pairs = 0;
    for (std::size_t g = 0; g < whole; ++g, p += 8, dst += 5) {
        const std::uint16_t a = pair_value[p[0] | (p[1] << 8)], b = pair_value[p[2] | (p[3] << 8)];
        const std::uint16_t c = pair_value[p[4] | (p[5] << 8)], d = pair_value[p[6] | (p[7] << 8)];
        bad_pairs |= a | b | c | d;
        const std::uint64_t x =
            (std::uint64_t{a} << 30) | (std::uint64_t{b} << 20) | (std::uint64_t{c} << 10) | std::uint64_t{d};
        dst[0] = static_cast<std::uint8_t>(x >> 32);
        dst[1] = static_cast<std::uint8_t>(x >> 24);
        dst[2] = static_cast<std::uint8_t>(x >> 16);
        dst[3] = static_cast<std::uint8_t>(x >> 8);
        dst[4] = static_cast<std::uint8_t>(x);
    }
    if (bad_pairs & kBadPair) return fail(MivoError::invalid_encoding());

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
