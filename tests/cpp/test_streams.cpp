// Seeded streams: the keying, the ChaCha20 keystream and its word order in
// every kernel width, the 64-bit draws, and the batched draws against single
// ones (the deviates themselves are pinned by the exact identifiers).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "embeddings/seeded_stream.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

// Block `counter` of the keystream from the one-block function: 64-bit
// counter in words 12-13, nonce words zero.
ChaChaState model_block(const ChaChaKey& key, std::uint64_t counter) {
    ChaChaState s{};
    for (int i = 0; i < 4; ++i) s[i] = kChaChaConstants[i];
    for (int i = 0; i < 8; ++i) s[4 + i] = key[i];
    s[12] = static_cast<std::uint32_t>(counter);
    s[13] = static_cast<std::uint32_t>(counter >> 32);
    return chacha20_block(s);
}

// RFC 8439 A.1 test vector #1: all-zero key and nonce, block 0. With a zero
// nonce the 64-bit-counter layout gives the same block.
TEST(ChaCha20, ZeroKeyStreamMatchesRfc8439) {
    const Bytes want = from_hex(
        "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
        "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586");
    SeededStream s = SeededStream::from_key({});
    Bytes got;
    while (got.size() < want.size()) {
        const std::uint64_t draw = s.next_u64();  // the next 8 keystream bytes, little-endian
        for (int i = 0; i < 64; i += 8) got.push_back(static_cast<std::uint8_t>(draw >> i));
    }
    EXPECT_EQ(got, want);
}

// Every kernel width gives the single blocks, including where the low counter
// word wraps into the high word, and writes nothing past the blocks asked for.
TEST(ChaCha20, EveryKernelEqualsSingleBlocks) {
    EXPECT_TRUE(chacha20_kernel_available(chacha20_best_kernel()));
    for (ChaChaKernel kernel :
         {ChaChaKernel::Portable, ChaChaKernel::Lanes4, ChaChaKernel::Lanes8, ChaChaKernel::Lanes16}) {
        if (!chacha20_kernel_available(kernel)) continue;
        for (std::size_t n : {4u, 12u, 16u, 28u, 32u})
            for (std::uint64_t counter : {0ull, 0xFFFFFFF8ull, 0x123456789ABCDEF0ull, 0xFFFFFFFFFFFFFFF0ull}) {
                ChaChaKey key{};
                for (std::uint32_t i = 0; i < 8; ++i)
                    key[i] = (0x9E3779B9u * (i + 1)) ^ static_cast<std::uint32_t>(counter + n);
                std::vector<std::uint32_t> out(16 * n + 16, 0xA5A5A5A5u);
                chacha20_blocks_with(kernel, key, counter, n, out.data());
                for (std::size_t k = 0; k < n; ++k) {
                    const ChaChaState want = model_block(key, counter + k);
                    ASSERT_TRUE(std::equal(want.begin(), want.end(), out.begin() + 16 * k))
                        << "kernel " << int(kernel) << " blocks " << n << " counter " << counter << " block " << k;
                }
                for (std::size_t w = 16 * n; w < out.size(); ++w) ASSERT_EQ(out[w], 0xA5A5A5A5u);
            }
    }
}

// ---------------------------------------------------------------------------
// Key material and draws

TEST(KeyMaterial, LittleEndianLayouts) {
    // "MIVOSIMH" read big-endian.
    const HyperplaneKeyMaterial m = hyperplane_key_material(0x4D49564F53494D48ull, 0);
    EXPECT_EQ(Bytes(m.begin(), m.end()), Bytes({0x48, 0x4D, 0x49, 0x53, 0x4F, 0x56, 0x49, 0x4D, 0x00}));
    const HyperplaneKeyMaterial m127 = hyperplane_key_material(0x0102030405060708ull, 127);
    EXPECT_EQ(Bytes(m127.begin(), m127.end()), Bytes({8, 7, 6, 5, 4, 3, 2, 1, 127}));
    const ProjectionRowKeyMaterial r = projection_row_key_material(0x0102030405060708ull, 2048, 384, 0x0102);
    EXPECT_EQ(Bytes(r.begin(), r.end()), Bytes({8, 7, 6, 5, 4, 3, 2, 1, 0x00, 0x08, 0x80, 0x01, 0x02, 0x01}));
}

// ---------------------------------------------------------------------------
// Batched draws: whatever is made at once, the stream reads the same
// keystream and gives the same deviates as one draw at a time.

struct OneByOne {
    std::vector<double> deviates;
    std::uint64_t next;  // the draw that follows them
};

OneByOne one_by_one(std::uint64_t seed, std::uint8_t h, std::size_t n) {
    SeededStream s = SeededStream::for_hyperplane(seed, h);
    OneByOne r;
    for (std::size_t j = 0; j < n; ++j) r.deviates.push_back(s.standard_normal());
    r.next = s.next_u64();
    return r;
}

class BatchedDraws : public ::testing::TestWithParam<std::size_t> {};

// Lengths around the refill sizes (32, 64 and 128 draws) and long runs that
// cross the ziggurat's slow paths many times.
TEST_P(BatchedDraws, FillsAndDotsFollowSingleDraws) {
    const std::size_t n = GetParam();
    const std::uint64_t seed = 0x4D49564F53494D48ull;
    const float scale = 0.0883883476f;
    const Floats v = sample(n, static_cast<std::uint32_t>(n));
    for (std::uint8_t h : {0, 77}) {
        const OneByOne want = one_by_one(seed, h, n);
        Floats plain_want(n), scaled_want(n);
        float acc = 0.0f, acc_scaled = -0.0f;
        for (std::size_t j = 0; j < n; ++j) {
            plain_want[j] = static_cast<float>(want.deviates[j]);
            scaled_want[j] = plain_want[j] * scale;
            acc += v[j] * plain_want[j];
            acc_scaled += v[j] * scaled_want[j];
        }
        SeededStream a = SeededStream::for_hyperplane(seed, h), b = a, c = a, d = a;
        Floats plain(n), scaled(n);
        a.fill_standard_normal_f32(plain);
        b.fill_scaled_normal_f32(scaled, scale);
        expect_same_bits(plain, plain_want);
        expect_same_bits(scaled, scaled_want);
        EXPECT_EQ(fbits(c.dot_standard_normal_f32(v, 0.0f)), fbits(acc)) << n;
        EXPECT_EQ(fbits(d.dot_scaled_normal_f32(v, scale, -0.0f)), fbits(acc_scaled)) << n;
        // Each read exactly the draws of the single deviates.
        for (SeededStream* stream : {&a, &b, &c, &d}) EXPECT_EQ(stream->next_u64(), want.next);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, BatchedDraws,
                         ::testing::Values(0, 1, 31, 32, 33, 63, 64, 65, 127, 128, 129, 768, 20000));

// Batches after single draws, and single draws after batches, in one stream.
TEST(BatchedDraws, MixedWithSingleDraws) {
    const std::uint64_t seed = 0x0123456789ABCDEFull;
    const OneByOne want = one_by_one(seed, 5, 3000);
    SeededStream s = SeededStream::for_hyperplane(seed, 5);
    std::size_t j = 0;
    for (std::size_t chunk : {3u, 200u, 1u, 64u, 5u, 1000u, 17u, 129u}) {
        for (std::size_t k = 0; k < 2; ++k, ++j) ASSERT_EQ(s.standard_normal(), want.deviates[j]) << j;
        Floats out(chunk);
        s.fill_standard_normal_f32(out);
        for (float f : out) {
            ASSERT_EQ(fbits(f), fbits(static_cast<float>(want.deviates[j]))) << j;
            ++j;
        }
    }
}

}  // namespace
}  // namespace mivo::embeddings
