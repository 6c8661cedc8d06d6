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

    std::vector<float> out(t);
    std::vector<float> row(d);
    for (std::size_t r = 0; r < t; ++r) {
        SeededStream stream = SeededStream::for_projection_row(seed, d_key, target_dims, static_cast<std::uint16_t>(r));
        stream.fill_scaled_normal_f32(row, scale);
        float acc = -0.0f;
        for (std::size_t j = 0; j < d; ++j) {
            const float p = values[j] * row[j];
            acc = acc + p;
        }
        out[r] = std::isnan(acc) ? std::bit_cast<float>(kCanonicalNanBits) : acc;
    }
    return out;
}

}  // namespace mivo::embeddings
