// One query against many choices at once. The choices sit in the lanes of a
// vector register, each lane holding the bit masks of one choice (in the row
// of character c, bit p of the lane is set where the choice holds c at
// position p); the query's characters run through every lane together, so
// one step of a bit-parallel kernel advances as many pairs as there are
// lanes. Short choices (1 to 64 values) take lanes of 8, 16, 32 or 64 bits,
// the narrowest that holds them, all lanes of a block the same length; longer
// ones (up to kMaxLongWords words) take 64-bit lanes, one vector per word.
//
// Each kernel exists as portable code (16-byte vectors of plain lanes) and,
// on x86, for AVX2 and AVX-512BW, chosen at run time; every kernel gives the
// same counts as the portable one and as the one-pair engines.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mivo::strings::lanes {

// Short choices: one word per lane.
inline constexpr std::size_t kMaxShort = 64;
// Long choices in lanes: up to this many 64-bit words (512 values); longer
// ones are compared pair by pair.
inline constexpr std::size_t kMaxLongWords = 8;
// The widest vector (AVX-512) and so the most lanes a block has.
inline constexpr std::size_t kMaxVectorBytes = 64;
inline constexpr std::size_t kMaxLanes = kMaxVectorBytes;

// A block of choices as the kernels read it.
struct Block {
    // The masks: row (slot * words + word) is one vector; slot 0 is all zero
    // (the characters none of the lanes holds).
    const unsigned char* rows;
    // The slot of each character id of the tile (see ChoiceTile::map).
    const std::uint16_t* slot_of;
    // Long blocks: `words` vectors, in each lane the bits of the positions
    // its choice has.
    const unsigned char* present;
    std::uint32_t length;    // short blocks: the length of every lane's choice
    std::uint16_t words;     // 1 for short blocks
    std::uint8_t lane_bits;  // 8, 16, 32 or 64
    std::uint8_t count;      // the lanes in use, from the first
};

// Per lane the counts of the Jaro similarity of the query and the lane's
// choice: matches, out-of-order matches (before halving) and the common
// prefix (0 to 4).
struct JaroLanes {
    std::uint8_t matches[kMaxLanes];
    std::uint8_t transpositions[kMaxLanes];
    std::uint8_t prefix[kMaxLanes];
};

enum class LaneKernel : std::uint8_t { Portable, Avx2, Avx512 };

struct KernelSet {
    std::size_t vector_bytes;
    // out[k] = the edit distance (optimal string alignment with `osa`) of the
    // query, given as the tile ids of its m >= 1 characters, and the choice
    // in lane k, for every lane in use.
    void (*edit_short)(const Block& b, const std::uint32_t* ids, std::size_t m, bool osa, std::uint64_t* out);
    void (*edit_long)(const Block& b, const std::uint32_t* ids, std::size_t m, bool osa, std::uint64_t* out);
    // The Jaro counts of the query (m >= 1 ids) against a short block;
    // `work` holds m vectors.
    void (*jaro_short)(const Block& b, const std::uint32_t* ids, std::size_t m, unsigned char* work, JaroLanes& out);
};

// The widest kernel set this processor runs (found once, then only read).
LaneKernel best_lane_kernel();
bool lane_kernel_available(LaneKernel kernel);
// The kernels of an available set.
const KernelSet& lane_kernels(LaneKernel kernel);

}  // namespace mivo::strings::lanes
