#include "embeddings/sign_pass.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "embeddings/sign_pass_x86.hpp"

namespace mivo::embeddings {
namespace {

#include "embeddings/sign_pass_kernel.inc"
#include "embeddings/sign_pass_prepare.inc"

#define MIVO_SCALAR_ZERO() 0.0f
#define MIVO_SCALAR_SET1(x) (x)
#define MIVO_SCALAR_LOADU(p) (*(p))
#define MIVO_SCALAR_FMA(a, b, c) std::fma((a), (b), (c))
#define MIVO_SCALAR_ADD(a, b) ((a) + (b))
#define MIVO_SCALAR_ABS(a) std::fabs(a)
#define MIVO_SCALAR_STOREU(p, a) (*(p) = (a))
MIVO_SIGN_PASS_KERNELS(portable, , float, 1, MIVO_SCALAR_ZERO, MIVO_SCALAR_SET1, MIVO_SCALAR_LOADU, MIVO_SCALAR_FMA,
                       MIVO_SCALAR_ADD, MIVO_SCALAR_ABS, MIVO_SCALAR_STOREU, 8, 2, 8)

SignKernel detect_best() {
#if MIVO_DOT_ROWS_X86
    return sign_best_x86_kernel();
#else
    return SignKernel::Portable;
#endif
}

bool detect_pays() {
#if MIVO_DOT_ROWS_X86
    return sign_best_x86_kernel() != SignKernel::Portable;
#elif defined(__FP_FAST_FMAF)
    return true;
#else
    return false;
#endif
}

// The smallest f32 at or above d (d finite, non-negative).
float round_up(double d) {
    float f = static_cast<float>(d);
    if (static_cast<double>(f) < d) f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

}  // namespace

SignKernel sign_best_kernel() {
    static const SignKernel best = detect_best();
    return best;
}

bool sign_kernel_available(SignKernel kernel) {
    return static_cast<int>(kernel) <= static_cast<int>(sign_best_kernel());
}

bool sign_pass_pays() {
    static const bool pays = detect_pays();
    return pays;
}

void sign_pass_one(SignKernel kernel, const float* table, const float* x, std::size_t n, float* f, float* c) {
#if MIVO_DOT_ROWS_X86
    switch (kernel) {
        case SignKernel::Lanes16: return sign_pass_one_avx512(table, x, n, f, c);
        case SignKernel::Lanes8: return sign_pass_one_avx2(table, x, n, f, c);
        case SignKernel::Portable: break;
    }
#else
    (void)kernel;
#endif
    sign_pass_one_portable(table, x, n, f, c);
}

void sign_pass_many(SignKernel kernel, const float* table, const float* x, std::size_t x_stride, std::size_t count,
                    std::size_t n, float* f, float* c) {
    if (count == 0) return;
    std::fill(f, f + count * kSignRows, 0.0f);
    std::fill(c, c + count * kSignRows, 0.0f);
#if MIVO_DOT_ROWS_X86
    switch (kernel) {
        case SignKernel::Lanes16: return sign_pass_many_avx512(table, x, x_stride, count, n, f, c);
        case SignKernel::Lanes8: return sign_pass_many_avx2(table, x, x_stride, count, n, f, c);
        case SignKernel::Portable: break;
    }
#else
    (void)kernel;
#endif
    sign_pass_many_portable(table, x, x_stride, count, n, f, c);
}

SignVector prepare_sign_vector(SignKernel kernel, std::span<const float> x, float* out) {
#if MIVO_DOT_ROWS_X86
    switch (kernel) {
        case SignKernel::Lanes16: return sign_prepare_avx512(x.data(), x.size(), out);
        case SignKernel::Lanes8: return sign_prepare_avx2(x.data(), x.size(), out);
        case SignKernel::Portable: break;
    }
#else
    (void)kernel;
#endif
    return prepare_body(x.data(), x.size(), out);
}

// The terms of sign_pass.hpp, in f64, from upper bounds of each quantity.
SignThreshold sign_threshold(SignInput input, const SignVector& v, std::size_t n) {
    const double u = 0x1p-24, eta = 0x1p-150, kappa = 1 + 0x1p-11;
    const double K = kSignCheckpoint;
    const double len = static_cast<double>(n);
    const double B = static_cast<double>((n + kSignCheckpoint - 1) / kSignCheckpoint);
    const double root_n = std::sqrt(len) * (1 + 0x1p-50);
    const double n1 = v.norm + root_n * eta;  // >= |2^k x|
    // 5: E_F = f_sum C' + f_rows |g| + f_zero, C' = C (1 + 2^-16).
    const double rho = 1 / (1 - u * (len + K * B));
    const double f_sum = rho * u * K;
    const double f_rows = rho * u * K * v.norm + root_n * eta;
    const double f_zero = rho * len * eta;
    // 3, 4 and 6: E_L = u kappa (K (C' + B E_F) + (K + 2) n1 |g|) + tau.
    const double l_fast = u * kappa * K * B;  // times E_F
    const double l_sum = u * kappa * K;
    const double l_rows = u * kappa * (K + 2) * n1;
    double tau_rows = 0, tau_zero = 0;
    if (input == SignInput::UnitLength) {
        tau_rows = (1 + 0x1p-12) * n1 * eta * 2 * root_n;
        tau_zero = (1 + 0x1p-12) * n1 * eta * 2 * len;
    } else {
        tau_zero = std::ldexp(2 * len, v.exponent - 150);
    }
    // E_F + E_L, then the margin of 7.
    constexpr double kMargin = 1 + 0x1p-20;
    const double lam = 1 + l_fast;
    const double c_sum = (lam * f_sum + l_sum) * (1 + 0x1p-16);
    const double c_rows = lam * f_rows + l_rows + tau_rows;
    const double c_zero = lam * f_zero + tau_zero;
    return {round_up(c_sum * kMargin), round_up(c_rows * kMargin), std::max(round_up(c_zero * kMargin), 0x1p-100f)};
}

namespace {

// Eight flags (bytes of 0 or 1, flag i in byte i) as the bits 0 to 7: the
// product puts flag i at bit 56 + i and nothing else above bit 55.
std::uint64_t pack_flags(const std::uint8_t* flags) {
    std::uint64_t word;
    std::memcpy(&word, flags, sizeof word);
    return (word * 0x0102040810204080ull) >> 56;
}

u128 pack_flags_128(const std::uint8_t* flags) {
    u128 out = 0;
    for (std::size_t i = 0; i < kSignRows; i += 8) out |= static_cast<u128>(pack_flags(flags + i)) << i;
    return out;
}

}  // namespace

SignBits decide_signs(const float* f, const float* c, const float* norm_rows, const SignThreshold& t) {
    alignas(64) std::uint8_t positive[kSignRows], doubtful[kSignRows];
    for (std::size_t h = 0; h < kSignRows; ++h) {
        const float bound = (t.c_sum * c[h] + t.c_rows * norm_rows[h]) + t.c_zero;
        positive[h] = f[h] > bound;
        doubtful[h] = !(f[h] > bound) & !(f[h] < -bound);
    }
    return {pack_flags_128(positive), pack_flags_128(doubtful)};
}

}  // namespace mivo::embeddings
