#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "strings/fixed_width.hpp"

namespace mivo::strings {

// Positions at which two equally long strings differ, in scalar values;
// nothing when the lengths differ.
std::optional<std::uint64_t> hamming(std::string_view a, std::string_view b);

// The Hamming distance of two such strings; nothing when the lengths differ.
std::optional<std::uint64_t> hamming(FixedWidthText a, FixedWidthText b);

}  // namespace mivo::strings
