#include "embeddings/dot_rows_x86.hpp"

#if MIVO_DOT_ROWS_X86
#include <immintrin.h>

namespace mivo::embeddings {

#include "embeddings/dot_rows_kernel.inc"

// Products and sums are separate instructions (mulps, addps): each rounds to
// f32, as the sequential loop does.
MIVO_DOT_ROWS_KERNEL(dot_rows_sse2, , __m128, 4, _mm_set1_ps, _mm_loadu_ps, _mm_mul_ps, _mm_add_ps, _mm_storeu_ps)
MIVO_DOT_ROWS_KERNEL(dot_rows_avx2, [[gnu::target("avx2")]], __m256, 8, _mm256_set1_ps, _mm256_loadu_ps, _mm256_mul_ps,
                     _mm256_add_ps, _mm256_storeu_ps)
MIVO_DOT_ROWS_KERNEL(dot_rows_avx512, [[gnu::target("avx512f")]], __m512, 16, _mm512_set1_ps, _mm512_loadu_ps,
                     _mm512_mul_ps, _mm512_add_ps, _mm512_storeu_ps)

DotKernel dot_best_x86_kernel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return DotKernel::Lanes16;
    if (__builtin_cpu_supports("avx2")) return DotKernel::Lanes8;
    return DotKernel::Lanes4;
}

}  // namespace mivo::embeddings
#endif
