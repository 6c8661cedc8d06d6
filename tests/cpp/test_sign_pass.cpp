// The fast sign pass against the literal sums: every kernel width against
// the plain one; the bound against exact dot products; the bits of
// simhash_128 and simhash_128_unit (one vector and in blocks) against the
// literal sums over vectors made to lie on the seed's hyperplanes, scaled
// out of the covered range, single entries, zeros and subnormals, for every
// length from 64 to 2048. Prints how many rows took the literal path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
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

// Deterministic normal deviates (Box-Muller over a 64-bit LCG).
class Normals {
public:
    explicit Normals(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    double next() {
        const double a = (static_cast<double>(step() >> 11) + 0.5) * 0x1p-53;
        const double b = static_cast<double>(step() >> 11) * 0x1p-53;
        return std::sqrt(-2 * std::log(a)) * std::cos(6.283185307179586 * b);
    }

private:
    std::uint64_t step() { return state_ = state_ * 6364136223846793005ull + 1442695040888963407ull; }
    std::uint64_t state_;
};

// Row h of the seed's hyperplane table, its first n entries.
std::vector<double> hyperplane(const RowTable& table, std::size_t h, std::size_t n) {
    std::vector<double> g(n);
    for (std::size_t j = 0; j < n; ++j) g[j] = table.data[j * table.stride + h];
    return g;
}

// A random vector with its components along hyperplanes `rows` removed (in
// f64, by Gram-Schmidt over those rows), then rounded to f32: its dot
// products with them are a few ulps from zero.
Floats on_hyperplanes(std::size_t n, const std::vector<std::size_t>& rows, std::uint64_t salt) {
    const TableRef table = hyperplane_table(kSimSeed, n);
    Normals normal(salt);
    std::vector<double> x(n);
    for (double& e : x) e = normal.next();
    std::vector<std::vector<double>> basis;
    for (const std::size_t h : rows) {
        std::vector<double> b = hyperplane(*table, h, n);
        for (const auto& q : basis) {
            double dot = 0;
            for (std::size_t j = 0; j < n; ++j) dot += b[j] * q[j];
            for (std::size_t j = 0; j < n; ++j) b[j] -= dot * q[j];
        }
        double norm = 0;
        for (const double e : b) norm += e * e;
        for (double& e : b) e /= std::sqrt(norm);
        double dot = 0;
        for (std::size_t j = 0; j < n; ++j) dot += x[j] * b[j];
        for (std::size_t j = 0; j < n; ++j) x[j] -= dot * b[j];
        basis.push_back(std::move(b));
    }
    Floats out(n);
    for (std::size_t j = 0; j < n; ++j) out[j] = static_cast<float>(x[j]);
    return out;
}

Floats scaled(Floats v, float by) {
    for (float& e : v) e *= by;
    return v;
}

// The literal bits: the table's sums over the values as given or scaled to
// unit length as the encode driver scales them.
u128 literal_bits(std::span<const float> x, SignInput input) {
    Floats w(x.begin(), x.end());
    if (input == SignInput::UnitLength) scale_to_unit_length(w);
    const TableRef table = hyperplane_table(kSimSeed, x.size());
    Floats dots(table->stride);
    dot_table(*table, w, 0.0f, dots.data());
    u128 out = 0;
    for (unsigned h = 0; h < 128; ++h)
        if (dots[h] > 0.0f) out |= static_cast<u128>(1) << h;
    return out;
}

u128 fast_bits(std::span<const float> x, SignInput input) {
    return input == SignInput::UnitLength ? simhash_128_unit(x, kSimSeed) : simhash_128(x, kSimSeed);
}

std::uint64_t literal_rows_so_far() { return sign_path_counts().literal_rows; }
std::uint64_t literal_vectors_so_far() { return sign_path_counts().literal_vectors; }

// ---------------------------------------------------------------------------
// Kernel widths

// Every width this processor runs gives the plain kernel's F and C bits, one
// vector at a time and in tiles of several (which must also agree with each
// other), across checkpoint and chunk boundaries.
TEST(SignPass, EveryWidthGivesThePlainKernelsBits) {
    for (const std::size_t n : {1, 31, 32, 33, 255, 256, 257, 700, 1023, 2048}) {
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
                expect_same_bits(Floats(f.begin(), f.begin() + count * 128),
                                 Floats(want_f.begin(), want_f.begin() + count * 128));
                expect_same_bits(Floats(c.begin(), c.begin() + count * 128),
                                 Floats(want_c.begin(), want_c.begin() + count * 128));
            }
            for (std::size_t i = 0; i < kCount; i += 4) {
                Floats one_f(128), one_c(128);
                sign_pass_one(k, table->data, xs.data() + i * padded(n), n, one_f.data(), one_c.data());
                expect_same_bits(one_f, Floats(want_f.begin() + i * 128, want_f.begin() + (i + 1) * 128));
                expect_same_bits(one_c, Floats(want_c.begin() + i * 128, want_c.begin() + (i + 1) * 128));
            }
        }
    }
}

TEST(SignPass, PreparationIsTheSameForEveryWidth) {
    for (const std::size_t n : {1, 17, 768, 2048}) {
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
        for (std::uint64_t salt = 0; salt < 4; ++salt) {
            const Floats x = scaled(on_hyperplanes(n, {0, 5, 77, 127}, salt), salt % 2 ? 3e-9f : 1.0f);
            for (const SignInput input : {SignInput::AsGiven, SignInput::UnitLength}) {
                Floats xs(padded(n)), f(128), c(128);
                const SignVector v = prepare_sign_vector(SignKernel::Portable, x, xs.data());
                ASSERT_TRUE(v.covered);
                sign_pass_one(SignKernel::Portable, table->data, xs.data(), n, f.data(), c.data());
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
                Floats dots(128);
                dot_table(*table, w, 0.0f, dots.data());
                const float* norms = table->norm_rows + ((n + kNormStep - 1) / kNormStep - 1) * 128;
                for (std::size_t h = 0; h < 128; ++h) {
                    const double y = std::ldexp(exact_dot(x, hyperplane(*table, h, n)), v.exponent);
                    const double literal = std::ldexp(n_scale * dots[h], v.exponent);
                    const double used = std::fabs(f[h] - y) + std::fabs(literal - y);
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
    std::uint64_t rows0 = literal_rows_so_far(), vectors0 = literal_vectors_so_far();
    std::uint64_t rows() const { return literal_rows_so_far() - rows0; }
    std::uint64_t vectors() const { return literal_vectors_so_far() - vectors0; }
};

void expect_literal_bits(std::span<const float> x, const char* what) {
    for (const SignInput input : {SignInput::AsGiven, SignInput::UnitLength}) {
        const u128 want = literal_bits(x, input);
        const u128 got = fast_bits(x, input);
        ASSERT_TRUE(got == want) << what << ", n " << x.size() << ", input " << static_cast<int>(input)
                                 << ": bits differ at " << static_cast<std::uint64_t>(got ^ want) << " "
                                 << static_cast<std::uint64_t>((got ^ want) >> 64);
    }
}

// Vectors on k of the seed's hyperplanes, for every length from 64 to 2048
// (k and the rows vary with the length); the same on four rows at the
// lengths that end a table class.
TEST(SimhashSigns, OnHyperplanesEveryLength) {
    const Tally tally;
    for (std::size_t n = 64; n <= 2048; ++n) {
        const std::size_t k = 1 + n % 8;
        std::vector<std::size_t> rows;
        for (std::size_t i = 0; i < k; ++i) rows.push_back((n * 37 + i * 53) % 128);
        expect_literal_bits(on_hyperplanes(n, rows, n), "on hyperplanes");
        if (HasFatalFailure()) return;
    }
    std::printf("[ paths ] on hyperplanes, every length: %llu rows took the literal sums\n",
                static_cast<unsigned long long>(tally.rows()));
    EXPECT_GT(tally.rows(), 1985u);  // each vector leaves at least one row in doubt
}

// The same vectors scaled within the covered range (the bound's scaled
// terms) and beyond it (1e-38 to 1e37: the whole vector summed literally).
TEST(SimhashSigns, OnHyperplanesScaled) {
    const Tally tally;
    for (const std::size_t n : {64, 65, 257, 768, 1000, 1536, 2048}) {
        const Floats base = on_hyperplanes(n, {1, 2, 3, 64, 100}, n + 1);
        for (const float by : {1e-38f, 1e-30f, 1e-15f, 1e-5f, 1e5f, 1e15f, 1e30f, 1e37f}) {
            expect_literal_bits(scaled(base, by), "on hyperplanes, scaled");
            if (HasFatalFailure()) return;
        }
    }
    std::printf("[ paths ] on hyperplanes, scaled: %llu rows and %llu whole vectors took the literal sums\n",
                static_cast<unsigned long long>(tally.rows()), static_cast<unsigned long long>(tally.vectors()));
    EXPECT_GT(tally.rows(), 0u);
    EXPECT_GT(tally.vectors(), 0u);
}

// Edges of the covered range, single entries, zeros and subnormals, NaN and
// infinities (the band function takes them as given).
TEST(SimhashSigns, EdgeVectors) {
    const Tally tally;
    const float kInf = std::numeric_limits<float>::infinity();
    for (const std::size_t n : {1, 5, 64, 300, 768, 2048}) {
        std::vector<Floats> cases;
        for (const float edge : {0x1p-60f, 0x1.fffffep-61f, 0x1p56f, 0x1.000002p56f, FLT_MAX, FLT_TRUE_MIN}) {
            Floats v = scaled(sample(n, 3), 0x1p-20f);
            v[n / 2] = edge;
            cases.push_back(v);
        }
        for (const float one : {1.0f, -1.0f, 0x1p-60f, FLT_TRUE_MIN, FLT_MIN, 3e30f})
            for (const std::size_t at : {std::size_t{0}, n / 3, n - 1}) {
                Floats v(n, 0.0f);
                v[at] = one;
                cases.push_back(v);
            }
        cases.push_back(Floats(n, 0.0f));
        cases.push_back(Floats(n, -0.0f));
        Floats signed_zeros(n);
        for (std::size_t j = 0; j < n; ++j) signed_zeros[j] = j % 3 ? 0.0f : -0.0f;
        cases.push_back(signed_zeros);
        cases.push_back(scaled(sample(n, 4), 0x1p-140f));  // subnormal
        cases.push_back(scaled(sample(n, 5), 0x1p-100f));  // squares that underflow
        Floats mixed = sample(n, 6);                       // normal values beside subnormal ones
        for (std::size_t j = 0; j < n; j += 2) mixed[j] *= 0x1p-135f;
        cases.push_back(mixed);
        for (const float bad : {std::numeric_limits<float>::quiet_NaN(), kInf, -kInf}) {
            Floats v = sample(n, 8);
            v[n - 1] = bad;
            cases.push_back(v);
        }
        for (const Floats& v : cases) {
            // NaN and infinities only as given; the encode driver refuses them.
            const bool finite = std::all_of(v.begin(), v.end(), [](float e) { return std::isfinite(e); });
            if (finite) {
                expect_literal_bits(v, "edge vector");
            } else {
                EXPECT_TRUE(simhash_128(v, kSimSeed) == literal_bits(v, SignInput::AsGiven)) << "n " << n;
            }
            if (HasFatalFailure()) return;
        }
    }
    std::printf("[ paths ] edge vectors: %llu rows and %llu whole vectors took the literal sums\n",
                static_cast<unsigned long long>(tally.rows()), static_cast<unsigned long long>(tally.vectors()));
    EXPECT_GT(tally.vectors(), 0u);
}

// Random vectors: the bits, and how rarely a row needs the literal sum.
TEST(SimhashSigns, RandomVectors) {
    const Tally tally;
    std::size_t vectors = 0;
    for (std::size_t n = 64; n <= 2048; n += 61) {
        for (std::uint32_t salt = 0; salt < 3; ++salt, ++vectors) {
            expect_literal_bits(sample(n, salt * 7919 + static_cast<std::uint32_t>(n)), "random");
            if (HasFatalFailure()) return;
        }
    }
    std::printf("[ paths ] random vectors: %llu of %zu rows took the literal sums\n",
                static_cast<unsigned long long>(tally.rows()), 2 * 128 * vectors);
    EXPECT_LT(tally.rows(), 2 * 128 * vectors / 20);
}

// Blocks of rows (simhash_128_rows and simhash_128_unit_rows, the batch
// path): each row's bits as one vector at a time gives them, with covered
// and uncovered rows mixed in one block.
TEST(SimhashSigns, BlocksOfRows) {
    for (const std::size_t n : {7, 64, 100, 768, 2048, 2049}) {
        for (const std::size_t count : {0, 1, 5, 6, 7, 64, 70}) {
            if (n > kMaxTableLength && count > 7) continue;  // drawn on demand: slow
            Floats rows(count * n);
            for (std::size_t i = 0; i < count; ++i) {
                Floats v = i % 5 == 1 && n <= kMaxTableLength ? on_hyperplanes(n, {i % 128}, i)
                           : i % 5 == 2                       ? scaled(sample(n, static_cast<std::uint32_t>(i)), 1e-38f)
                           : i % 5 == 3                       ? Floats(n, 0.0f)
                                                              : sample(n, static_cast<std::uint32_t>(i));
                std::copy(v.begin(), v.end(), rows.begin() + static_cast<std::ptrdiff_t>(i * n));
            }
            std::vector<u128> raw(count), unit(count);
            simhash_128_rows(rows.data(), count, n, kSimSeed, raw.data());
            simhash_128_unit_rows(rows.data(), count, n, kSimSeed, unit.data());
            for (std::size_t i = 0; i < count; ++i) {
                const std::span<const float> row(rows.data() + i * n, n);
                Floats w(row.begin(), row.end());
                scale_to_unit_length(w);
                const bool table = n <= kMaxTableLength;  // else drawn on demand
                ASSERT_TRUE(raw[i] ==
                            (table ? literal_bits(row, SignInput::AsGiven) : simhash_128_streamed(row, kSimSeed)))
                    << "n " << n << " row " << i;
                ASSERT_TRUE(unit[i] ==
                            (table ? literal_bits(row, SignInput::UnitLength) : simhash_128_streamed(w, kSimSeed)))
                    << "n " << n << " row " << i;
            }
        }
    }
}

}  // namespace
}  // namespace mivo::embeddings
