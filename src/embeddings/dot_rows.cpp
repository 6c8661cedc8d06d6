#include "embeddings/dot_rows.hpp"

#include "embeddings/dot_rows_x86.hpp"

namespace mivo::embeddings {
namespace {

#include "embeddings/dot_rows_kernel.inc"

#define MIVO_SCALAR_SET1(x) (x)
#define MIVO_SCALAR_LOADU(p) (*(p))
#define MIVO_SCALAR_MUL(a, b) ((a) * (b))
#define MIVO_SCALAR_ADD(a, b) ((a) + (b))
#define MIVO_SCALAR_STOREU(p, a) (*(p) = (a))
MIVO_DOT_ROWS_KERNEL(dot_rows_portable, , float, 1, MIVO_SCALAR_SET1, MIVO_SCALAR_LOADU, MIVO_SCALAR_MUL,
                     MIVO_SCALAR_ADD, MIVO_SCALAR_STOREU)

DotKernel detect_best() {
#if MIVO_DOT_ROWS_X86
    return dot_best_x86_kernel();
#else
    return DotKernel::Portable;
#endif
}

}  // namespace

DotKernel dot_best_kernel() {
    static const DotKernel best = detect_best();
    return best;
}

bool dot_kernel_available(DotKernel kernel) { return static_cast<int>(kernel) <= static_cast<int>(dot_best_kernel()); }

void dot_rows_with(DotKernel kernel, const float* table, std::size_t stride, std::size_t rows, std::span<const float> v,
                   float start, float* out) {
#if MIVO_DOT_ROWS_X86
    switch (kernel) {
        case DotKernel::Lanes16: return dot_rows_avx512(table, stride, rows, v.data(), v.size(), start, out);
        case DotKernel::Lanes8: return dot_rows_avx2(table, stride, rows, v.data(), v.size(), start, out);
        case DotKernel::Lanes4: return dot_rows_sse2(table, stride, rows, v.data(), v.size(), start, out);
        case DotKernel::Portable: break;
    }
#else
    (void)kernel;
#endif
    dot_rows_portable(table, stride, rows, v.data(), v.size(), start, out);
}

}  // namespace mivo::embeddings
