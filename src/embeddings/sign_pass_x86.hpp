// The x86 kernels of the sign pass (sign_pass.hpp): AVX2 with FMA, and
// AVX-512F, which the dispatcher uses only where the processor has them.
#pragma once

#include <cstddef>

#include "embeddings/dot_rows_x86.hpp"
#include "embeddings/sign_pass.hpp"

#if MIVO_DOT_ROWS_X86
namespace mivo::embeddings {

using SignOneFn = void(const float* table, const float* x, std::size_t n, float* f, float* c);
using SignManyFn = void(const float* table, const float* x, std::size_t xs, std::size_t count, std::size_t n, float* f,
                        float* c);
using SignPrepareFn = SignVector(const float* x, std::size_t n, float* out);

SignOneFn sign_pass_one_avx2, sign_pass_one_avx512;
SignManyFn sign_pass_many_avx2, sign_pass_many_avx512;
SignPrepareFn sign_prepare_avx2, sign_prepare_avx512;

// The widest sign kernel this processor runs; Portable without FMA.
SignKernel sign_best_x86_kernel();

}  // namespace mivo::embeddings
#endif
