// Seeded streams: BLAKE3 keying, the ChaCha20 keystream and its word order,
// the 64-bit draws, the uniform conversions and the ziggurat.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "embeddings/seeded_stream.hpp"

namespace mivo::embeddings {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes from_hex(std::string_view hex) {
    Bytes out;
    auto nib = [](char c) -> int { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(nib(hex[i]) * 16 + nib(hex[i + 1])));
    return out;
}

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

std::uint64_t bits_of(double x) { return std::bit_cast<std::uint64_t>(x); }

// Keystream bytes [0, n_blocks * 64) for a 32-byte key, block by block with
// the one-block function: 64-bit counter in words 12-13, nonce words zero.
Bytes reference_keystream(const std::array<std::uint8_t, 32>& key, std::size_t n_blocks) {
    Bytes out;
    for (std::uint64_t c = 0; c < n_blocks; ++c) {
        ChaChaState s{};
        for (int i = 0; i < 4; ++i) s[i] = kChaChaConstants[i];
        for (int i = 0; i < 8; ++i)
            s[4 + i] = key[4 * i] | (key[4 * i + 1] << 8) | (key[4 * i + 2] << 16) | (std::uint32_t{key[4 * i + 3]} << 24);
        s[12] = static_cast<std::uint32_t>(c);
        s[13] = static_cast<std::uint32_t>(c >> 32);
        const ChaChaState block = chacha20_block(s);
        const Bytes b = le_bytes(block.data(), 16);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

// ---------------------------------------------------------------------------
// BLAKE3

struct Blake3Vector {
    std::string input;
    std::string digest_hex;
};

class Blake3Published : public ::testing::TestWithParam<Blake3Vector> {};

TEST_P(Blake3Published, PlainHashMatches) {
    const auto& p = GetParam();
    const Bytes in(p.input.begin(), p.input.end());
    const auto got = blake3_digest(in);
    EXPECT_EQ(Bytes(got.begin(), got.end()), from_hex(p.digest_hex));
}

INSTANTIATE_TEST_SUITE_P(Vectors, Blake3Published,
                         ::testing::Values(Blake3Vector{"", "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262"},
                                           Blake3Vector{"abc", "6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85"}));

// ---------------------------------------------------------------------------
// ChaCha20

TEST(ChaCha20, BlockFunctionMatchesRfc8439Section232) {
    // Key 00 01 .. 1f, block counter 1 (word 12), nonce 00 00 00 09 00 00 00 4a 00 00 00 00.
    ChaChaState s{};
    for (int i = 0; i < 4; ++i) s[i] = kChaChaConstants[i];
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t b = 4 * i;
        s[4 + i] = b | ((b + 1) << 8) | ((b + 2) << 16) | ((b + 3) << 24);
    }
    s[12] = 1;
    s[13] = 0x09000000;
    s[14] = 0x4a000000;
    s[15] = 0;
    const ChaChaState got = chacha20_block(s);
    const ChaChaState want = {0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3, 0xc7f4d1c7, 0x0368c033,
                              0x9aaa2204, 0x4e6cd4c3, 0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
                              0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2};
    EXPECT_EQ(got, want);
    EXPECT_EQ(le_bytes(got.data(), 16),
              from_hex("10f1e7e4d13b5915500fdd1fa32071c4c7d1f4c733c068030422aa9ac3d46c4e"
                       "d2826446079faa0914c2d705d98b02a2b5129cd1de164eb9cbd083e8a2503c4e"));
}

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

class FourBlocks : public ::testing::TestWithParam<std::uint64_t> {};

// The vector path, the portable path and four single blocks agree, including
// where the low counter word wraps into the high word.
TEST_P(FourBlocks, VectorPathEqualsSingleBlocks) {
    const std::uint64_t counter = GetParam();
    ChaChaKey key{};
    for (int i = 0; i < 8; ++i) key[i] = 0x9E3779B9u * static_cast<std::uint32_t>(i + 1) ^ 0x01234567u;
    std::uint32_t fast[kChaChaBufferWords];
    std::uint32_t slow[kChaChaBufferWords];
    chacha20_four_blocks(key, counter, fast);
    chacha20_four_blocks_portable(key, counter, slow);
    for (std::size_t k = 0; k < 4; ++k) {
        ChaChaState s{};
        for (int i = 0; i < 4; ++i) s[i] = kChaChaConstants[i];
        for (int i = 0; i < 8; ++i) s[4 + i] = key[i];
        const std::uint64_t c = counter + k;
        s[12] = static_cast<std::uint32_t>(c);
        s[13] = static_cast<std::uint32_t>(c >> 32);
        const ChaChaState block = chacha20_block(s);
        for (int w = 0; w < 16; ++w) {
            EXPECT_EQ(fast[16 * k + w], block[w]) << "block " << k << " word " << w;
            EXPECT_EQ(slow[16 * k + w], block[w]) << "block " << k << " word " << w;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Counters, FourBlocks,
                         ::testing::Values(0ull, 4ull, 0xFFFFFFFEull, 0xFFFFFFFFull, 0x123456789ABCDEF0ull,
                                           0xFFFFFFFFFFFFFFFEull));

// ---------------------------------------------------------------------------
// Key material and draws

TEST(KeyMaterial, HyperplaneLayoutIsSeedLittleEndianThenIndex) {
    // "MIVOSIMH" read big-endian.
    const std::uint64_t seed = 0x4D49564F53494D48ull;
    const HyperplaneKeyMaterial m = hyperplane_key_material(seed, 0);
    EXPECT_EQ(Bytes(m.begin(), m.end()), Bytes({0x48, 0x4D, 0x49, 0x53, 0x4F, 0x56, 0x49, 0x4D, 0x00}));
    const HyperplaneKeyMaterial m127 = hyperplane_key_material(0x0102030405060708ull, 127);
    EXPECT_EQ(Bytes(m127.begin(), m127.end()), Bytes({8, 7, 6, 5, 4, 3, 2, 1, 127}));
}

TEST(KeyMaterial, ProjectionRowLayoutIsLittleEndian) {
    const ProjectionRowKeyMaterial m = projection_row_key_material(0x0102030405060708ull, 2048, 384, 0x0102);
    EXPECT_EQ(Bytes(m.begin(), m.end()), Bytes({8, 7, 6, 5, 4, 3, 2, 1, 0x00, 0x08, 0x80, 0x01, 0x02, 0x01}));
}

TEST(SeededStream, ConstructorsHashTheKeyMaterial) {
    const std::uint64_t seed = 0xDEADBEEFCAFEF00Dull;
    const auto hm = hyperplane_key_material(seed, 77);
    const auto rm = projection_row_key_material(seed, 768, 128, 5);
    SeededStream a = SeededStream::for_hyperplane(seed, 77);
    SeededStream b(hm);
    SeededStream c = SeededStream::from_key(blake3_digest(hm));
    SeededStream d = SeededStream::for_projection_row(seed, 768, 128, 5);
    SeededStream e = SeededStream::from_key(blake3_digest(rm));
    for (int k = 0; k < 40; ++k) {
        const std::uint64_t v = a.next_u64();
        EXPECT_EQ(b.next_u64(), v);
        EXPECT_EQ(c.next_u64(), v);
        EXPECT_EQ(d.next_u64(), e.next_u64());
    }
}

// The k-th draw is the little-endian u64 at keystream bytes 8k .. 8k+7, across
// several refills of the four-block buffer.
TEST(SeededStream, DrawsReadTheKeystreamInOrder) {
    const auto material = projection_row_key_material(42, 2048, 128, 9);
    const auto key = blake3_digest(material);
    const Bytes ks = reference_keystream(key, 13);
    SeededStream s(material);
    for (std::size_t k = 0; k < ks.size() / 8; ++k) ASSERT_EQ(s.next_u64(), le_u64(ks, 8 * k)) << "draw " << k;
}

// ---------------------------------------------------------------------------
// Uniform conversions, against the arithmetic definitions.

class Uniforms : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(Uniforms, MatchArithmeticDefinitions) {
    const std::uint64_t b = GetParam();
    const double sym = static_cast<double>(b >> 12) * 0x1p-51 - 1.0;
    const double co = static_cast<double>(b >> 11) / 9007199254740992.0;
    const double op = (static_cast<double>(b >> 12) + 0.5) / 4503599627370496.0;
    EXPECT_EQ(bits_of(symmetric_uniform(b)), bits_of(sym));
    EXPECT_EQ(bits_of(closed_open_uniform(b)), bits_of(co));
    EXPECT_EQ(bits_of(open_uniform(b)), bits_of(op));
    EXPECT_GE(symmetric_uniform(b), -1.0);
    EXPECT_LT(symmetric_uniform(b), 1.0);
    EXPECT_GE(closed_open_uniform(b), 0.0);
    EXPECT_LT(closed_open_uniform(b), 1.0);
    EXPECT_GT(open_uniform(b), 0.0);
    EXPECT_LT(open_uniform(b), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Patterns, Uniforms,
                         ::testing::Values(0ull, 1ull, 0xFFFull, 0x1000ull, 0x7FFull, 0x800ull, 0x8000000000000000ull,
                                           0x7FFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0x0123456789ABCDEFull,
                                           0xFEDCBA9876543210ull));

TEST(Uniforms, EndPoints) {
    EXPECT_EQ(symmetric_uniform(0), -1.0);
    EXPECT_EQ(symmetric_uniform(0x8000000000000000ull), 0.0);
    EXPECT_FALSE(std::signbit(symmetric_uniform(0x8000000000000000ull)));
    EXPECT_EQ(symmetric_uniform(~0ull), 1.0 - 0x1p-51);
    EXPECT_EQ(closed_open_uniform(~0ull), 1.0 - 0x1p-53);
    EXPECT_EQ(open_uniform(0), 0x1p-53);
    EXPECT_EQ(open_uniform(~0ull), 1.0 - 0x1p-53);
}

// ---------------------------------------------------------------------------
// Ziggurat tables

struct TableRow {
    char table;  // 'X' or 'F'
    int index;
    std::uint64_t bits;
};

class ZigguratCheckRows : public ::testing::TestWithParam<TableRow> {};

TEST_P(ZigguratCheckRows, StoredBitPattern) {
    const auto& p = GetParam();
    const auto& t = p.table == 'X' ? ziggurat::x_table() : ziggurat::f_table();
    EXPECT_EQ(bits_of(t[p.index]), p.bits) << p.table << "[" << p.index << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ZigguratCheckRows,
    ::testing::Values(TableRow{'X', 0, 0x400F493B78164498ull}, TableRow{'X', 1, 0x400D3BB48209AD33ull},
                      TableRow{'X', 2, 0x400B981F3878F995ull}, TableRow{'X', 127, 0x3FF8AC8E92059192ull},
                      TableRow{'X', 255, 0x3FCB8D0BE3D69918ull}, TableRow{'X', 256, 0x0000000000000000ull},
                      TableRow{'F', 0, 0x3F3F4A946F0D1E21ull}, TableRow{'F', 1, 0x3F54A605B6B9F70Full},
                      TableRow{'F', 3, 0x3F708A1F03B0D9D7ull}, TableRow{'F', 94, 0x3FCA6B7E0B1996DFull},
                      TableRow{'F', 128, 0x3FD3B1507CF19C77ull}, TableRow{'F', 255, 0x3FEF446AC97C0265ull},
                      TableRow{'F', 256, 0x3FF0000000000000ull}));

TEST(ZigguratTables, ConstantsMatchTheirBitPatterns) {
    EXPECT_EQ(bits_of(ziggurat::kR), 0x400D3BB48209AD33ull);
    EXPECT_EQ(ziggurat::kV, 0.00492867323399);
}

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
    x[256] = 0.0;
    const auto& X = ziggurat::x_table();
    const auto& F = ziggurat::f_table();
    for (int i = 0; i <= 256; ++i) {
        EXPECT_EQ(bits_of(X[i]), bits_of(x[i])) << "X[" << i << "]";
        if (i == 0 || i == 3 || i == 94) {
            // Fixed rows: a few units in the last place away from the density.
            EXPECT_NE(bits_of(F[i]), bits_of(f(x[i]))) << "F[" << i << "]";
            EXPECT_LE(std::fabs(F[i] - f(x[i])), 8 * std::fabs(std::nextafter(F[i], 2.0) - F[i])) << "F[" << i << "]";
        } else {
            EXPECT_EQ(bits_of(F[i]), bits_of(f(x[i]))) << "F[" << i << "]";
        }
    }
    for (int i = 0; i < 256; ++i) {
        EXPECT_GT(X[i], X[i + 1]);
        EXPECT_LT(F[i], F[i + 1]);
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
            ASSERT_EQ(bits_of(fast.standard_normal()), bits_of(want)) << "h " << int(h) << " draw " << k;
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

TEST(StandardNormal, F32FillsRoundEachDeviate) {
    SeededStream a = SeededStream::for_projection_row(7, 100, 10, 3);
    SeededStream b = SeededStream::for_projection_row(7, 100, 10, 3);
    SeededStream c = SeededStream::for_projection_row(7, 100, 10, 3);
    std::vector<float> plain(1000), scaled(1000);
    a.fill_standard_normal_f32(plain);
    const float scale = 1.0f / std::sqrt(10.0f);
    c.fill_scaled_normal_f32(scaled, scale);
    for (std::size_t j = 0; j < plain.size(); ++j) {
        volatile float g = static_cast<float>(b.standard_normal());
        volatile float gs = g * scale;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(plain[j]), std::bit_cast<std::uint32_t>(float(g))) << j;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(scaled[j]), std::bit_cast<std::uint32_t>(float(gs))) << j;
    }
}

TEST(StandardNormal, MomentsTailAndShape) {
    constexpr int kDraws = 1000000;
    SeededStream s = SeededStream::for_hyperplane(12345, 3);
    std::vector<double> v(kDraws);
    double sum = 0.0;
    long beyond_r = 0;
    for (double& x : v) {
        x = s.standard_normal();
        sum += x;
        if (std::fabs(x) > ziggurat::kR) ++beyond_r;
    }
    const double mean = sum / kDraws;
    double ss = 0.0;
    for (double x : v) ss += (x - mean) * (x - mean);
    const double var = ss / kDraws;
    EXPECT_NEAR(mean, 0.0, 0.005);
    EXPECT_NEAR(var, 1.0, 0.01);
    // P(|x| > R) is about 2.6e-4.
    EXPECT_GT(beyond_r, 0);
    EXPECT_NEAR(static_cast<double>(beyond_r) / kDraws, std::erfc(ziggurat::kR / std::sqrt(2.0)), 1e-4);

    // Kolmogorov-Smirnov distance to the normal distribution.
    std::sort(v.begin(), v.end());
    double ks = 0.0;
    for (int k = 0; k < kDraws; ++k) {
        const double cdf = 0.5 * std::erfc(-v[k] / std::sqrt(2.0));
        ks = std::max({ks, std::fabs(cdf - static_cast<double>(k) / kDraws),
                       std::fabs(cdf - static_cast<double>(k + 1) / kDraws)});
    }
    EXPECT_LT(ks, 0.003);
}

}  // namespace
}  // namespace mivo::embeddings
