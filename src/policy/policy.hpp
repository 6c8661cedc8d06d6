// The embedding policy behind the module functions: which record and seed
// each encode function uses, how a retention fraction or a character limit
// becomes a record, and how two Mini128 identifiers are compared. Plain values
// in and out; the bindings only convert arguments and results.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "embeddings/byte_order.hpp"
#include "embeddings/error.hpp"
#include "embeddings/types.hpp"

namespace mivo::policy {

namespace emb = mivo::embeddings;

// Seeds: eight ASCII letters read as a big-endian integer.
constexpr std::uint64_t seed_word(const char (&w)[9]) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | static_cast<unsigned char>(w[i]);
    return v;
}
inline constexpr std::uint64_t kSeedSimHash = seed_word("MIVOSIMH");
inline constexpr std::uint64_t kSeedLossless = seed_word("MIVOFULL");
inline constexpr std::uint64_t kSeedCompressed = seed_word("MIVOCOMP");
inline constexpr std::uint64_t kSeedMaxLength = seed_word("MIVOMAXL");
inline constexpr std::uint64_t kSeedCrossDims = seed_word("MIVOXDII");

// The record of each Profile variant (0 Mini128, 1 Morton10x10, 2
// Hilbert10x10; other numbers give Hilbert10x10's).
emb::EncodingProfile profile_record(std::uint8_t variant);

// Every value at 32 bits, no projection.
emb::EncodingProfile lossless();
// Mini128 with the SimHash seed.
emb::EncodingProfile mini128();
// Half16 values projected into a common space of `common` dimensions.
emb::EncodingProfile cross_dimensional(std::uint16_t common);

// A retention fraction (clamped to 0.01 .. 1) to a record: keep 32-bit
// values and drop dimensions down to a quarter, then halve the precision,
// then quarter it. d is the embedding length read as a 16-bit value.
emb::EncodingProfile compression_ladder(std::uint16_t d, double retention_pct);

// A character limit to a record: 20 characters are kept for the header, 5
// bits per remaining character are spread over the values.
emb::EncodingProfile length_budget(std::uint16_t d, std::uint64_t max_chars);

// LSH bands: a band count is 1, 2, 4, 8 or 16; band i is the base32hex
// text of bytes i * 16/n .. (i + 1) * 16/n of the hash's big-endian form.
constexpr bool valid_band_count(std::uint8_t n) { return n != 0 && 16 % n == 0; }
std::vector<std::string> band_texts(emb::u128 hash, std::uint8_t n);

// The checks a Mini128 identifier passes before its payload is compared, in
// the order they run: characters, base32hex decoding, a header (at least 2
// bytes, not a full-vector record), the Mini128 profile code, and the 18-byte
// length.
enum class Mini128Check : std::uint8_t { Characters, Decoding, Header, Profile, Length };

// The first check an identifier fails, with the error it reports.
struct Mini128Refusal {
    Mini128Check check;
    emb::MivoError error;
};

// The 16-byte SimHash payload of a Mini128 identifier (bytes 2 to 17 of its
// decoded form), or the first check it fails. The version bits and the
// reserved byte are not checked.
using Mini128Payload = std::array<std::uint8_t, 16>;
emb::expected<Mini128Payload, Mini128Refusal> mini128_payload(std::string_view text);

// Hamming distance of the SimHash payloads of two Mini128 identifiers. The
// checks run step by step over both texts (the characters of a, then of b,
// then the decoding of a, ...), so the error reported is the one of the
// earlier check, a's when both fail the same one.
emb::Result<std::uint32_t> mini128_distance(std::string_view a, std::string_view b);

}  // namespace mivo::policy
