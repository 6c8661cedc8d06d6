// Hyperplanes and projection matrices, built once per key and then only read.
//
// The SimHash hyperplanes of a seed and the projection matrix of a
// (seed, d, t) key are pure functions of their key, so drawing them again on
// every call only repeats work: the first call draws a table into a
// process-wide cache and later calls read it. Tables are laid out for the
// interleaved dot product (dot_rows.hpp) in blocks of kTableBlockRows rows,
// each block one contiguous stream that the kernel reads from start to end:
// entry j of row r sits in block b = r / kTableBlockRows at
// j * width_b + r % kTableBlockRows, where width_b is the block's row count
// (kTableBlockRows, or what is left of the padded rows in the last block).
// The cache holds at most a fixed budget of bytes
// (kTableBudget) and evicts the least recently used tables beyond it; a key
// whose table does not fit is drawn on demand instead. Readers hold a shared
// reference, so eviction never pulls a table from under a call, and a table
// that several threads want at once is built by one of them while the others
// wait for it. Nothing here changes a value: every table entry is exactly the
// deviate the on-demand path draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "embeddings/dot_rows.hpp"

namespace mivo::embeddings {

// All tables together stay within this many bytes.
inline constexpr std::size_t kTableBudget = std::size_t{64} << 20;

// Hyperplane tables hold 128 rows of this many entries at most: the longest
// embedding an identifier is made from.
inline constexpr std::size_t kMaxTableLength = 2048;

// Rows per block of a table (the rows the widest kernel sums at once).
inline constexpr std::size_t kTableBlockRows = 128;

// The prefix lengths whose norms a hyperplane table keeps are the multiples
// of this.
inline constexpr std::size_t kNormStep = 16;

struct RowTable {
    std::size_t rows = 0;    // rows in use
    std::size_t stride = 0;  // rows rounded up to a multiple of kDotRowGroup
    std::size_t length = 0;  // entries per row
    const float* data = nullptr;
    // For projection tables: one past the last entry of row r whose sign bit
    // is clear (0 if there is none). A +0.0 input value times such an entry
    // is +0.0, which turns a -0.0 accumulator into +0.0; every other sum
    // with a +0.0 product leaves the accumulator as it is.
    const std::uint16_t* last_unsigned = nullptr;
    // For hyperplane tables, upper bounds of the Euclidean norms of the row
    // prefixes that the sign pass's bound reads (sign_pass.hpp):
    // norm_rows[(m - 1) * stride + r] >= |row r [0, m * kNormStep)|. Null
    // in projection tables, and where a row holds an entry beyond what the
    // bound covers.
    const float* norm_rows = nullptr;

    RowTable() = default;
    RowTable(const RowTable&) = delete;
    RowTable& operator=(const RowTable&) = delete;
    ~RowTable();
    // The owned block that data and last_unsigned point into.
    void* block = nullptr;
    std::size_t block_bytes = 0;
};

using TableRef = std::shared_ptr<const RowTable>;

// out[r] for every padded row r (out holds table.stride values): the
// sequential dot product of v (at most table.length values) with row r, the
// accumulator starting at `start`. Padding rows give `start`'s sums of zeros.
void dot_table(const RowTable& table, std::span<const float> v, float start, float* out);
void dot_table_with(DotKernel kernel, const RowTable& table, std::span<const float> v, float start, float* out);

// The 128 SimHash hyperplanes of seed, at least `length` entries each
// (length <= kMaxTableLength); hyperplane h is row h. Null when the table
// cannot be had (it does not fit the budget, or memory is short): the caller
// then draws the hyperplanes itself.
TableRef hyperplane_table(std::uint64_t seed, std::size_t length);

// The t x d projection matrix of seed, each entry the f32 deviate times the
// f32 scale 1 / sqrtf(t), rounded to f32. Null as above.
TableRef projection_table(std::uint64_t seed, std::uint16_t d, std::uint16_t t);

// The cache's budget (kTableBudget unless changed; a smaller budget evicts at
// once), the bytes of the tables it holds, and a way to drop them all. For
// tests and measurements.
std::size_t table_budget();
void set_table_budget(std::size_t bytes);
std::size_t table_bytes_held();
void clear_tables();

}  // namespace mivo::embeddings
