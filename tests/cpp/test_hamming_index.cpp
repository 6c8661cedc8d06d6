// The Hamming index against plain models: the k-nearest and range searches
// against a full sort of bytewise distances (by distance, then id), with
// every distance kernel and every worker count, so every way of cutting the
// work and every kernel's tail; remove; the saved form read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "collections/hamming_index.hpp"
#include "collections/index_file.hpp"

namespace mivo::collections {
namespace {

using Words = std::vector<std::uint64_t>;

// Codes near a few centres (a few bits flipped), some repeated exactly, so
// that distances cluster and tie.
Words clustered(std::size_t n, unsigned words, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    Words centres(4 * words);
    for (auto& w : centres) w = rng();
    Words out(n * words);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = i > 0 && rng() % 5 == 0 ? rng() % i : n;  // a copy of an earlier code
        for (unsigned w = 0; w < words; ++w)
            out[i * words + w] = from < n ? out[from * words + w] : centres[(i % 4) * words + w];
        for (int f = from < n ? 0 : static_cast<int>(rng() % 12); f > 0; --f)
            out[i * words + rng() % words] ^= 1ull << (rng() % 64);
    }
    return out;
}

// The distance as bytes count it.
std::uint32_t model_distance(const std::uint64_t* a, const std::uint64_t* b, unsigned words) {
    std::uint32_t d = 0;
    for (unsigned byte = 0; byte < 8 * words; ++byte)
        d += static_cast<std::uint32_t>(std::popcount(static_cast<unsigned>(
            reinterpret_cast<const std::uint8_t*>(a)[byte] ^ reinterpret_cast<const std::uint8_t*>(b)[byte])));
    return d;
}

const HammingKernel kKernels[] = {HammingKernel::Portable, HammingKernel::Avx2, HammingKernel::Avx512};

// ------------------------------------------------------------------- search

HammingIndex make_index(const Words& codes, unsigned words, const std::vector<std::int64_t>& ids) {
    HammingIndex index(words);
    index.add(ids.size(), ids, [&](std::uint64_t* out) { std::copy(codes.begin(), codes.end(), out); });
    return index;
}

// Runs every chunk of every round, in an order that differs from the plan's.
template <class Search>
void run_all(Search& s) {
    for (std::size_t r = 0; r < s.plan().rounds(); ++r)
        for (std::size_t c = s.plan().chunks(); c-- > 0;) s.run(r, c);
}

struct SearchCase {
    std::size_t n, queries, k;
    unsigned words;
    std::uint32_t radius;
};

class SearchAgainstModel : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchAgainstModel, EveryWorkerCountAndKernelGivesTheSortedModel) {
    ASSERT_TRUE(hamming_kernel_available(hamming_best_kernel()));
    const SearchCase c = GetParam();
    const Words codes = clustered(c.n + c.queries, c.words, c.n);
    // Ids out of insertion order, with repeats, so that the tie rule shows.
    std::vector<std::int64_t> ids(c.n);
    for (std::size_t i = 0; i < c.n; ++i) ids[i] = static_cast<std::int64_t>((i * 7919) % (c.n / 2 + 1));
    const HammingIndex index =
        make_index(Words(codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(c.n * c.words)), c.words, ids);
    const std::span<const std::uint64_t> queries(codes.data() + c.n * c.words, c.queries * c.words);
    std::vector<std::vector<std::pair<std::uint32_t, std::int64_t>>> model(c.queries);  // (distance, id), sorted
    for (std::size_t q = 0; q < c.queries; ++q) {
        for (std::size_t i = 0; i < c.n; ++i)
            model[q].emplace_back(model_distance(codes.data() + i * c.words, &queries[q * c.words], c.words), ids[i]);
        std::sort(model[q].begin(), model[q].end());
    }
    for (unsigned workers : {1u, 2u, 3u, 8u}) {
        for (HammingKernel kernel : kKernels) {
            if (!hamming_kernel_available(kernel)) continue;
            KnnSearch knn(index, queries, c.k, workers, kernel);
            run_all(knn);
            std::vector<std::int32_t> d(c.queries * c.k);
            std::vector<std::int64_t> got(c.queries * c.k);
            knn.finish(d.data(), got.data());
            RangeSearch range(index, queries, c.radius, workers, kernel);
            run_all(range);
            range.finish();
            for (std::size_t q = 0; q < c.queries; ++q) {
                const auto& all = model[q];
                for (std::size_t j = 0; j < c.k; ++j) {
                    const auto want = j < all.size() ? all[j] : std::pair<std::uint32_t, std::int64_t>{~0u, -1};
                    ASSERT_EQ(d[q * c.k + j], static_cast<std::int32_t>(want.first)) << "workers " << workers;
                    ASSERT_EQ(got[q * c.k + j], want.second)
                        << "workers " << workers << " query " << q << " rank " << j;
                }
                std::vector<std::pair<std::uint32_t, std::int64_t>> found, within;
                for (const Neighbor& f : range.result(q)) found.emplace_back(f.distance, f.id);
                std::copy_if(all.begin(), all.end(), std::back_inserter(within),
                             [&](const auto& p) { return p.first <= c.radius; });
                ASSERT_EQ(found, within) << "workers " << workers << " query " << q;
            }
        }
    }
}

// Where the codes are cut into lanes, the radius takes in every code: each
// must be met once.
INSTANTIATE_TEST_SUITE_P(Shapes, SearchAgainstModel,
                         ::testing::Values(SearchCase{0, 3, 4, 2, 40},          // an empty index pads every row
                                           SearchCase{5, 2, 9, 2, 40},          // k above the count
                                           SearchCase{47, 9, 50, 1, 9},         // steps of 8 and 16 codes and a tail
                                           SearchCase{33, 9, 3, 2, 0},          // radius 0
                                           SearchCase{2100, 40, 10, 2, 40},     // query blocks, a partial sub-block
                                           SearchCase{70000, 1, 25, 1, 64},     // one query: the codes cut into lanes
                                           SearchCase{40000, 3, 600, 2, 128}),  // a deep heap over lanes
                         [](const auto& info) {
                             const SearchCase& c = info.param;
                             return "n" + std::to_string(c.n) + "_q" + std::to_string(c.queries) + "_k" +
                                    std::to_string(c.k) + "_bits" + std::to_string(64 * c.words);
                         });

// ------------------------------------------------------------------ storage

TEST(HammingIndexStorage, DefaultIdsAreInsertionNumbersAndRemoveKeepsOrder) {
    const Words codes = clustered(6, 1, 9);
    HammingIndex index(1);
    std::ptrdiff_t from = 0;
    for (const std::vector<std::int64_t>& ids : {std::vector<std::int64_t>{}, {7, 7}, {}}) {
        index.add(2, ids, [&](std::uint64_t* out) { std::copy_n(codes.begin() + from, 2, out); });
        from += 2;
    }
    EXPECT_EQ(index.ids(), (HammingIndex::Ids{0, 1, 7, 7, 4, 5}));
    EXPECT_EQ(index.remove(std::vector<std::int64_t>{7, 1, 1, 99}), 3u);  // both 7s; 99 is not stored
    EXPECT_EQ(index.ids(), (HammingIndex::Ids{0, 4, 5}));
    EXPECT_EQ(index.codes(), (HammingIndex::Codes{codes[0], codes[4], codes[5]}));
    EXPECT_EQ(index.next_id(), 6u);
}

// ---------------------------------------------------------------- saved form
// (The messages for damaged files are tested from Python, through files.)

FormatResult<HammingIndex> read_back(std::span<const std::uint8_t> bytes) {
    MemorySource source(bytes);
    auto reader = IndexReader::start(source);
    if (!reader) return embeddings::unexpected(reader.error());
    for (std::size_t i = 0; i < reader->pieces(); ++i)
        if (auto ok = reader->read_piece(i, source); !ok) return embeddings::unexpected(ok.error());
    return reader->finish(source);
}

std::vector<std::uint8_t> saved(const HammingIndex& index) {
    IndexWriter writer(index);
    std::vector<std::uint8_t> out(writer.size());
    MemorySink sink(out.data());
    for (std::size_t i = 0; i < writer.pieces(); ++i) EXPECT_TRUE(writer.write_piece(i, sink));
    return out;
}

TEST(IndexFile, ReadsBackWhatItWroteOverSeveralPieces) {
    const std::size_t n = 300000;  // 4.8 MB of codes: two pieces
    std::vector<std::int64_t> ids(n);
    for (std::size_t i = 0; i < n; ++i) ids[i] = static_cast<std::int64_t>(i * 3);
    HammingIndex index = make_index(clustered(n, 2, 5), 2, ids);
    index.remove(std::vector<std::int64_t>{3});
    const auto bytes = saved(index);
    ASSERT_EQ(bytes.size(), 64 + (n - 1) * 24);
    const auto back = read_back(bytes);
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_TRUE(back->words() == 2 && back->next_id() == n && back->codes() == index.codes() &&
                back->ids() == index.ids());
}

TEST(IndexFile, ANegativeIdUnderAGoodChecksumIsRefused) {
    // The module never stores one; a file made elsewhere might.
    const auto back = read_back(saved(make_index(clustered(2, 1, 1), 1, {4, -7})));
    ASSERT_FALSE(back);
    EXPECT_EQ(back.error().message, "is damaged: it holds a negative id");
}

}  // namespace
}  // namespace mivo::collections
