// Big-endian numbers inside identifiers: header counts, f32 and binary16
// patterns, min and max, hashes and curve codes are written most significant
// byte first.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace mivo::embeddings {

using u128 = unsigned __int128;

inline std::uint16_t load_be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

inline std::uint32_t load_be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

inline void store_be16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

inline void store_be32(std::uint8_t* p, std::uint32_t v) {
    store_be16(p, static_cast<std::uint16_t>(v >> 16));
    store_be16(p + 2, static_cast<std::uint16_t>(v));
}

// The four bytes of v in reverse order: std::byteswap where the library has
// it, else the compiler's builtin (GCC 11's library has no std::byteswap).
inline std::uint32_t byteswap32(std::uint32_t v) {
#if defined(__cpp_lib_byteswap) && __cpp_lib_byteswap >= 202110L
    return std::byteswap(v);
#else
    return __builtin_bswap32(v);
#endif
}

// The 16 bytes of a 128-bit value (byte 0 holds bits 127..120).
inline std::array<std::uint8_t, 16> to_be_bytes(u128 value) {
    std::array<std::uint8_t, 16> out{};
    for (int i = 15; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
    return out;
}

}  // namespace mivo::embeddings
