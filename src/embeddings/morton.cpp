#include "embeddings/morton.hpp"

#include <string>

namespace mivo::embeddings {

Result<u128> morton_code(const QuantizedCoords& point) {
    const std::size_t n = point.coords.size();
    const std::size_t b = point.bits;
    if (auto fits = check_code_width("Morton", point); !fits) return fail(fits.error());
    // Built from the most significant bit level down: each level shifts the
    // accumulator by n and ORs in bit k of every coordinate at position j.
    const std::uint16_t* c = point.coords.data();
    u128 code = 0;
    for (std::size_t k = b; k-- > 0;) {
        if (n < 128) code <<= n;  // n == 128 only with b == 1, where code is still 0
        if (k >= 16) continue;    // coordinates have 16 bits
        if (n <= 64) {
            std::uint64_t level = 0;
            for (std::size_t j = 0; j < n; ++j) level |= std::uint64_t{(c[j] >> k) & 1u} << j;
            code |= level;
        } else {
            for (std::size_t j = 0; j < n; ++j) code |= u128{(c[j] >> k) & 1u} << j;
        }
    }
    return code;
}

}  // namespace mivo::embeddings
