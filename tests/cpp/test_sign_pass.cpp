// The fast sign pass against the literal sums: every kernel width against
// the plain one; the bound against exact dot products; the bits of
// simhash_128 and simhash_128_unit (one vector and in blocks of rows)
// against the literal sums over vectors made to lie on the seed's
// hyperplanes, scaled out of the covered range, single entries, zeros and
// subnormals, for every length from 64 to 2048. Prints how many rows took
// the literal path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "embeddings/encode.hpp"
#include "embeddings/sign_pass.hpp"
#include "embeddings/tables.hpp"
#include "embeddings/vector_simhash.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

constexpr std::uint64_t kSimSeed = 0x4D49564F53494D48ull;  // "MIVOSIMH"
constexpr SignKernel kKernels[] = {SignKernel::Portable, SignKernel::Lanes8, SignKernel::Lanes16};

std::size_t padded(std::size_t n) { return (n + kSignPad - 1) / kSignPad * kSignPad; }

// Row h of the seed's hyperplane table, its first n entries.
std::vector<double> hyperplane(const RowTable& table, std::size_t h, std::size_t n) {
    std::vector<double> g(n);
    for (std::size_t j = 0; j < n; ++j) g[j] = table.data[j * table.stride + h];
    return g;
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
    return std::inner_product(a.begin(), a.end(), b.begin(), 0.0);
}

// A sample vector with its components along hyperplanes `rows` removed (in
// f64, by Gram-Schmidt over those rows), then rounded to f32: its dot
// products with them are a few ulps from zero.
Floats on_hyperplanes(std::size_t n, const std::vector<std::size_t>& rows, std::size_t salt) {
    const TableRef table = hyperplane_table(kSimSeed, n);
    const Floats start = sample(n, static_cast<std::uint32_t>(salt));
    std::vector<double> x(start.begin(), start.end());
    std::vector<std::vector<double>> basis;
    for (const std::size_t h : rows) {
        std::vector<double> b = hyperplane(*table, h, n);
        for (const auto& q : basis) {
            const double along = dot(b, q);
            for (std::size_t j = 0; j < n; ++j) b[j] -= along * q[j];
        }
        const double norm = std::sqrt(dot(b, b));
        for (double& e : b) e /= norm;
        const double along = dot(x, b);
        for (std::size_t j = 0; j < n; ++j) x[j] -= along * b[j];
        basis.push_back(std::move(b));
    }
    Floats out(n);
    std::transform(x.begin(), x.end(), out.begin(), [](double e) { return static_cast<float>(e); });
    return out;
}

Floats scaled(Floats v, float by) {
    for (float& e : v) e *= by;
    return v;
}

// The literal bits: the table's sums over the values as given or scaled to
// unit length as the encode driver scales them (past the tables, the sums
// drawn on demand).
u128 literal_bits(std::span<const float> x, SignInput input) {
    Floats w(x.begin(), x.end());
    if (input == SignInput::UnitLength) scale_to_unit_length(w);
    if (x.size() > kMaxTableLength) return simhash_128_streamed(w, kSimSeed);
    const TableRef table = hyperplane_table(kSimSeed, x.size());
    Floats dots(table->stride);
    dot_table(*table, w, 0.0f, dots.data());
    u128 out = 0;
    for (unsigned h = 0; h < 128; ++h)
        if (dots[h] > 0.0f) out |= static_cast<u128>(1) << h;
    return out;
}

// ---------------------------------------------------------------------------
// Kernel widths

// Every width this processor runs prepares a vector as the plain kernel
// does (at the edges of the covered range too) and gives its F and C sums,
// one vector at a time and in tiles of several, across checkpoint and chunk
// boundaries.
TEST(SignPass, EveryWidthGivesThePlainKernelsBits) {
    for (const std::size_t n : {1, 31, 32, 33, 255, 256, 257, 700, 1023, 2048}) {
        for (const float by : {1.0f, 0x1p-60f, 0x1p56f, 0x1p-61f, 0x1p57f}) {
            const Floats x = scaled(sample(n, 7), by);
            Floats want(padded(n)), got(padded(n));
            const SignVector a = prepare_sign_vector(SignKernel::Portable, x, want.data());
            for (const SignKernel k : kKernels) {
                if (!sign_kernel_available(k)) continue;
                const SignVector b = prepare_sign_vector(k, x, got.data());
                ASSERT_EQ(a.covered, b.covered);
                if (!a.covered) continue;
                EXPECT_EQ(a.exponent, b.exponent);
                EXPECT_EQ(a.norm, b.norm);
                expect_same_bits(got, want);
            }
        }
        const TableRef table = hyperplane_table(kSimSeed, n);
        constexpr std::size_t kCount = 13;  // full tiles and every remainder
        std::vector<float> xs(kCount * padded(n));
        for (std::size_t i = 0; i < kCount; ++i)
            ASSERT_TRUE(prepare_sign_vector(SignKernel::Portable, sample(n, static_cast<std::uint32_t>(i + n)),
                                            xs.data() + i * padded(n))
                            .covered);
        Floats want_f(kCount * 128), want_c(kCount * 128), f(kCount * 128), c(kCount * 128);
        sign_pass_many(SignKernel::Portable, table->data, xs.data(), padded(n), kCount, n, want_f.data(),
                       want_c.data());
        for (const SignKernel k : kKernels) {
            if (!sign_kernel_available(k)) continue;
            SCOPED_TRACE(testing::Message() << "n " << n << " kernel " << static_cast<int>(k));
            for (std::size_t count = 1; count <= kCount; count += 5) {
                sign_pass_many(k, table->data, xs.data(), padded(n), count, n, f.data(), c.data());
                ASSERT_EQ(std::memcmp(f.data(), want_f.data(), count * 128 * sizeof(float)), 0) << count;
                ASSERT_EQ(std::memcmp(c.data(), want_c.data(), count * 128 * sizeof(float)), 0) << count;
            }
            for (std::size_t i = 0; i < kCount; i += 4) {
                sign_pass_one(k, table->data, xs.data() + i * padded(n), n, f.data(), c.data());
                ASSERT_EQ(std::memcmp(f.data(), want_f.data() + i * 128, 128 * sizeof(float)), 0) << i;
                ASSERT_EQ(std::memcmp(c.data(), want_c.data() + i * 128, 128 * sizeof(float)), 0) << i;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The bound itself

// x_j g_j summed exactly enough to stand for the real number: each product
// is exact in f64 and the sum is compensated (error far below the bound).
double exact_dot(std::span<const float> x, const std::vector<double>& g) {
    double sum = 0, carry = 0;
    for (std::size_t j = 0; j < x.size(); ++j) {
        const double p = static_cast<double>(x[j]) * g[j];
        const double t = sum + p;
        carry += std::fabs(sum) >= std::fabs(p) ? (sum - t) + p : (p - t) + sum;
        sum = t;
    }
    return sum + carry;
}

// For every row: |F - Y| + |2^k N L - Y| <= T, the pass's error and the
// literal sum's error (as the vector is actually scaled) together within
// the threshold, on vectors whose dot products are near zero. Reports the
// largest share of the threshold used.
TEST(SignPass, ThresholdCoversBothErrors) {
    double most = 0;
    for (const std::size_t n : {64, 100, 768, 1536, 2048}) {
        const TableRef table = hyperplane_table(kSimSeed, n);
        const float* norms = table->norm_rows + ((n + kNormStep - 1) / kNormStep - 1) * 128;
        for (std::size_t salt = 0; salt < 4; ++salt) {
            const Floats x = scaled(on_hyperplanes(n, {0, 5, 77, 127}, salt), salt % 2 ? 3e-9f : 1.0f);
            Floats xs(padded(n)), f(128), c(128), dots(128);
            const SignVector v = prepare_sign_vector(SignKernel::Portable, x, xs.data());
            ASSERT_TRUE(v.covered);
            sign_pass_one(SignKernel::Portable, table->data, xs.data(), n, f.data(), c.data());
            for (const SignInput input : {SignInput::AsGiven, SignInput::UnitLength}) {
                const SignThreshold t = sign_threshold(input, v, n);
                // The literal sum and the factor it carries: N for the unit
                // length, as the driver computes it.
                Floats w = x;
                double n_scale = 1;
                if (input == SignInput::UnitLength) {
                    float sum = -0.0f;
                    for (const float e : x) sum = sum + e * e;
                    n_scale = std::sqrt(sum);
                    scale_to_unit_length(w);
                }
                dot_table(*table, w, 0.0f, dots.data());
                for (std::size_t h = 0; h < 128; ++h) {
                    const double y = std::ldexp(exact_dot(x, hyperplane(*table, h, n)), v.exponent);
                    const double used = std::fabs(f[h] - y) + std::fabs(std::ldexp(n_scale * dots[h], v.exponent) - y);
                    const double bound = (t.c_sum * c[h] + t.c_rows * norms[h]) + t.c_zero;
                    ASSERT_LE(used, bound) << "n " << n << " salt " << salt << " row " << h;
                    most = std::max(most, used / bound);
                }
            }
        }
    }
    std::printf("[ bound ] largest share of the threshold used: %.3g\n", most);
}

// ---------------------------------------------------------------------------
// The bits against the literal sums

struct Tally {
    SignPathCounts start = sign_path_counts();
    void print(const char* what) const {
        std::printf("[ paths ] %s: %llu rows and %llu whole vectors took the literal sums\n", what,
                    static_cast<unsigned long long>(rows()), static_cast<unsigned long long>(vectors()));
    }
    std::uint64_t rows() const { return sign_path_counts().literal_rows - start.literal_rows; }
    std::uint64_t vectors() const { return sign_path_counts().literal_vectors - start.literal_vectors; }
};

// The bits of vectors of one length, as given and scaled to unit length,
// against the literal sums: one vector at a time, and all of them as the
// rows of one block (simhash_128_rows and simhash_128_unit_rows, the batch
// path, with covered and uncovered rows mixed).
void expect_literal_bits(const std::vector<Floats>& cases, const char* what) {
    Floats rows;
    for (const Floats& x : cases) rows.insert(rows.end(), x.begin(), x.end());
    const std::size_t n = cases.front().size();
    std::vector<u128> raw(cases.size()), unit(cases.size());
    simhash_128_rows(rows.data(), cases.size(), n, kSimSeed, raw.data());
    simhash_128_unit_rows(rows.data(), cases.size(), n, kSimSeed, unit.data());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const u128 want = literal_bits(cases[i], SignInput::AsGiven),
                   want_unit = literal_bits(cases[i], SignInput::UnitLength);
        ASSERT_TRUE(simhash_128(cases[i], kSimSeed) == want && raw[i] == want) << what << ", n " << n << ", case " << i;
        ASSERT_TRUE(simhash_128_unit(cases[i], kSimSeed) == want_unit && unit[i] == want_unit)
            << what << ", unit length, n " << n << ", case " << i;
    }
}

// Vectors on k of the seed's hyperplanes, for every length from 64 to 2048
// (k and the rows vary with the length); every 97th length also scaled
// within the covered range (the bound's scaled terms) and beyond it (1e-38
// to 1e37: the whole vector summed literally).
TEST(SimhashSigns, OnHyperplanes) {
    const Tally tally;
    for (std::size_t n = 64; n <= 2048; ++n) {
        std::vector<std::size_t> rows;
        for (std::size_t i = 0; i <= n % 8; ++i) rows.push_back((n * 37 + i * 53) % 128);
        std::vector<Floats> cases{on_hyperplanes(n, rows, n)};
        for (const float by : {1e-38f, 1e-30f, 1e-15f, 1e-5f, 1e5f, 1e15f, 1e30f, 1e37f})
            if (n % 97 == 0 || n == 2048) cases.push_back(scaled(cases[0], by));
        expect_literal_bits(cases, "on hyperplanes");
        if (HasFatalFailure()) return;
    }
    tally.print("on hyperplanes");
    EXPECT_GT(tally.rows(), 1985u);  // each vector leaves at least one row in doubt
    EXPECT_GT(tally.vectors(), 0u);
}

// Edges of the covered range, single entries, zeros and subnormals, NaN and
// infinities (the band function takes them as given).
TEST(SimhashSigns, EdgeVectors) {
    const Tally tally;
    const float kInf = std::numeric_limits<float>::infinity();
    for (const std::size_t n : {1, 5, 64, 300, 768, 2048}) {
        std::vector<Floats> cases{Floats(n, 0.0f), Floats(n, -0.0f), scaled(sample(n, 4), 0x1p-140f),  // subnormal
                                  scaled(sample(n, 5), 0x1p-100f)};  // squares that underflow
        for (const float edge : {0x1p-60f, 0x1.fffffep-61f, 0x1p56f, 0x1.000002p56f, FLT_MAX, FLT_TRUE_MIN}) {
            cases.push_back(scaled(sample(n, 3), 0x1p-20f));
            cases.back()[n / 2] = edge;
        }
        for (const float one : {1.0f, -1.0f, 0x1p-60f, FLT_TRUE_MIN, FLT_MIN, 3e30f})
            for (const std::size_t at : {std::size_t{0}, n / 3, n - 1}) {
                cases.emplace_back(n, 0.0f);
                cases.back()[at] = one;
            }
        cases.push_back(sample(n, 6));  // signed zeros and subnormal values beside normal ones
        for (std::size_t j = 0; j < n; ++j) cases.back()[j] *= j % 3 == 0 ? 0.0f : j % 3 == 1 ? 0x1p-135f : 1.0f;
        expect_literal_bits(cases, "edge vectors");
        // NaN and infinities only as given; the encode driver refuses them.
        for (const float bad : {std::numeric_limits<float>::quiet_NaN(), kInf, -kInf}) {
            Floats v = sample(n, 8);
            v[n - 1] = bad;
            EXPECT_TRUE(simhash_128(v, kSimSeed) == literal_bits(v, SignInput::AsGiven)) << "n " << n;
        }
        if (HasFatalFailure()) return;
    }
    tally.print("edge vectors");
    EXPECT_GT(tally.vectors(), 0u);
}

// Random vectors: the bits, and how rarely a row needs the literal sum.
TEST(SimhashSigns, RandomVectors) {
    const Tally tally;
    std::size_t vectors = 0;
    for (std::size_t n = 64; n <= 2110; n += 61, vectors += 3) {  // 2077: past the tables, drawn on demand
        const auto salt = static_cast<std::uint32_t>(n);
        expect_literal_bits({sample(n, salt), sample(n, salt + 7919), sample(n, salt + 2 * 7919)}, "random");
        if (HasFatalFailure()) return;
    }
    tally.print("random vectors");
    EXPECT_LT(tally.rows(), 2 * 128 * vectors / 20);
}

}  // namespace
}  // namespace mivo::embeddings
