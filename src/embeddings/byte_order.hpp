// Big-endian numbers inside identifiers: header counts, f32 and binary16
// patterns, min and max are written most significant byte first.
#pragma once

#include <cstdint>

namespace mivo::embeddings {

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

}  // namespace mivo::embeddings
