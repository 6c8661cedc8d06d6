#include "embeddings/types.hpp"

#include <cmath>

namespace mivo::embeddings {

Result<QuantizedCoords> QuantizedCoords::from_embedding(std::span<const float> values, std::uint8_t count,
                                                        std::uint8_t bits) {
    if (count == 0 || count > 32) return fail(MivoError::invalid_dimension(count, 1, 32));
    if (bits == 0 || bits > 16) return fail(MivoError::invalid_dimension(bits, 1, 16));
    if (values.size() < count) return fail(MivoError::invalid_dimension(count, 1, values.size()));

    const float maxq = static_cast<float>((1u << bits) - 1u);  // exact up to 16 bits
    QuantizedCoords out;
    out.bits = bits;
    out.coords.reserve(count);
    for (std::size_t j = 0; j < count; ++j) {
        float v = values[j] + 1.0f;
        v = v * 0.5f;
        v = v * maxq;
        v = std::fmax(v, 0.0f);  // a NaN becomes 0
        v = std::fmin(v, maxq);
        out.coords.push_back(static_cast<std::uint16_t>(std::roundf(v)));
    }
    return out;
}

Result<void> check_code_width(const char* curve, const QuantizedCoords& point) {
    const std::size_t n = point.coords.size();
    const std::size_t b = point.bits;
    if (n * b <= 128) return {};
    return fail(MivoError::internal(std::string(curve) + " code exceeds 128 bits: " + std::to_string(n) + " dims × " +
                                    std::to_string(b) + " bits = " + std::to_string(n * b) + " bits"));
}

}  // namespace mivo::embeddings
