// The Hamming index against plain models: every distance kernel against a
// bytewise count, the k-nearest and range searches against a full sort for
// every worker count (so every way of cutting the work), the work plan's
// coverage, and remove.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
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
        if (i > 0 && rng() % 5 == 0) {  // a copy of an earlier code
            const std::size_t j = rng() % i;
            std::copy_n(out.begin() + static_cast<std::ptrdiff_t>(j * words), words,
                        out.begin() + static_cast<std::ptrdiff_t>(i * words));
            continue;
        }
        const std::size_t c = rng() % 4;
        for (unsigned w = 0; w < words; ++w) out[i * words + w] = centres[c * words + w];
        for (int f = static_cast<int>(rng() % 12); f > 0; --f) out[i * words + rng() % words] ^= 1ull << (rng() % 64);
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

TEST(HammingKernels, EveryKernelFindsWhatTheBytesSay) {
    ASSERT_TRUE(hamming_kernel_available(hamming_best_kernel()));
    for (unsigned words : {1u, 2u}) {
        const Words codes = clustered(300, words, words);
        for (std::size_t n : {0, 1, 7, 15, 16, 17, 33, 300}) {
            for (std::size_t q = 0; q < 4; ++q) {
                const std::uint64_t* query = codes.data() + q * 41 * words;
                for (std::uint32_t bound : {0u, 3u, 9u, 32u, 64u * words}) {
                    std::vector<std::uint32_t> want_at;
                    std::vector<std::uint8_t> want_d;
                    for (std::size_t i = 0; i < n; ++i)
                        if (const auto d = model_distance(codes.data() + i * words, query, words); d <= bound) {
                            want_at.push_back(static_cast<std::uint32_t>(i));
                            want_d.push_back(static_cast<std::uint8_t>(d));
                        }
                    for (HammingKernel k : kKernels) {
                        if (!hamming_kernel_available(k)) continue;
                        std::vector<std::uint32_t> at(n + 1, 0xDEAD);
                        std::vector<std::uint8_t> d(n + 1, 0xEE);
                        const std::size_t m =
                            hamming_within(k, words, codes.data(), n, query, bound, at.data(), d.data());
                        at.resize(m);
                        d.resize(m);
                        EXPECT_EQ(at, want_at) << "kernel " << int(k) << " words " << words << " n " << n;
                        EXPECT_EQ(d, want_d) << "kernel " << int(k) << " words " << words << " n " << n;
                    }
                }
            }
        }
    }
}

// ------------------------------------------------------------------- search

HammingIndex make_index(const Words& codes, unsigned words, const std::vector<std::int64_t>& ids) {
    HammingIndex index(words);
    index.add(ids.size(), ids, [&](std::uint64_t* out) { std::copy(codes.begin(), codes.end(), out); });
    return index;
}

// Every (distance, id) of every code for one query, sorted.
std::vector<Neighbor> model_all(const HammingIndex& index, const std::uint64_t* query) {
    std::vector<Neighbor> all;
    for (std::size_t i = 0; i < index.size(); ++i)
        all.push_back({model_distance(index.codes().data() + i * index.words(), query, index.words()), index.ids()[i]});
    std::sort(all.begin(), all.end());
    return all;
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
};

class SearchAgainstModel : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchAgainstModel, EveryWorkerCountAndKernelGivesTheSortedModel) {
    const SearchCase c = GetParam();
    const Words codes = clustered(c.n + c.queries, c.words, c.n);
    // Ids out of insertion order, with repeats, so that the tie rule shows.
    std::vector<std::int64_t> ids(c.n);
    for (std::size_t i = 0; i < c.n; ++i) ids[i] = static_cast<std::int64_t>((i * 7919) % (c.n / 2 + 1));
    const HammingIndex index =
        make_index(Words(codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(c.n * c.words)), c.words, ids);
    const std::span<const std::uint64_t> queries(codes.data() + c.n * c.words, c.queries * c.words);
    for (unsigned workers : {1u, 2u, 3u, 8u}) {
        for (HammingKernel kernel : kKernels) {
            if (!hamming_kernel_available(kernel)) continue;
            KnnSearch knn(index, queries, c.k, workers, kernel);
            run_all(knn);
            std::vector<std::int32_t> d(c.queries * c.k);
            std::vector<std::int64_t> got(c.queries * c.k);
            knn.finish(d.data(), got.data());
            const std::uint32_t radius = 40;
            RangeSearch range(index, queries, radius, workers, kernel);
            run_all(range);
            range.finish();
            for (std::size_t q = 0; q < c.queries; ++q) {
                const auto all = model_all(index, queries.data() + q * c.words);
                for (std::size_t j = 0; j < c.k; ++j) {
                    const Neighbor want = j < all.size() ? all[j] : Neighbor{0xFFFFFFFF, -1};
                    ASSERT_EQ(d[q * c.k + j], static_cast<std::int32_t>(want.distance)) << "workers " << workers;
                    ASSERT_EQ(got[q * c.k + j], want.id) << "workers " << workers << " query " << q << " rank " << j;
                }
                std::vector<Neighbor> within;
                for (const Neighbor& n : all)
                    if (n.distance <= radius) within.push_back(n);
                const auto found = range.result(q);
                ASSERT_EQ(std::vector<Neighbor>(found.begin(), found.end()), within) << "workers " << workers;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, SearchAgainstModel,
                         ::testing::Values(SearchCase{0, 3, 4, 2},         // an empty index pads every row
                                           SearchCase{5, 2, 9, 2},         // k above the count
                                           SearchCase{2100, 40, 10, 2},    // query blocks, a partial sub-block
                                           SearchCase{70000, 1, 25, 1},    // one query: the codes cut into lanes
                                           SearchCase{40000, 3, 600, 2}),  // a deep heap over lanes
                         [](const auto& info) {
                             const SearchCase& c = info.param;
                             return "n" + std::to_string(c.n) + "_q" + std::to_string(c.queries) + "_k" +
                                    std::to_string(c.k) + "_bits" + std::to_string(64 * c.words);
                         });

TEST(ScanPlan, EveryQueryMeetsEveryCodeOnce) {
    for (std::size_t n : {1, 2048, 16385, 40000})
        for (std::size_t queries : {1, 33, 70})
            for (unsigned workers : {1u, 2u, 5u}) {
                const ScanPlan plan(n, queries, workers);
                std::vector<std::vector<unsigned>> seen(queries, std::vector<unsigned>(n));
                for (std::size_t r = 0; r < plan.rounds(); ++r) {
                    for (std::size_t c = 0; c < plan.chunks(); ++c) {
                        const auto ch = plan.chunk(r, c);
                        for (std::size_t q = ch.query_begin; q < ch.query_end; ++q)
                            for (std::size_t i = ch.code_begin; i < ch.code_end; ++i) ++seen[q][i];
                    }
                }
                for (std::size_t q = 0; q < queries; ++q)
                    ASSERT_EQ(std::count(seen[q].begin(), seen[q].end(), 1u), static_cast<std::ptrdiff_t>(n))
                        << n << " codes, " << queries << " queries, " << workers << " workers";
            }
}

// ------------------------------------------------------------------ storage

TEST(HammingIndexStorage, DefaultIdsAreInsertionNumbersAndRemoveKeepsOrder) {
    const Words codes = clustered(6, 1, 9);
    HammingIndex index(1);
    const auto add = [&](std::size_t from, std::size_t n, std::vector<std::int64_t> ids) {
        index.add(n, ids,
                  [&](std::uint64_t* out) { std::copy_n(codes.begin() + static_cast<std::ptrdiff_t>(from), n, out); });
    };
    add(0, 2, {});
    add(2, 2, {7, 7});
    add(4, 2, {});
    EXPECT_EQ(index.ids(), (HammingIndex::Ids{0, 1, 7, 7, 4, 5}));
    EXPECT_EQ(index.remove(std::vector<std::int64_t>{7, 1, 1, 99}), 3u);  // both 7s; 99 is not stored
    EXPECT_EQ(index.ids(), (HammingIndex::Ids{0, 4, 5}));
    EXPECT_EQ(index.codes(), (HammingIndex::Codes{codes[0], codes[4], codes[5]}));
    EXPECT_EQ(index.next_id(), 6u);
}

TEST(HammingIndexStorage, CodeWordOfValueHoldsTheBytesMostSignificantFirst) {
    const std::uint64_t w = code_word_of_value(0x0102030405060708ull);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&w);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(bytes[i], i + 1);
}

// ---------------------------------------------------------------- saved form
// (The messages for damaged files are tested from Python, through files.)

std::vector<std::uint8_t> saved(const HammingIndex& index) {
    IndexWriter writer(index);
    std::vector<std::uint8_t> out(writer.size());
    MemorySink sink(out.data());
    for (std::size_t i = 0; i < writer.pieces(); ++i) EXPECT_TRUE(writer.write_piece(i, sink));
    return out;
}

FormatResult<HammingIndex> read_back(std::span<const std::uint8_t> bytes) {
    MemorySource source(bytes);
    auto reader = IndexReader::start(source);
    if (!reader) return embeddings::unexpected(reader.error());
    for (std::size_t i = 0; i < reader->pieces(); ++i)
        if (auto ok = reader->read_piece(i, source); !ok) return embeddings::unexpected(ok.error());
    return reader->finish(source);
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
    EXPECT_EQ(back->words(), 2u);
    EXPECT_EQ(back->next_id(), n);
    EXPECT_TRUE(back->codes() == index.codes());
    EXPECT_TRUE(back->ids() == index.ids());
}

TEST(IndexFile, ANegativeIdUnderAGoodChecksumIsRefused) {
    // The module never stores one; a file made elsewhere might.
    const HammingIndex index = make_index(clustered(2, 1, 1), 1, {4, -7});
    const auto back = read_back(saved(index));
    ASSERT_FALSE(back);
    EXPECT_EQ(back.error().message, "is damaged: it holds a negative id");
}

}  // namespace
}  // namespace mivo::collections
