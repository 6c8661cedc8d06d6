// Keystream kernels of every width, and the batched draws of a seeded stream:
// whatever is made at once, the stream reads the same keystream and gives the
// same deviates as one draw at a time.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "embeddings/seeded_stream.hpp"

namespace mivo::embeddings {
namespace {

std::uint32_t fbits(float x) { return std::bit_cast<std::uint32_t>(x); }

ChaChaKey test_key(std::uint32_t salt) {
    ChaChaKey key{};
    for (std::uint32_t i = 0; i < 8; ++i) key[i] = (0x9E3779B9u * (i + 1)) ^ (salt * 0x85EBCA6Bu);
    return key;
}

// Block k of the keystream from the RFC block function.
ChaChaState model_block(const ChaChaKey& key, std::uint64_t counter) {
    ChaChaState s{};
    for (int i = 0; i < 4; ++i) s[i] = kChaChaConstants[i];
    for (int i = 0; i < 8; ++i) s[4 + i] = key[i];
    s[12] = static_cast<std::uint32_t>(counter);
    s[13] = static_cast<std::uint32_t>(counter >> 32);
    return chacha20_block(s);
}

struct KernelCase {
    ChaChaKernel kernel;
    std::size_t nblocks;
    std::uint64_t counter;
};

std::string kernel_name(ChaChaKernel k) {
    switch (k) {
        case ChaChaKernel::Portable: return "Portable";
        case ChaChaKernel::Lanes4: return "Lanes4";
        case ChaChaKernel::Lanes8: return "Lanes8";
        case ChaChaKernel::Lanes16: return "Lanes16";
    }
    return "Unknown";
}

class KeystreamKernel : public ::testing::TestWithParam<KernelCase> {};

TEST_P(KeystreamKernel, EqualsSingleBlocks) {
    const KernelCase& c = GetParam();
    if (!chacha20_kernel_available(c.kernel)) GTEST_SKIP() << "not available on this processor";
    std::vector<std::uint32_t> out(16 * c.nblocks + 16, 0xA5A5A5A5u);
    const ChaChaKey key = test_key(static_cast<std::uint32_t>(c.counter) ^ static_cast<std::uint32_t>(c.nblocks));
    chacha20_blocks_with(c.kernel, key, c.counter, c.nblocks, out.data());
    for (std::size_t k = 0; k < c.nblocks; ++k) {
        const ChaChaState want = model_block(key, c.counter + k);
        for (std::size_t w = 0; w < 16; ++w) ASSERT_EQ(out[16 * k + w], want[w]) << "block " << k << " word " << w;
    }
    // Nothing is written past the requested blocks.
    for (std::size_t w = 16 * c.nblocks; w < out.size(); ++w) ASSERT_EQ(out[w], 0xA5A5A5A5u);
}

std::vector<KernelCase> kernel_cases() {
    std::vector<KernelCase> cases;
    for (ChaChaKernel k : {ChaChaKernel::Portable, ChaChaKernel::Lanes4, ChaChaKernel::Lanes8, ChaChaKernel::Lanes16})
        for (std::size_t n : {4u, 8u, 12u, 16u, 28u, 32u})
            for (std::uint64_t c : {0ull, 0xFFFFFFF8ull, 0x123456789ABCDEF0ull, 0xFFFFFFFFFFFFFFF0ull})
                cases.push_back({k, n, c});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Widths, KeystreamKernel, ::testing::ValuesIn(kernel_cases()),
                         [](const ::testing::TestParamInfo<KernelCase>& info) {
                             std::string name = kernel_name(info.param.kernel);
                             name += "_Blocks";
                             name += std::to_string(info.param.nblocks);
                             name += "_Counter";
                             name += std::to_string(info.param.counter);
                             return name;
                         });

TEST(KeystreamKernel, BestIsAvailableAndFourLanesAlwaysAre) {
    EXPECT_TRUE(chacha20_kernel_available(chacha20_best_kernel()));
    EXPECT_TRUE(chacha20_kernel_available(ChaChaKernel::Portable));
    EXPECT_TRUE(chacha20_kernel_available(ChaChaKernel::Lanes4));
}

// ---------------------------------------------------------------------------
// Batched draws

// The deviates one call at a time, and the draw that follows them.
struct OneByOne {
    std::vector<double> deviates;
    std::uint64_t next;
};

OneByOne one_by_one(std::uint64_t seed, std::uint8_t h, std::size_t n) {
    SeededStream s = SeededStream::for_hyperplane(seed, h);
    OneByOne r;
    for (std::size_t j = 0; j < n; ++j) r.deviates.push_back(s.standard_normal());
    r.next = s.next_u64();
    return r;
}

std::vector<float> sample(std::size_t n) {
    std::vector<float> v(n);
    std::uint32_t x = 0x2545F491u ^ static_cast<std::uint32_t>(n);
    for (float& f : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        f = static_cast<float>(static_cast<std::int32_t>(x)) * 0x1p-29f;
    }
    return v;
}

class BatchedDraws : public ::testing::TestWithParam<std::size_t> {};

// Lengths around the refill sizes (32, 64 and 128 draws), long runs that
// cross the ziggurat's slow paths many times, and a run continued after the
// batch: every path reads exactly the draws the one-by-one path reads.
TEST_P(BatchedDraws, FillsAndDotsFollowSingleDraws) {
    const std::size_t n = GetParam();
    const std::uint64_t seed = 0x4D49564F53494D48ull;
    const float scale = 0.0883883476f;
    const std::vector<float> v = sample(n);
    for (std::uint8_t h : {0, 77}) {
        const OneByOne want = one_by_one(seed, h, n);

        SeededStream a = SeededStream::for_hyperplane(seed, h);
        std::vector<float> plain(n);
        a.fill_standard_normal_f32(plain);
        for (std::size_t j = 0; j < n; ++j)
            ASSERT_EQ(fbits(plain[j]), fbits(static_cast<float>(want.deviates[j]))) << "n " << n << " j " << j;
        EXPECT_EQ(a.next_u64(), want.next);

        SeededStream b = SeededStream::for_hyperplane(seed, h);
        std::vector<float> scaled(n);
        b.fill_scaled_normal_f32(scaled, scale);
        for (std::size_t j = 0; j < n; ++j) {
            volatile float g = static_cast<float>(want.deviates[j]);
            volatile float e = g * scale;
            ASSERT_EQ(fbits(scaled[j]), fbits(e)) << "n " << n << " j " << j;
        }
        EXPECT_EQ(b.next_u64(), want.next);

        volatile float acc = 0.0f;
        volatile float acc_scaled = -0.0f;
        for (std::size_t j = 0; j < n; ++j) {
            volatile float g = static_cast<float>(want.deviates[j]);
            volatile float p = v[j] * g;
            acc = acc + p;
            volatile float e = g * scale;
            volatile float q = v[j] * e;
            acc_scaled = acc_scaled + q;
        }
        SeededStream c = SeededStream::for_hyperplane(seed, h);
        EXPECT_EQ(fbits(c.dot_standard_normal_f32(v, 0.0f)), fbits(acc)) << n;
        EXPECT_EQ(c.next_u64(), want.next);
        SeededStream d = SeededStream::for_hyperplane(seed, h);
        EXPECT_EQ(fbits(d.dot_scaled_normal_f32(v, scale, -0.0f)), fbits(acc_scaled)) << n;
        EXPECT_EQ(d.next_u64(), want.next);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, BatchedDraws,
                         ::testing::Values(0, 1, 7, 31, 32, 33, 63, 64, 65, 120, 127, 128, 129, 768, 2048, 20000),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             std::string name = "N";
                             name += std::to_string(info.param);
                             return name;
                         });

// Batches after single draws, and single draws after batches, in one stream.
TEST(BatchedDraws, MixedWithSingleDraws) {
    const std::uint64_t seed = 0x0123456789ABCDEFull;
    const OneByOne want = one_by_one(seed, 5, 3000);
    SeededStream s = SeededStream::for_hyperplane(seed, 5);
    std::size_t j = 0;
    for (std::size_t chunk : {3u, 200u, 1u, 64u, 5u, 1000u, 17u, 129u}) {
        for (std::size_t k = 0; k < 2; ++k, ++j) ASSERT_EQ(s.standard_normal(), want.deviates[j]) << j;
        std::vector<float> out(chunk);
        s.fill_standard_normal_f32(out);
        for (float f : out) {
            ASSERT_EQ(fbits(f), fbits(static_cast<float>(want.deviates[j]))) << j;
            ++j;
        }
    }
}

}  // namespace
}  // namespace mivo::embeddings
