// Exact SimHash signs at a fraction of the cost of the literal sums.
//
// Bit h of a SimHash is set iff the literal sum L > +0.0, where
//     s_0 = +0.0,  s_j = fl(s_{j-1} + fl(w_j * g_j))   for j = 1 .. n in order
// in f32 (dot_rows.hpp computes it), g the row of hyperplane h and w either
// the values as given (SignInput::AsGiven: the bands) or w_j = fl(x_j / N)
// with N the f32 norm of scale_to_unit_length (SignInput::UnitLength: the
// Mini128 payload). Those n additions wait on each other, and a product
// cannot be fused into its sum. The sign pass takes every row at once with
// fused multiply-adds and the widest vectors the processor has, and proves
// for most rows which side of zero L lies on; the rows it cannot decide are
// summed literally. The bits are those of the literal sums for every input.
//
// The pass. x' = fl(2^k x), k chosen so that max |x'_j| lies in [1, 2).
//     F_0 = +0.0,  F_j = fma(x'_j, g_j, F_{j-1})        (one rounding each)
//     C = the f32 sum of |F_c| over the checkpoints c = 0, K, 2K, .. < n
// in that order for each row (so every kernel width gives the same F and C).
//
// The bound. u = 2^-24, eta = 2^-150 (half the smallest subnormal),
// B = ceil(n / K), X = sum x_j g_j exactly and X_c its prefix sums,
// A = sum |x_j g_j|, |v| the Euclidean norm, Y = 2^k X.
//  1. Rounding. Inputs and every intermediate are finite (see "covered"
//     below). A product or fma result r rounds to fl(r) with
//     |fl(r) - r| <= u|r| + eta (relative in the normal range, half the
//     subnormal spacing below it). A sum of two f32 values has
//     |fl(a + b) - (a + b)| <= u|a + b|: a sum that lands among the
//     subnormals is exact.
//  2. The literal sum, in running form. With p_j = w_j g_j exact, P_j the
//     prefix sums and A_w = sum |p_j|: s_j - P_j gathers the product errors
//     and the addition errors a_j, where |a_j| <= u|s_{j-1} + fl(p_j)| <=
//     u(|P_j| + |s_{j-1} - P_{j-1}| + |fl(p_j) - p_j|). Bounding every
//     |s_j - P_j| by one D gives
//         |L - P_n| <= D = [u(1+u) A_w + u sum_j |P_j| + (1+u) n eta] / (1 - nu)
//     and within the block of K terms after checkpoint c, |P_j| <= |P_c| +
//     (the block's part of A_w), so sum_j |P_j| <= K sum_c |P_c| + K A_w.
//     For a sum near zero this is far below the worst case gamma_n A_w
//     (gamma_n = nu / (1 - nu)), since the partial sums stay small.
//  3. Normalisation (UnitLength). w_j = (x_j / N)(1 + th_j) + ep_j with
//     |th_j| <= u, |ep_j| <= eta, N > 0 finite. Putting p_j = x_j g_j / N
//     into 2, multiplying by N (which keeps the sign) and collecting the
//     division's extra u A and the second-order terms (n <= 2048, so
//     nu <= 2^-13 and u K B <= 2^-12.9):
//         |N L - X| <= u (1 + 2^-11) [K sum_c |X_c| + (K + 2) A] + N eta (2 G1 + 2n)
//     with G1 = sum |g_j| <= sqrt(n) |g|. AsGiven (w = x, no N): the same
//     with 2 n eta as the last term.
//  4. Scaling by 2^k changes no sign and scales every term above, except:
//     x'_j = 2^k x_j + z_j with |z_j| <= eta (an entry scaled into the
//     subnormals); AsGiven's 2 n eta becomes 2^(k+1) n eta; and
//     2^k N <= (1 + 2^-12) |2^k x| <= (1 + 2^-12)(|x'| + sqrt(n) eta), the
//     driver's sum of squares exceeding sum x_j^2 by a factor below
//     1 + 2^-12.9 (n roundings; subnormal squares add at most n eta).
//  5. The pass, by the argument of 2 with each product exact inside its fma:
//         |F_n - Pt_n| <= Dt = [u K C + u K At + n eta] / (1 - u(n + K B))
//     where Pt are the exact sums of x'_j g_j and At = sum |x'_j g_j| <=
//     |x'| |g|; the checkpoints' own errors (each at most Dt) are folded
//     into the denominator. With the z_j of 4,
//         |F_c - 2^k X_c| <= E_F = Dt + sqrt(n) eta |g|
//     at the end and at every checkpoint, so 2^k sum_c |X_c| <= C + B E_F.
//  6. Decision. Let E_L be 3 in x' units with that bound on the checkpoint
//     sums and 2^k A <= (|x'| + sqrt(n) eta) |g|. Then |F_n - Y| <= E_F and
//     |2^k N L - Y| <= E_L (2^k L for AsGiven), so F_n > E_F + E_L proves
//     L > 0 (bit set) and F_n < -(E_F + E_L) proves L < 0 (bit clear).
//     A zero sum, +0.0 or -0.0 (bit clear), lies within the band: it is
//     summed literally, never guessed.
//  7. Evaluation. E_F + E_L is affine in (C, |g|) with coefficients
//     computed per vector in f64 from upper bounds (|x'| and the table's
//     prefix norms of g rounded up, C (1 + 2^-16) for an f32 sum of at most
//     64 checkpoints), times 1 + 2^-20 and rounded up to f32. The f32
//     evaluation c_sum C + c_rows |g| + c_zero over non-negative terms loses
//     at most a factor (1 - u)^4, which that margin covers, and
//     c_zero >= 2^-100 keeps it clear of the subnormals.
//  Covered inputs: 2^-60 <= max |x_j| <= 2^56 (so no NaN, no infinity, not
//  all zeros) and n <= 2048, with table rows |g_j| <= 2^10 (checked when the
//  table is built). Then the driver's sum of squares lies in [2^-120, 2^124)
//  (N positive, normal and finite; |w_j| <= 1 + 2u), every literal partial
//  sum is below 2^78 and every pass value below 2^23: nothing overflows.
//  Every other vector (all zeros, only tiny or subnormal values, huge
//  values, NaN or infinity, which the band function hashes as given) takes
//  the literal path whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "embeddings/byte_order.hpp"

namespace mivo::embeddings {

// Rows of a hyperplane table, and the table's row stride.
inline constexpr std::size_t kSignRows = 128;
// Terms between two checkpoints (K).
inline constexpr std::size_t kSignCheckpoint = 32;
// The scaled vector is padded with zeros to a multiple of this.
inline constexpr std::size_t kSignPad = 16;
// The pass over many vectors takes the terms in chunks of this many (a
// multiple of K): a chunk of the table stays in the first-level cache while
// every vector passes over it.
inline constexpr std::size_t kSignChunk = 256;
// The longest vector the bound covers.
inline constexpr std::size_t kSignMaxLength = 2048;

// Kernels by width: plain code (std::fma), and 8 or 16 lanes (AVX2 with FMA,
// AVX-512F; chosen at run time). Every width gives the same bits.
enum class SignKernel : std::uint8_t { Portable, Lanes8, Lanes16 };
SignKernel sign_best_kernel();
bool sign_kernel_available(SignKernel kernel);
// Whether the best kernel has hardware fused multiply-adds. Where it does
// not (an x86 processor without FMA), the literal sums are the faster way.
bool sign_pass_pays();

// The pass over one vector x of n values: F and C (see above) of the 128
// rows of `table`, which holds entry j of row h at table[j * 128 + h].
void sign_pass_one(SignKernel kernel, const float* table, const float* x, std::size_t n, float* f, float* c);

// The pass over `count` vectors (vector i at x + i * x_stride): F and C of
// vector i at f + i * 128 and c + i * 128.
void sign_pass_many(SignKernel kernel, const float* table, const float* x, std::size_t x_stride, std::size_t count,
                    std::size_t n, float* f, float* c);

// ---------------------------------------------------------------- the bound

enum class SignInput : std::uint8_t { AsGiven, UnitLength };

// A vector as the pass takes it: x' = 2^exponent x, with norm >= |x'|.
struct SignVector {
    bool covered = false;  // false: take the literal path for the whole vector
    int exponent = 0;
    double norm = 0;
};

// Checks the range and writes x' into out (x.size() values, then zeros up
// to a multiple of kSignPad).
SignVector prepare_sign_vector(SignKernel kernel, std::span<const float> x, float* out);

// The threshold E_F + E_L of each row as c_sum * C + c_rows * |g| + c_zero
// (7), for a covered vector of n values.
struct SignThreshold {
    float c_sum = 0, c_rows = 0, c_zero = 0;
};
SignThreshold sign_threshold(SignInput input, const SignVector& v, std::size_t n);

// The bits the pass proves for the 128 rows: `positive` where F > T,
// `doubtful` where |F| <= T. norm_rows: the table's prefix norms at the
// prefix that covers n.
struct SignBits {
    u128 positive = 0;
    u128 doubtful = 0;
};
SignBits decide_signs(const float* f, const float* c, const float* norm_rows, const SignThreshold& t);

}  // namespace mivo::embeddings
