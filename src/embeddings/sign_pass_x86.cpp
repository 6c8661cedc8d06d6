#include "embeddings/sign_pass_x86.hpp"

#if MIVO_DOT_ROWS_X86
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>

namespace mivo::embeddings {

#include "embeddings/sign_pass_kernel.inc"

namespace {
#include "embeddings/sign_pass_prepare.inc"
}  // namespace

// Fused multiply-adds (vfmadd): one rounding per product and sum, as the
// pass's bound takes them.
MIVO_SIGN_PASS_KERNELS(avx512, [[gnu::target("avx512f")]], __m512, 16, _mm512_setzero_ps, _mm512_set1_ps,
                       _mm512_loadu_ps, _mm512_fmadd_ps, _mm512_add_ps, _mm512_abs_ps, _mm512_storeu_ps, 8, 6, 2)

#define MIVO_AVX2_ABS(a) _mm256_andnot_ps(_mm256_set1_ps(-0.0f), (a))
MIVO_SIGN_PASS_KERNELS(avx2, [[gnu::target("avx2,fma")]], __m256, 8, _mm256_setzero_ps, _mm256_set1_ps, _mm256_loadu_ps,
                       _mm256_fmadd_ps, _mm256_add_ps, MIVO_AVX2_ABS, _mm256_storeu_ps, 8, 3, 2)

[[gnu::target("avx512f")]] SignVector sign_prepare_avx512(const float* x, std::size_t n, float* out) {
    return prepare_body(x, n, out);
}

[[gnu::target("avx2,fma")]] SignVector sign_prepare_avx2(const float* x, std::size_t n, float* out) {
    return prepare_body(x, n, out);
}

SignKernel sign_best_x86_kernel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return SignKernel::Lanes16;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return SignKernel::Lanes8;
    return SignKernel::Portable;
}

}  // namespace mivo::embeddings
#endif
