// 64-bit SimHash of text: FNV-1a 64 of every character trigram and every
// word of the lowercased text vote on each bit.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace mivo::strings {

std::uint64_t fnv1a64(std::string_view bytes);

std::uint64_t simhash(std::string_view text);

// Bits that differ between two fingerprints.
std::uint32_t simhash_distance(std::uint64_t a, std::uint64_t b);

// 1 - distance / 64 of the two texts' fingerprints.
double simhash_similarity(std::string_view a, std::string_view b);

// Indices (ascending) of the candidates within max_distance of the query.
std::vector<std::uint64_t> find_similar_hashes(std::uint64_t query, std::span<const std::uint64_t> candidates,
                                               std::uint32_t max_distance);

}  // namespace mivo::strings
