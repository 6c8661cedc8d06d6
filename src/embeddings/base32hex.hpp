// The text form of identifiers: lowercase base32hex ("0123456789abcdefghij
// klmnopqrstuv"), most significant bit first, 5 bits per character, no
// padding, no separators. Decoding is strict: bad characters, a length of 1, 3
// or 6 modulo 8 and non-zero leftover bits in the last character are refused.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "embeddings/error.hpp"

namespace mivo::embeddings {

// The shared, read-only encoding object. Its lookup tables are constants (the
// largest filled once, on first use, under the thread-safe static
// initialisation of C++), so any number of threads may use it at once.
class Base32HexLowerNoPad {
public:
    static constexpr std::string_view kAlphabet = "0123456789abcdefghijklmnopqrstuv";

    // ceil(8 * n / 5) characters for n bytes. Never fails.
    std::string encode(std::span<const std::uint8_t> bytes) const;
    // Every character must be 0-9 or a-v; the empty text passes.
    Result<void> check(std::string_view text) const;
    // The inverse of encode, strict. Every failure is InvalidEncoding.
    Result<std::vector<std::uint8_t>> decode(std::string_view text) const;

    // Output sizes.
    static constexpr std::size_t encoded_len(std::size_t nbytes) { return (nbytes * 8 + 4) / 5; }
};

inline constexpr Base32HexLowerNoPad BASE32HEX_LOWER_NOPAD{};

inline std::string encode_text(std::span<const std::uint8_t> bytes) { return BASE32HEX_LOWER_NOPAD.encode(bytes); }
inline Result<void> check_text(std::string_view text) { return BASE32HEX_LOWER_NOPAD.check(text); }
inline Result<std::vector<std::uint8_t>> decode_text(std::string_view text) {
    return BASE32HEX_LOWER_NOPAD.decode(text);
}

}  // namespace mivo::embeddings
