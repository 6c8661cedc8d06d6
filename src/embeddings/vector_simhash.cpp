#include "embeddings/vector_simhash.hpp"

#include "embeddings/seeded_stream.hpp"
#include "embeddings/tables.hpp"

namespace mivo::embeddings {

// acc = +0.0f, then acc = acc + embedding[j] * g_j in index order, drawn and
// accumulated in one pass over the hyperplane's stream.
float simhash_hyperplane_dot(std::span<const float> embedding, std::uint64_t seed, std::uint8_t h) {
    SeededStream stream = SeededStream::for_hyperplane(seed, h);
    return stream.dot_standard_normal_f32(embedding, 0.0f);
}

u128 simhash_128_streamed(std::span<const float> embedding, std::uint64_t seed) {
    if (embedding.empty()) return 0;
    u128 out = 0;
    for (unsigned h = 0; h < 128; ++h) {
        const float acc = simhash_hyperplane_dot(embedding, seed, static_cast<std::uint8_t>(h));
        if (acc > 0.0f) out |= static_cast<u128>(1) << h;
    }
    return out;
}

u128 simhash_128(std::span<const float> embedding, std::uint64_t seed) {
    if (embedding.empty()) return 0;
    const TableRef table = hyperplane_table(seed, embedding.size());
    if (!table) return simhash_128_streamed(embedding, seed);
    alignas(64) float dots[128];
    dot_table(*table, embedding, 0.0f, dots);
    u128 out = 0;
    for (unsigned h = 0; h < 128; ++h)
        if (dots[h] > 0.0f) out |= static_cast<u128>(1) << h;
    return out;
}

}  // namespace mivo::embeddings

namespace mivo::embeddings {

void simhash_128_rows(const float* rows, std::size_t count, std::size_t length, std::uint64_t seed, u128* out) {
    for (std::size_t i = 0; i < count; ++i)
        out[i] = simhash_128(std::span<const float>(rows + i * length, length), seed);
}

}  // namespace mivo::embeddings
