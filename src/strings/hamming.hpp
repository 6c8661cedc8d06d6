#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace mivo::strings {

// Positions at which two equally long strings differ, in scalar values;
// nothing when the lengths differ.
std::optional<std::uint64_t> hamming(std::string_view a, std::string_view b);

// A string already decoded into n code points stored in units of 1, 2 or 4
// bytes (`width`), as Python keeps its str objects.
struct FixedWidthText {
    const void* data;
    std::size_t size;
    unsigned width;
};

// The Hamming distance of two such strings; nothing when the lengths differ.
std::optional<std::uint64_t> hamming(FixedWidthText a, FixedWidthText b);

}  // namespace mivo::strings
