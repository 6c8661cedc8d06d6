#pragma once

#include <cstdint>
#include <string_view>

#include "strings/fixed_width.hpp"

namespace mivo::strings {

// Optimal string alignment distance: Levenshtein's edits plus the
// transposition of two adjacent scalar values, no substring edited twice.
std::uint64_t osa_distance(std::string_view a, std::string_view b);

// The same distance of two strings given as stored code points.
std::uint64_t osa_distance(FixedWidthText a, FixedWidthText b);

}  // namespace mivo::strings
