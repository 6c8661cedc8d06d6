#include "embeddings/projection.hpp"

#include <bit>
#include <cmath>
#include <string>

#include "embeddings/seeded_stream.hpp"

namespace mivo::embeddings {

Result<std::vector<float>> project_to_lower_dims(std::span<const float> values, std::uint16_t target_dims,
                                                 std::uint64_t seed) {
    const std::size_t d = values.size();
    const std::size_t t = target_dims;
    if (t > d) {
        return fail(MivoError::projection_error("Cannot project to higher dimensions: " + std::to_string(d) +
                                                " -> " + std::to_string(t)));
    }
    const float scale = 1.0f / std::sqrt(static_cast<float>(t));
    const auto d_key = static_cast<std::uint16_t>(d);

    // Each row's entries are drawn, scaled and accumulated in one pass over
    // its stream: acc = -0.0f, then acc = acc + values[j] * M[r][j] in order.
    std::vector<float> out(t);
    for (std::size_t r = 0; r < t; ++r) {
        SeededStream stream = SeededStream::for_projection_row(seed, d_key, target_dims, static_cast<std::uint16_t>(r));
        const float acc = stream.dot_scaled_normal_f32(values, scale, -0.0f);
        out[r] = std::isnan(acc) ? std::bit_cast<float>(kCanonicalNanBits) : acc;
    }
    return out;
}

}  // namespace mivo::embeddings
