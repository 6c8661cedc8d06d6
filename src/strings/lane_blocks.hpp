// Choices laid out for the lane kernels (lane_kernels.hpp): a tile of
// choices, taken in order of length, cut into blocks of one vector's lanes.
// Short choices of one length share a block; long ones (65 values up to the
// kernels' word limit) fill 64-bit lanes in order of length. The characters
// of the tile get dense ids, and each block keeps the slot of its mask rows
// per id, so that a query's characters, mapped to ids once per tile, find
// their masks in any block with two loads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "strings/fixed_width.hpp"
#include "strings/lane_kernels.hpp"

namespace mivo::strings {
class CodePointIds;
}

namespace mivo::strings::lanes {

// Calls f(p, size) with the stored code points of t as an array of its own
// width (unsigned char, char16_t or char32_t).
template <class F>
auto with_stored(FixedWidthText t, F&& f) {
    if (t.width == 1) return f(static_cast<const unsigned char*>(t.data), t.size);
    if (t.width == 2) return f(static_cast<const char16_t*>(t.data), t.size);
    return f(static_cast<const char32_t*>(t.data), t.size);
}

struct TileLimits {
    std::size_t choices = 16384;   // choices per tile
    std::size_t values = 1 << 18;  // code points in the blocks of a tile
    std::size_t alphabet = 4096;   // distinct characters in a tile
};

class ChoiceTile {
public:
    // Takes choices from the front of `order` (indices into `choices`, in
    // order of length) until a limit is reached, at least one. With
    // `long_lanes`, choices of 65 values up to the kernels' limit go into
    // 64-bit lanes, else they are left to the pair-by-pair path with the
    // empty and the longest choices.
    ChoiceTile(std::size_t vector_bytes, std::span<const FixedWidthText> choices, std::span<const std::uint32_t> order,
               bool long_lanes, const TileLimits& limits = {});
    ~ChoiceTile();
    ChoiceTile(const ChoiceTile&) = delete;
    ChoiceTile& operator=(const ChoiceTile&) = delete;

    // How many entries of `order` the tile holds.
    std::size_t consumed() const { return consumed_; }
    std::span<const Block> blocks() const { return blocks_; }
    // The choice index of each lane of a block.
    const std::uint32_t* columns(std::size_t block) const { return columns_.data() + column_start_[block]; }
    // The tile's choices left to the pair-by-pair path.
    std::span<const std::uint32_t> others() const { return others_; }
    // The tile ids of text[0, m) (0 for a character no block holds).
    void map(const char32_t* text, std::size_t m, std::uint32_t* ids) const;

private:
    struct alignas(kMaxVectorBytes) Row {
        unsigned char bytes[kMaxVectorBytes];
    };
    std::size_t consumed_ = 0;
    std::unique_ptr<CodePointIds> ids_;
    std::vector<Block> blocks_;
    std::vector<std::uint32_t> columns_;
    std::vector<std::size_t> column_start_;
    std::vector<std::uint32_t> others_;
    std::vector<std::uint16_t> slots_;
    std::vector<Row> rows_;
};

}  // namespace mivo::strings::lanes
