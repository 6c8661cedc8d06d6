// 128-bit random-hyperplane SimHash of an embedding. Hyperplane h is the
// sequence of f32-rounded normal deviates of its own seeded stream, keyed by
// (seed, h); bit h says whether the f32 dot product with the embedding is
// above zero. The same seed and h give the same hyperplane for every
// embedding length: a longer embedding only extends it.
//
// The dot products are taken literally only where their sign is in doubt:
// a fast pass with a proven error bound decides the others (sign_pass.hpp).
// The bits are those of the literal sums for every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "embeddings/byte_order.hpp"
#include "embeddings/sign_pass.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {

// Bit h (value 2^h) is set when the dot product with hyperplane h is > 0.0
// (0.0, -0.0 and NaN leave it clear). Does not normalise, validate or copy
// the embedding; an empty embedding gives 0. Never fails. Reads the seed's
// hyperplane table (tables.hpp) and draws the hyperplanes itself only when
// there is none.
u128 simhash_128(std::span<const float> embedding, std::uint64_t seed);

// simhash_128 of the embedding scaled to unit length as
// scale_to_unit_length does it (the Mini128 payload), without scaling it
// where the signs are decided without the literal sums.
u128 simhash_128_unit(std::span<const float> embedding, std::uint64_t seed);

// Working memory of simhash_128_rows. A caller that hashes many blocks keeps
// one and passes it to every call: that saves allocations, nothing else.
struct SimhashRowsMemory {
    std::vector<float> scaled, sums, checkpoints;
    std::vector<SignVector> vectors;
    std::vector<std::size_t> covered;
};

// simhash_128 (or simhash_128_unit) of `count` rows of `length` values each
// (row i at rows + i * length), out[i] for row i; the same values one row at
// a time gives. The fast pass runs over several rows per pass over the table.
void simhash_128_rows(const float* rows, std::size_t count, std::size_t length, std::uint64_t seed, u128* out,
                      SimhashRowsMemory* memory = nullptr);
void simhash_128_unit_rows(const float* rows, std::size_t count, std::size_t length, std::uint64_t seed, u128* out,
                           SimhashRowsMemory* memory = nullptr);

// The same, every hyperplane drawn from its stream during the call: the
// reference the table path is checked against.
u128 simhash_128_streamed(std::span<const float> embedding, std::uint64_t seed);

// The dot product that decides bit h: acc = +0.0f, then for j in order
// acc = acc + embedding[j] * g_j with g_j the j-th deviate of the stream of
// (seed, h) rounded to f32, every product and every sum rounded to f32.
float simhash_hyperplane_dot(std::span<const float> embedding, std::uint64_t seed, std::uint8_t h);

// How the SimHashes of this process were decided, counted since it started
// (all threads): vectors hashed over a table; those taken whole by the
// literal sums (outside what the bound covers); rows the fast pass left in
// doubt, summed literally.
struct SignPathCounts {
    std::uint64_t vectors = 0;
    std::uint64_t literal_vectors = 0;
    std::uint64_t literal_rows = 0;
};
SignPathCounts sign_path_counts();

}  // namespace mivo::embeddings
