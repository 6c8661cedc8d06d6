#include "embeddings/vector_simhash.hpp"

#include <vector>

#include "embeddings/seeded_stream.hpp"

namespace mivo::embeddings {

namespace {

// Sequential f32 dot product starting from acc: product rounded to f32, then
// the sum rounded to f32, in index order.
float dot_from(float acc, std::span<const float> a, const float* b) {
    for (std::size_t j = 0; j < a.size(); ++j) {
        const float p = a[j] * b[j];
        acc = acc + p;
    }
    return acc;
}

float hyperplane_dot(std::span<const float> embedding, std::uint64_t seed, std::uint8_t h, std::vector<float>& row) {
    SeededStream stream = SeededStream::for_hyperplane(seed, h);
    stream.fill_standard_normal_f32(row);
    return dot_from(0.0f, embedding, row.data());
}

}  // namespace

float simhash_hyperplane_dot(std::span<const float> embedding, std::uint64_t seed, std::uint8_t h) {
    std::vector<float> row(embedding.size());
    return hyperplane_dot(embedding, seed, h, row);
}

u128 simhash_128(std::span<const float> embedding, std::uint64_t seed) {
    if (embedding.empty()) return 0;
    std::vector<float> row(embedding.size());
    u128 out = 0;
    for (unsigned h = 0; h < 128; ++h) {
        const float acc = hyperplane_dot(embedding, seed, static_cast<std::uint8_t>(h), row);
        if (acc > 0.0f) out |= static_cast<u128>(1) << h;
    }
    return out;
}

std::array<std::uint8_t, 16> simhash_to_bytes(u128 value) {
    std::array<std::uint8_t, 16> out{};
    for (int i = 0; i < 16; ++i) out[15 - i] = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

}  // namespace mivo::embeddings
