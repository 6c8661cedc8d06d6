// The x86 kernels of the interleaved dot product (dot_rows.hpp): SSE2, the
// baseline of every x86-64 processor, and AVX2 and AVX-512F, which the
// dispatcher uses only where the processor has them.
#pragma once

#include <cstddef>

#include "embeddings/dot_rows.hpp"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define MIVO_DOT_ROWS_X86 1
#else
#define MIVO_DOT_ROWS_X86 0
#endif

#if MIVO_DOT_ROWS_X86
namespace mivo::embeddings {

using DotRowsFn = void(const float* table, std::size_t stride, std::size_t rows, const float* v, std::size_t n,
                       float start, float* out);
DotRowsFn dot_rows_sse2;
DotRowsFn dot_rows_avx2;
DotRowsFn dot_rows_avx512;
DotKernel dot_best_x86_kernel();

}  // namespace mivo::embeddings
#endif
