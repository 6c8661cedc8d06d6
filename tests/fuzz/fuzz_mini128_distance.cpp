// The comparison of two Mini128 identifiers on any pair of texts, against a
// plain model: a bit-by-bit base32hex reader, the checks in their order over
// both texts (characters, decoding, header, profile code, length), and the
// popcount of the payloads' exclusive or. Distances are symmetric.
//
// Input: byte 0 bit 0 set renders the pieces as base32hex first (so that
// most reach the header checks); the rest is cut at 0xFF bytes into the two
// texts.
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "embeddings/base32hex.hpp"
#include "fuzz_util.hpp"
#include "policy/policy.hpp"

namespace {

namespace e = mivo::embeddings;
using e::MivoError;

constexpr const char* kHex = "0123456789abcdef";

// 0-31 for a base32hex character, none otherwise.
std::optional<unsigned> digit(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'v') return static_cast<unsigned>(c - 'a' + 10);
    return std::nullopt;
}

// Five bits per character into bytes; the bits left over must be fewer
// than five (a whole character) and all zero.
std::optional<std::vector<std::uint8_t>> read_bits(const std::string& text) {
    std::vector<std::uint8_t> out;
    unsigned acc = 0, bits = 0;
    for (const char c : text) {
        acc = acc << 5 | *digit(c);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    if (bits >= 5 || acc != 0) return std::nullopt;
    return out;
}

e::Result<std::uint32_t> model(const std::string (&text)[2]) {
    for (const auto& t : text)
        for (const char c : t)
            if (!digit(c)) return e::fail(MivoError::invalid_encoding());
    std::vector<std::uint8_t> id[2];
    for (int i = 0; i < 2; ++i) {
        auto bytes = read_bits(text[i]);
        if (!bytes) return e::fail(MivoError::invalid_encoding());
        id[i] = *bytes;
    }
    for (const auto& b : id)
        if (b.size() < 2 || (b[0] & 0x0F) == 4) return e::fail(MivoError::invalid_header());
    for (const auto& b : id) {
        const unsigned code = b[0] & 0x0F;
        if (code != 1) return e::fail(MivoError::profile_mismatch("Mini128", "Type 0x" + std::string(1, kHex[code])));
    }
    for (const auto& b : id)
        if (b.size() != 18) return e::fail(MivoError::invalid_encoding());
    std::uint32_t d = 0;
    for (std::size_t k = 2; k < 18; ++k) d += static_cast<std::uint32_t>(std::popcount(unsigned(id[0][k] ^ id[1][k])));
    return d;
}

std::string shown(const e::Result<std::uint32_t>& r) {
    return r ? std::to_string(*r) : "error: " + r.error().display();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using mivo::fuzz::disagree;
    if (size < 1) return 0;
    std::string text[2];
    std::size_t at = 1;
    for (auto& t : text) {
        std::vector<std::uint8_t> piece;
        for (; at < size && data[at] != 0xFF; ++at) piece.push_back(data[at]);
        ++at;
        t = (data[0] & 1) ? e::encode_text(piece) : std::string(piece.begin(), piece.end());
    }
    const auto got = mivo::policy::mini128_distance(text[0], text[1]);
    const auto want = model(text);
    if (shown(got) != shown(want) || (!got && got.error() != want.error()))
        disagree(("mini128_distance: " + shown(got) + "\nmodel: " + shown(want)).c_str(), text[0], text[1]);
    if (got) {
        const auto back = mivo::policy::mini128_distance(text[1], text[0]);
        if (!back || *back != *got || *got > 128) disagree("distance not symmetric or above 128", text[0], text[1]);
    }
    return 0;
}
