// Seeded streams: BLAKE3 keying, the ChaCha20 keystream and its word order in
// every kernel width, the 64-bit draws, the uniform conversions, the ziggurat
// and the batched draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "embeddings/seeded_stream.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

// Words serialised little-endian, as the keystream bytes are.
Bytes le_bytes(const std::uint32_t* words, std::size_t n) {
    Bytes out;
    for (std::size_t i = 0; i < n; ++i)
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(words[i] >> (8 * k)));
    return out;
}

std::uint64_t le_u64(const Bytes& b, std::size_t at) {
    std::uint64_t v = 0;
    for (int k = 7; k >= 0; --k) v = (v << 8) | b[at + k];
    return v;
}

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

ChaChaKey key_words(const std::array<std::uint8_t, 32>& key) {
    ChaChaKey k{};
    for (int i = 0; i < 8; ++i)
        k[i] = key[4 * i] | (key[4 * i + 1] << 8) | (key[4 * i + 2] << 16) | (std::uint32_t{key[4 * i + 3]} << 24);
    return k;
}

// ---------------------------------------------------------------------------
// ChaCha20 against published vectors

// RFC 8439 A.1 test vectors #1 (counter 0) and #2 (counter 1): all-zero key,
// all-zero nonce. With a zero nonce the 64-bit-counter layout produces the
// same blocks, so a stream keyed by the zero key yields exactly these bytes.
TEST(ChaCha20, ZeroKeyStreamMatchesRfc8439AppendixA1) {
    const Bytes want = from_hex(
        "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
        "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586"
        "9f07e7be5551387a98ba977c732d080dcb0f29a048e3656912c6533e32ee7aed"
        "29b721769ce64e43d57133b074d839d531ed1f28510afb45ace10a1f4b794d6f");
    std::uint32_t words[kChaChaBufferWords];
    chacha20_four_blocks(ChaChaKey{}, 0, words);
    EXPECT_EQ(le_bytes(words, 32), want);
    chacha20_four_blocks_portable(ChaChaKey{}, 0, words);
    EXPECT_EQ(le_bytes(words, 32), want);
    SeededStream s = SeededStream::from_key({});
    for (std::size_t k = 0; k < want.size() / 8; ++k) EXPECT_EQ(s.next_u64(), le_u64(want, 8 * k)) << "draw " << k;
}

// Every kernel width gives the single blocks, including where the low counter
// word wraps into the high word, and writes nothing past the blocks asked for.
TEST(ChaCha20, EveryKernelEqualsSingleBlocks) {
    EXPECT_TRUE(chacha20_kernel_available(chacha20_best_kernel()));
    EXPECT_TRUE(chacha20_kernel_available(ChaChaKernel::Lanes4));
    for (ChaChaKernel kernel : {ChaChaKernel::Portable, ChaChaKernel::Lanes4, ChaChaKernel::Lanes8, ChaChaKernel::Lanes16}) {
        if (!chacha20_kernel_available(kernel)) continue;
        for (std::size_t n : {4u, 12u, 16u, 28u, 32u})
            for (std::uint64_t counter : {0ull, 0xFFFFFFF8ull, 0x123456789ABCDEF0ull, 0xFFFFFFFFFFFFFFF0ull}) {
                ChaChaKey key{};
                for (std::uint32_t i = 0; i < 8; ++i) key[i] = (0x9E3779B9u * (i + 1)) ^ static_cast<std::uint32_t>(counter + n);
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

// The k-th draw is the little-endian u64 at keystream bytes 8k .. 8k+7 of the
// key hashed from the key material, across several refills of the buffer.
TEST(SeededStream, DrawsReadTheKeystreamOfTheHashedKey) {
    const std::uint64_t seed = 0xDEADBEEFCAFEF00Dull;
    const auto hm = hyperplane_key_material(seed, 77);
    const auto rm = projection_row_key_material(seed, 2048, 128, 9);
    SeededStream hyper = SeededStream::for_hyperplane(seed, 77);
    SeededStream row = SeededStream::for_projection_row(seed, 2048, 128, 9);
    for (const auto& [material, stream] : {std::pair{Bytes(hm.begin(), hm.end()), &hyper},
                                           std::pair{Bytes(rm.begin(), rm.end()), &row}}) {
        const ChaChaKey key = key_words(blake3_digest(material));
        Bytes ks;
        for (std::uint64_t c = 0; c < 13; ++c) {
            const ChaChaState block = model_block(key, c);
            const Bytes b = le_bytes(block.data(), 16);
            ks.insert(ks.end(), b.begin(), b.end());
        }
        for (std::size_t k = 0; k < ks.size() / 8; ++k) ASSERT_EQ(stream->next_u64(), le_u64(ks, 8 * k)) << "draw " << k;
    }
}

// ---------------------------------------------------------------------------
// Uniform conversions, against the arithmetic definitions.

TEST(Uniforms, MatchArithmeticDefinitions) {
    for (std::uint64_t b : {0ull, 1ull, 0xFFFull, 0x1000ull, 0x7FFull, 0x800ull, 0x8000000000000000ull,
                            0xFFFFFFFFFFFFFFFFull, 0x0123456789ABCDEFull}) {
        EXPECT_EQ(dbits(symmetric_uniform(b)), dbits(static_cast<double>(b >> 12) * 0x1p-51 - 1.0)) << b;
        EXPECT_EQ(dbits(closed_open_uniform(b)), dbits(static_cast<double>(b >> 11) / 9007199254740992.0)) << b;
        EXPECT_EQ(dbits(open_uniform(b)), dbits((static_cast<double>(b >> 12) + 0.5) / 4503599627370496.0)) << b;
    }
}

// ---------------------------------------------------------------------------
// Ziggurat tables

// The committed tables are the recurrence evaluated now with <cmath>, except
// the three fixed F rows.
TEST(ZigguratTables, EqualTheRecurrenceRecomputed) {
    const double R = ziggurat::kR;
    const double V = ziggurat::kV;
    auto f = [](double x) { return std::exp(-x * x / 2.0); };
    std::array<double, 257> x{};
    x[0] = V / f(R);
    x[1] = R;
    for (int i = 2; i <= 255; ++i) x[i] = std::sqrt(-2 * std::log(V / x[i - 1] + f(x[i - 1])));
    const auto& X = ziggurat::x_table();
    const auto& F = ziggurat::f_table();
    for (int i = 0; i <= 256; ++i) {
        EXPECT_EQ(dbits(X[i]), dbits(x[i])) << "X[" << i << "]";
        if (i == 0 || i == 3 || i == 94) {
            // Fixed rows: a few units in the last place away from the density.
            EXPECT_NE(dbits(F[i]), dbits(f(x[i]))) << "F[" << i << "]";
            EXPECT_LE(std::fabs(F[i] - f(x[i])), 8 * std::fabs(std::nextafter(F[i], 2.0) - F[i])) << "F[" << i << "]";
        } else {
            EXPECT_EQ(dbits(F[i]), dbits(f(x[i]))) << "F[" << i << "]";
        }
    }
}

// ---------------------------------------------------------------------------
// standard_normal

struct PathCounts {
    long fast = 0, wedge_accept = 0, wedge_reject = 0, tail = 0, tail_retry = 0;
};

// A direct transcription of the ziggurat, drawing from its own stream.
double reference_normal(SeededStream& s, PathCounts& n) {
    const auto& X = ziggurat::x_table();
    const auto& F = ziggurat::f_table();
    const double R = ziggurat::kR;
    for (;;) {
        const std::uint64_t b = s.next_u64();
        const int i = static_cast<int>(b & 0xFF);
        const double u = static_cast<double>(b >> 12) * 0x1p-51 - 1.0;
        const double x = u * X[i];
        if (std::fabs(x) < X[i + 1]) {
            ++n.fast;
            return x;
        }
        if (i == 0) {
            ++n.tail;
            for (bool first = true;; first = false) {
                if (!first) ++n.tail_retry;
                const double a = (static_cast<double>(s.next_u64() >> 12) + 0.5) / 4503599627370496.0;
                const double c = (static_cast<double>(s.next_u64() >> 12) + 0.5) / 4503599627370496.0;
                const double xt = std::log(a) / R;
                const double yt = std::log(c);
                if (xt * xt <= yt * -2.0) return u < 0 ? xt - R : R - xt;
            }
        }
        const double U = static_cast<double>(s.next_u64() >> 11) / 9007199254740992.0;
        volatile double diff = F[i] - F[i + 1];
        volatile double prod = diff * U;
        volatile double lhs = F[i + 1] + prod;
        volatile double sq = x * x;
        volatile double arg = sq * -0.5;
        if (lhs < std::exp(arg)) {
            ++n.wedge_accept;
            return x;
        }
        ++n.wedge_reject;
    }
}

TEST(StandardNormal, MatchesDirectTranscriptionOnEveryPath) {
    PathCounts n;
    for (std::uint8_t h : {0, 1, 200}) {
        SeededStream fast = SeededStream::for_hyperplane(0x4D49564F53494D48ull, h);
        SeededStream ref = SeededStream::for_hyperplane(0x4D49564F53494D48ull, h);
        for (int k = 0; k < 150000; ++k) {
            const double want = reference_normal(ref, n);
            ASSERT_EQ(dbits(fast.standard_normal()), dbits(want)) << "h " << int(h) << " draw " << k;
        }
        // Both streams consumed the same number of draws.
        ASSERT_EQ(fast.next_u64(), ref.next_u64());
    }
    EXPECT_GT(n.fast, 0);
    EXPECT_GT(n.wedge_accept, 0);
    EXPECT_GT(n.wedge_reject, 0);
    EXPECT_GT(n.tail, 0);
    EXPECT_GT(n.tail_retry, 0);
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
        volatile float acc = 0.0f;
        volatile float acc_scaled = -0.0f;
        for (std::size_t j = 0; j < n; ++j) {
            volatile float g = static_cast<float>(want.deviates[j]);
            volatile float e = g * scale;
            volatile float p = v[j] * g;
            volatile float q = v[j] * e;
            plain_want[j] = g;
            scaled_want[j] = e;
            acc = acc + p;
            acc_scaled = acc_scaled + q;
        }
        SeededStream a = SeededStream::for_hyperplane(seed, h);
        Floats plain(n);
        a.fill_standard_normal_f32(plain);
        expect_same_bits(plain, plain_want);
        EXPECT_EQ(a.next_u64(), want.next);
        SeededStream b = SeededStream::for_hyperplane(seed, h);
        Floats scaled(n);
        b.fill_scaled_normal_f32(scaled, scale);
        expect_same_bits(scaled, scaled_want);
        EXPECT_EQ(b.next_u64(), want.next);
        SeededStream c = SeededStream::for_hyperplane(seed, h);
        EXPECT_EQ(fbits(c.dot_standard_normal_f32(v, 0.0f)), fbits(acc)) << n;
        EXPECT_EQ(c.next_u64(), want.next);
        SeededStream d = SeededStream::for_hyperplane(seed, h);
        EXPECT_EQ(fbits(d.dot_scaled_normal_f32(v, scale, -0.0f)), fbits(acc_scaled)) << n;
        EXPECT_EQ(d.next_u64(), want.next);
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
