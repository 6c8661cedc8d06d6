// Many f32 dot products with one vector at once, over a table that holds the
// rows interleaved: entry j of row r sits at table[j * stride + r], so one
// vector load fetches entry j of 4, 8 or 16 neighbouring rows and each vector
// lane accumulates its own row. The sums keep the sequential order of the
// plain loop (out[r] = start; out[r] = out[r] + v[j] * row[j] for j in order,
// every product and every sum rounded to f32, no fused multiply-add), so all
// kernel widths give the same bits as a row-at-a-time loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace mivo::embeddings {

// Kernels by width: plain code, and 4, 8 or 16 lanes (SSE2, AVX2, AVX-512F;
// the wider ones only where the processor has them, chosen at run time).
enum class DotKernel : std::uint8_t { Portable, Lanes4, Lanes8, Lanes16 };

// Row counts and strides of an interleaved table are multiples of this.
inline constexpr std::size_t kDotRowGroup = 16;

// The widest kernel this processor runs (found once, then only read).
DotKernel dot_best_kernel();
bool dot_kernel_available(DotKernel kernel);

// out[r] for r < rows (a multiple of kDotRowGroup, at most stride): the
// sequential dot product of v with row r, the accumulator starting at
// `start`. Reads table[j * stride + r] for j < v.size(). The kernel must be
// available.
void dot_rows_with(DotKernel kernel, const float* table, std::size_t stride, std::size_t rows, std::span<const float> v,
                   float start, float* out);

}  // namespace mivo::embeddings
