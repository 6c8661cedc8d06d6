#include "embeddings/hilbert.hpp"

#include <string>

namespace mivo::embeddings {
namespace {

// The low n bits of t in reversed order (bit 0 becomes bit n - 1), n = 1..32.
inline std::uint32_t reverse_low_bits(std::uint32_t t, unsigned n) {
    t = ((t >> 1) & 0x55555555u) | ((t & 0x55555555u) << 1);
    t = ((t >> 2) & 0x33333333u) | ((t & 0x33333333u) << 2);
    t = ((t >> 4) & 0x0F0F0F0Fu) | ((t & 0x0F0F0F0Fu) << 4);
    t = byteswap32(t);
    return t >> (32 - n);
}

}  // namespace

Result<u128> hilbert_code(const QuantizedCoords& point) {
    const std::size_t n = point.coords.size();
    const std::size_t b = point.bits;
    if (auto fits = check_code_width("Hilbert", point); !fits) return fail(fits.error());
    // The state machine works on n-bit words of 32 bits.
    if (n > 32) return fail(MivoError::internal("Hilbert code supports at most 32 dims, got " + std::to_string(n)));
    if (n == 0) return u128{0};

    const unsigned nn = static_cast<unsigned>(n);
    const std::uint16_t* c = point.coords.data();
    const std::uint32_t mask = nn == 32 ? 0xFFFFFFFFu : (1u << nn) - 1u;
    u128 h = 0;
    std::uint32_t e = 0;  // entry
    std::uint32_t d = 0;  // direction

    for (std::size_t i = b; i-- > 0;) {
        // Gather bit i of every coordinate: coordinate j gives bit j of l.
        std::uint32_t l = 0;
        if (i < 16) {
            for (unsigned j = 0; j < nn; ++j) l |= static_cast<std::uint32_t>((c[j] >> i) & 1u) << j;
        }
        // Rotate left by the direction (by d mod 2 within 2 bits for n = 2).
        if (nn == 2) {
            if (d & 1u) l = ((l << 1) | (l >> 1)) & 3u;
        } else if (d != 0) {
            l = ((l << d) | (l >> (nn - d))) & mask;
        }
        const std::uint32_t t = l ^ e;
        h = (h << nn) | reverse_low_bits(t, nn);

        if (nn == 2) {
            if (t == 0) {
                d = (d + 1) % 4;
                e ^= 3u;
            } else if (t == 2) {
                d = (d + 3) % 4;
                e ^= 3u;
            }
        } else {
            const std::uint32_t g = t ^ (t >> 1);
            const unsigned z = static_cast<unsigned>(std::countr_zero(g));  // 32 for g == 0
            d = (d + z) % nn;
            if ((g & 1u) == 0) e ^= 1u << (z % nn);
        }
    }
    return h;
}

}  // namespace mivo::embeddings
