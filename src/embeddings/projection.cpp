#include "embeddings/projection.hpp"

#include <bit>
#include <cmath>
#include <string>

#include "embeddings/seeded_stream.hpp"
#include "embeddings/tables.hpp"

namespace mivo::embeddings {
namespace {

Result<std::vector<float>> refuse_higher(std::size_t d, std::size_t t) {
    return fail(MivoError::projection_error("Cannot project to higher dimensions: " + std::to_string(d) + " -> " +
                                            std::to_string(t)));
}

float canonical(float acc) { return std::isnan(acc) ? std::bit_cast<float>(kCanonicalNanBits) : acc; }

}  // namespace

Result<std::vector<float>> project_to_lower_dims_streamed(std::span<const float> values, std::uint16_t target_dims,
                                                          std::uint64_t seed) {
    const std::size_t d = values.size();
    const std::size_t t = target_dims;
    if (t > d) return refuse_higher(d, t);
    const float scale = 1.0f / std::sqrt(static_cast<float>(t));
    const auto d_key = static_cast<std::uint16_t>(d);

    // Each row's entries are drawn, scaled and accumulated in one pass over
    // its stream: acc = -0.0f, then acc = acc + values[j] * M[r][j] in order.
    std::vector<float> out(t);
    for (std::size_t r = 0; r < t; ++r) {
        SeededStream stream = SeededStream::for_projection_row(seed, d_key, target_dims, static_cast<std::uint16_t>(r));
        out[r] = canonical(stream.dot_scaled_normal_f32(values, scale, -0.0f));
    }
    return out;
}

Result<std::vector<float>> project_to_lower_dims(std::span<const float> values, std::uint16_t target_dims,
                                                 std::uint64_t seed) {
    const std::size_t d = values.size();
    const std::size_t t = target_dims;
    if (t > d) return refuse_higher(d, t);
    const TableRef table =
        d <= kMaxTableLength ? projection_table(seed, static_cast<std::uint16_t>(d), target_dims) : nullptr;
    if (!table) return project_to_lower_dims_streamed(values, target_dims, seed);

    // Trailing +0.0 values (the padding into the common space) add +0.0 or
    // -0.0 products: they leave every sum as it is, except that a +0.0
    // product turns a -0.0 sum into +0.0. So the sums run over the values up
    // to the last one that is not +0.0, and a -0.0 sum becomes +0.0 when its
    // row has an entry with a clear sign bit further on.
    std::size_t n = d;
    while (n > 0 && std::bit_cast<std::uint32_t>(values[n - 1]) == 0) --n;
    std::vector<float> out(table->stride);
    dot_table(*table, values.first(n), -0.0f, out.data());
    out.resize(t);
    for (std::size_t r = 0; r < t; ++r) {
        float acc = out[r];
        if (n < d && std::bit_cast<std::uint32_t>(acc) == 0x80000000u && table->last_unsigned[r] > n) acc = 0.0f;
        out[r] = canonical(acc);
    }
    return out;
}

}  // namespace mivo::embeddings
