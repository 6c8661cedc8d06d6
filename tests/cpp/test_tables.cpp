// Hyperplane and projection tables: the table path against the streams drawn
// on demand, for every kernel width this processor runs, over vectors that
// stress the f32 steps; eviction under a small budget; threads sharing a key.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <latch>
#include <thread>
#include <vector>

#include "embeddings/projection.hpp"
#include "embeddings/tables.hpp"
#include "embeddings/vector_simhash.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

constexpr std::uint64_t kSimSeed = 0x4D49564F53494D48ull;  // "MIVOSIMH"

enum class Kind { Random, Tiny, Huge, Zero, Padded };
constexpr Kind kKinds[] = {Kind::Random, Kind::Tiny, Kind::Huge, Kind::Zero, Kind::Padded};

// Random values over many magnitudes; subnormals and signed zeros; values
// near FLT_MAX whose products and sums overflow; all +0.0; and values
// followed by +0.0 padding with one -0.0 inside it.
Floats stress(std::size_t n, Kind kind, std::uint32_t salt) {
    Floats v = sample(n, salt);
    for (std::size_t i = 0; i < n; ++i) {
        switch (kind) {
            case Kind::Random: break;
            case Kind::Tiny: v[i] = i % 3 == 0 ? (i % 2 ? -0.0f : 0.0f) : v[i] * 0x1p-140f; break;
            case Kind::Huge: v[i] = (v[i] < 0 ? -FLT_MAX : FLT_MAX) * (0.5f + static_cast<float>(i % 4) / 8); break;
            case Kind::Zero: v[i] = 0.0f; break;
            case Kind::Padded:
                if (i >= n / 3) v[i] = i == n / 2 ? -0.0f : 0.0f;
                break;
        }
    }
    return v;
}

// Every kernel this processor runs gives the portable kernel's bits on this
// table and vector.
void expect_kernels_agree(const RowTable& table, std::span<const float> v, float start) {
    ASSERT_TRUE(dot_kernel_available(dot_best_kernel()));
    Floats want(table.stride), got(table.stride);
    dot_table_with(DotKernel::Portable, table, v, start, want.data());
    for (DotKernel k : {DotKernel::Lanes4, DotKernel::Lanes8, DotKernel::Lanes16}) {
        if (!dot_kernel_available(k)) continue;
        dot_table_with(k, table, v, start, got.data());
        expect_same_bits(got, want);
    }
}

// ---------------------------------------------------------------------------

const std::size_t kLengths[] = {1, 63, 64, 65, 97, 255, 256, 257, 768, 1025, 2047, 2048};

TEST(HyperplaneTable, MatchesTheStreams) {
    for (std::size_t n : kLengths) {
        for (Kind kind : kKinds) {
            const Floats v = stress(n, kind, static_cast<std::uint32_t>(n));
            const TableRef table = hyperplane_table(kSimSeed, n);
            ASSERT_TRUE(table);
            ASSERT_GE(table->length, n);
            Floats dots(table->stride);
            dot_table(*table, v, 0.0f, dots.data());
            for (unsigned h = 0; h < 128; ++h)
                ASSERT_EQ(fbits(dots[h]), fbits(simhash_hyperplane_dot(v, kSimSeed, static_cast<std::uint8_t>(h))))
                    << "n " << n << " h " << h;
            EXPECT_TRUE(simhash_128(v, kSimSeed) == simhash_128_streamed(v, kSimSeed)) << "n " << n;
            expect_kernels_agree(*table, v, 0.0f);
        }
    }
}

// Lengths beyond any table are drawn on demand.
TEST(HyperplaneTable, LongerThanAnyTable) {
    const Floats longer = sample(kMaxTableLength + 5, 3);
    EXPECT_FALSE(hyperplane_table(kSimSeed, longer.size()));
    EXPECT_TRUE(simhash_128(longer, kSimSeed) == simhash_128_streamed(longer, kSimSeed));
}

struct Shape {
    std::size_t d;
    std::uint16_t t;
};

// Shapes around the row groups and the targets the encode functions choose
// (the common space, the compression ladder's and the length budget's).
std::vector<Shape> projection_shapes() {
    std::vector<Shape> out;
    for (std::size_t d : {64, 65, 300, 768, 1023, 2048})
        for (std::size_t t : {std::size_t{1}, std::size_t{2}, std::size_t{15}, std::size_t{16}, std::size_t{17},
                              std::size_t{129}, d / 2, d - 1})
            if (t <= d) out.push_back({d, static_cast<std::uint16_t>(t)});
    for (std::uint16_t t : {25, 31, 153, 307, 760}) out.push_back({768, t});
    out.push_back({2048, 2048});
    return out;
}

TEST(ProjectionTable, MatchesTheStreams) {
    std::uint32_t salt = 0;
    for (const Shape& s : projection_shapes()) {
        for (Kind kind : kKinds) {
            if (s.d == 2048 && s.t > 1024 && kind != Kind::Padded) continue;  // the largest shape once
            const Floats v = stress(s.d, kind, ++salt);
            const auto got = project_to_lower_dims(v, s.t, kSimSeed);
            const auto want = project_to_lower_dims_streamed(v, s.t, kSimSeed);
            ASSERT_TRUE(got && want);
            expect_same_bits(*got, *want);
            if (HasFatalFailure()) FAIL() << "d " << s.d << " t " << s.t << " kind " << static_cast<int>(kind);
            const TableRef table = projection_table(kSimSeed, static_cast<std::uint16_t>(s.d), s.t);
            ASSERT_TRUE(table);
            expect_kernels_agree(*table, v, -0.0f);
        }
    }
}

// Signed zeros in short rows: a -0.0 sum turns +0.0 only where the row has
// an unsigned entry among the +0.0 values.
TEST(ProjectionTable, SignedZeroSums) {
    for (std::uint64_t seed = 0; seed < 64; ++seed)
        for (std::size_t d = 1; d <= 3; ++d)
            for (float zero : {0.0f, -0.0f}) {
                const Floats v(d, zero);
                for (std::uint16_t t = 1; t <= d; ++t)
                    expect_same_bits(*project_to_lower_dims(v, t, seed), *project_to_lower_dims_streamed(v, t, seed));
            }
}

// ---------------------------------------------------------------------------

class SmallBudget : public ::testing::Test {
protected:
    void SetUp() override {
        clear_tables();
        set_table_budget(std::size_t{3} << 20);
    }
    void TearDown() override {
        set_table_budget(kTableBudget);
        clear_tables();
    }
};

TEST_F(SmallBudget, EvictsTheLeastRecentlyUsedAndStaysCorrect) {
    const Floats v = sample(2000, 11);
    const TableRef first = hyperplane_table(1, v.size());  // 1 MiB each
    ASSERT_TRUE(first);
    Floats before(128);
    dot_table(*first, v, 0.0f, before.data());
    for (std::uint64_t seed = 2; seed < 8; ++seed) {
        EXPECT_TRUE(simhash_128(v, seed) == simhash_128_streamed(v, seed));
        EXPECT_LE(table_bytes_held(), table_budget());
    }
    // Evicted long ago, still readable through the reference held here.
    Floats after(128);
    dot_table(*first, v, 0.0f, after.data());
    expect_same_bits(after, before);
    EXPECT_NE(hyperplane_table(1, v.size()), first);
}

TEST_F(SmallBudget, KeyLargerThanTheBudgetIsDrawnOnDemand) {
    const Floats v = sample(2048, 5);
    EXPECT_FALSE(projection_table(3, 2048, 1024));  // 8 MiB
    expect_same_bits(*project_to_lower_dims(v, 1024, 3), *project_to_lower_dims_streamed(v, 1024, 3));
    EXPECT_EQ(table_bytes_held(), 0u);
}

// Threads asking for one key at once all get the one table, and its values.
TEST(TableCache, ThreadsAskingForOneKeyShareOneTable) {
    clear_tables();
    const Floats v = sample(1536, 9);
    const Floats want = *project_to_lower_dims_streamed(v, 200, 77);
    constexpr std::size_t kThreads = 8;
    std::vector<TableRef> tables(kThreads);
    std::vector<Floats> outputs(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            tables[i] = projection_table(77, 1536, 200);
            outputs[i] = *project_to_lower_dims(v, 200, 77);
        });
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < kThreads; ++i) {
        EXPECT_TRUE(tables[i] && tables[i] == tables[0]) << "thread " << i;
        expect_same_bits(outputs[i], want);
    }
}

}  // namespace
}  // namespace mivo::embeddings
