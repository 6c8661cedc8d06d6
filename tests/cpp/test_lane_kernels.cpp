// The lane kernels, each one this processor runs (Python only reaches the
// widest), against the one-pair engines: edit and OSA distances of short
// and long blocks, Jaro counts of short ones, over choices of every storage
// width cut into tiles by small limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "strings/jaro_winkler.hpp"
#include "strings/lane_blocks.hpp"
#include "strings/levenshtein.hpp"
#include "strings/osa.hpp"

namespace mivo::strings::lanes {
namespace {

// A string kept as code points and as CPython would store it.
struct Stored {
    std::u32string chars;
    std::vector<unsigned char> bytes;
    FixedWidthText text() const {
        const char32_t top = chars.empty() ? 0 : *std::max_element(chars.begin(), chars.end());
        return {bytes.data(), chars.size(), top < 256 ? 1u : top < 65536 ? 2u : 4u};
    }
};

Stored make_stored(std::u32string chars) {
    Stored s{std::move(chars), {}};
    const unsigned width = s.text().width;
    s.bytes.resize(s.chars.size() * width + 1);
    for (std::size_t i = 0; i < s.chars.size(); ++i) {
        const char32_t c = s.chars[i];
        const auto narrow = static_cast<char16_t>(c);
        if (width == 1) s.bytes[i] = static_cast<unsigned char>(c);
        if (width == 2) std::memcpy(&s.bytes[2 * i], &narrow, 2);
        if (width == 4) std::memcpy(&s.bytes[4 * i], &c, 4);
    }
    return s;
}

std::vector<Stored> corpus(std::mt19937_64& rng, std::size_t count, std::size_t max_short) {
    const std::u32string alphabets[] = {U"abc", U"ab\u00e9\u00ff", U"a\u03b1\u65e5b", U"a\U0001F600\u00e9"};
    std::vector<Stored> out;
    for (std::size_t k = 0; k < count; ++k) {
        const std::u32string& a = alphabets[rng() % 4];
        const std::size_t n = k % 7 == 6 ? 65 + rng() % 460 : rng() % (max_short + 1);
        std::u32string s;
        for (std::size_t i = 0; i < n; ++i) s += a[rng() % a.size()];
        out.push_back(make_stored(std::move(s)));
    }
    return out;
}

TEST(LaneKernels, EveryKernelAgreesWithTheOnePairEngines) {
    std::mt19937_64 rng(0x1A9E5);
    const std::vector<Stored> choices = corpus(rng, 400, 64);
    const std::vector<Stored> queries = corpus(rng, 25, 90);
    std::vector<FixedWidthText> texts;
    for (const Stored& s : choices) texts.push_back(s.text());
    std::vector<std::uint32_t> order(texts.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](auto a, auto b) { return texts[a].size < texts[b].size; });

    for (LaneKernel kernel : {LaneKernel::Portable, LaneKernel::Avx2, LaneKernel::Avx512}) {
        if (!lane_kernel_available(kernel)) continue;
        const KernelSet& k = lane_kernels(kernel);
        std::size_t placed = 0;
        for (std::size_t next = 0; next < order.size();) {
            const ChoiceTile tile(k.vector_bytes, texts, std::span(order).subspan(next), true, {60, 3000, 6});
            next += tile.consumed();
            placed += tile.others().size();
            for (const Block& block : tile.blocks()) placed += block.count;
            for (const Stored& q : queries) {
                const std::size_t m = q.chars.size();
                if (m == 0) continue;
                std::vector<std::uint32_t> ids(m);
                tile.map(q.chars.data(), m, ids.data());
                std::vector<unsigned char> work(m * k.vector_bytes);
                for (std::size_t b = 0; b < tile.blocks().size(); ++b) {
                    const Block& block = tile.blocks()[b];
                    std::uint64_t lev[kMaxLanes], osa[kMaxLanes];
                    JaroLanes jaro{};
                    auto edit = block.length == 0 ? k.edit_long : k.edit_short;
                    edit(block, ids.data(), m, false, lev);
                    edit(block, ids.data(), m, true, osa);
                    if (block.length > 0) k.jaro_short(block, ids.data(), m, work.data(), jaro);
                    for (std::size_t lane = 0; lane < block.count; ++lane) {
                        const Stored& c = choices[tile.columns(b)[lane]];
                        SCOPED_TRACE(testing::Message() << "kernel " << int(kernel) << " m " << m << " n "
                                                        << c.chars.size() << " bits " << int(block.lane_bits));
                        ASSERT_EQ(lev[lane], levenshtein(q.text(), c.text()));
                        ASSERT_EQ(osa[lane], osa_distance(q.text(), c.text()));
                        if (block.length == 0) continue;
                        const std::size_t n = c.chars.size();
                        const double j = jaro.matches[lane] == 0
                                             ? 0.0
                                             : jaro_from_counts(jaro.matches[lane], jaro.transpositions[lane], m, n);
                        ASSERT_EQ(j, q.chars == c.chars ? 1.0 : jaro_decoded(q.chars.data(), m, c.chars.data(), n));
                        ASSERT_EQ(
                            winkler_boost(j, jaro.prefix[lane]),
                            q.chars == c.chars ? 1.0 : jaro_winkler_decoded(q.chars.data(), m, c.chars.data(), n));
                    }
                }
            }
        }
        EXPECT_EQ(placed, choices.size());  // each in one tile, in a lane or left to the pair path
    }
}

}  // namespace
}  // namespace mivo::strings::lanes
