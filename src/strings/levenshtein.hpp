#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "strings/fixed_width.hpp"

namespace mivo::strings {

// Edit distance (insertions, deletions, substitutions) in scalar values.
std::uint64_t levenshtein(std::string_view a, std::string_view b);

// The same distance of two strings given as stored code points.
std::uint64_t levenshtein(FixedWidthText a, FixedWidthText b);

// The distance of two decoded strings (scalar values).
std::uint64_t levenshtein_decoded(const char32_t* a, std::size_t m, const char32_t* b, std::size_t n);

// 1 - distance / longer length; 1.0 for byte-identical strings.
double normalized_levenshtein(std::string_view a, std::string_view b);
double normalized_levenshtein(FixedWidthText a, FixedWidthText b);

}  // namespace mivo::strings
