// An exact Hamming index: codes of 8 or 16 bytes (text SimHash values,
// Mini128 payloads) in one contiguous block, each code's id beside it in a
// second block, in insertion order. Search scans blocks of codes for a block
// of queries with the distance kernels of hamming_kernels.hpp and keeps, per
// query, the k nearest in a bounded heap (or, for a range search, every code
// within the radius).
//
// Order of results: by distance, then by smaller id. Ids need not be unique:
// a code added twice under one id is found twice. The k nearest are the first
// k of that order, a set that does not depend on how the work is cut, so the
// answer is the same for every worker count.
//
// Not synchronised: a caller runs searches (const) side by side, and add or
// remove only alone.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "collections/hamming_kernels.hpp"

namespace mivo::collections {

// An allocator that leaves new elements unwritten (value-initialisation
// writes nothing), so that a block of codes grows or is loaded without first
// being filled with zeros that the copy then overwrites.
template <class T>
struct UninitAllocator : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = UninitAllocator<U>;
    };
    UninitAllocator() = default;
    template <class U>
    UninitAllocator(const UninitAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};
template <class T>
using UninitVector = std::vector<T, UninitAllocator<T>>;

// The stored word of a 64-bit code given as a number: its bytes, most
// significant first, as the saved form and a uint8 row hold them.
constexpr std::uint64_t code_word_of_value(std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t r = 0;
        for (int i = 0; i < 8; ++i, v >>= 8) r = (r << 8) | (v & 0xFF);
        return r;
    }
    return v;
}

// A found code: its distance to the query and its id, ordered by distance,
// then id.
struct Neighbor {
    std::uint32_t distance;
    std::int64_t id;
    friend constexpr bool operator<(const Neighbor& a, const Neighbor& b) {
        return a.distance != b.distance ? a.distance < b.distance : a.id < b.id;
    }
    friend constexpr bool operator==(const Neighbor&, const Neighbor&) = default;
};

class HammingIndex {
public:
    using Codes = UninitVector<std::uint64_t>;
    using Ids = UninitVector<std::int64_t>;

    // `words`: 1 for 64-bit codes, 2 for 128-bit codes.
    explicit HammingIndex(unsigned words) : words_(words) {}
    // An index holding `codes` (ids.size() * words of them) with their ids;
    // the next default id is `next_id`.
    HammingIndex(unsigned words, Codes codes, Ids ids, std::uint64_t next_id)
        : words_(words), codes_(std::move(codes)), ids_(std::move(ids)), next_id_(next_id) {}

    unsigned words() const { return words_; }
    unsigned bits() const { return 64 * words_; }
    std::size_t size() const { return ids_.size(); }
    // The id the next code added without ids gets: the number of codes added
    // so far, removed ones included.
    std::uint64_t next_id() const { return next_id_; }
    // Code i is codes()[i * words() .. (i + 1) * words()): its bytes as given,
    // in memory order.
    const Codes& codes() const { return codes_; }
    const Ids& ids() const { return ids_; }

    // Appends n codes, which fill(dest) writes (n * words() words), with the
    // caller's ids (n of them) or, when `ids` is empty, each code's insertion
    // number. Throws std::bad_alloc before changing anything; `fill` must not
    // throw.
    template <class Fill>
    void add(std::size_t n, std::span<const std::int64_t> ids, Fill&& fill) {
        make_room(n);
        const std::size_t old = size();
        codes_.resize(codes_.size() + n * words_);
        ids_.resize(old + n);
        fill(codes_.data() + old * words_);
        if (ids.empty())
            for (std::size_t i = 0; i < n; ++i) ids_[old + i] = static_cast<std::int64_t>(next_id_ + i);
        else
            std::copy(ids.begin(), ids.end(), ids_.begin() + static_cast<std::ptrdiff_t>(old));
        next_id_ += n;
    }

    // Removes every code whose id is listed (ids not stored are passed over);
    // the others keep their order. Returns how many codes went.
    std::size_t remove(std::span<const std::int64_t> ids);

private:
    // Capacity for n more codes, growing by half at least (so that many
    // small adds copy each code a bounded number of times).
    void make_room(std::size_t n);

    unsigned words_;
    Codes codes_;
    Ids ids_;
    std::uint64_t next_id_ = 0;
};

// How a scan of every code by every query is cut into work. Queries go in
// blocks; a block scans a stretch of codes one sub-block at a time (a
// sub-block stays in the cache while each query of the block scans it). The
// codes are split into lanes, contiguous parts scanned side by side, only
// when there are too few query blocks to keep the workers busy; each lane
// keeps results of its own, merged at the end. Rounds take the next stretch
// of every lane: the chunks of one round (lane x query block) touch disjoint
// results and may run at once, rounds run one after another, and a chunk
// is short (about 4 million code-query pairs) so that the caller can stop
// between chunks.
class ScanPlan {
public:
    static constexpr std::size_t kQueryBlock = 32;
    static constexpr std::size_t kSubBlock = 2048;

    ScanPlan(std::size_t codes, std::size_t queries, unsigned workers);

    std::size_t lanes() const { return lanes_; }
    std::size_t rounds() const { return rounds_; }
    // Chunks per round.
    std::size_t chunks() const { return lanes_ * query_blocks_; }

    struct Chunk {
        std::size_t lane, query_begin, query_end, code_begin, code_end;
    };
    Chunk chunk(std::size_t round, std::size_t index) const;

private:
    std::size_t codes_, queries_, query_blocks_, lanes_ = 1, round_codes_, rounds_ = 0;
};

// The k nearest codes of each query. Usage: construct, run(round, chunk)
// for every chunk of every round (a round's chunks may run at once, on
// other threads), then finish.
class KnnSearch {
public:
    // `queries`: nq * index.words() words. The index and the queries must
    // stay as they are until finish.
    KnnSearch(const HammingIndex& index, std::span<const std::uint64_t> queries, std::size_t k, unsigned workers,
              HammingKernel kernel = hamming_best_kernel());
    const ScanPlan& plan() const { return plan_; }
    void run(std::size_t round, std::size_t chunk);
    // Row q (k entries) of `distances` and `ids`: query q's k nearest in
    // order, padded with -1 where the index holds fewer than k codes.
    void finish(std::int32_t* distances, std::int64_t* ids) const;

private:
    const HammingIndex& index_;
    std::span<const std::uint64_t> queries_;
    std::size_t nq_, k_, cap_;
    HammingKernel kernel_;
    ScanPlan plan_;
    std::vector<Neighbor> heaps_;      // lanes x nq x cap: a max-heap each
    std::vector<std::size_t> filled_;  // lanes x nq
};

// Every code within a radius (inclusive) of each query; used as KnnSearch.
class RangeSearch {
public:
    RangeSearch(const HammingIndex& index, std::span<const std::uint64_t> queries, std::uint32_t radius,
                unsigned workers, HammingKernel kernel = hamming_best_kernel());
    const ScanPlan& plan() const { return plan_; }
    // Finds may outgrow memory: a chunk that cannot store them marks the
    // search as failed (and the caller stops).
    void run(std::size_t round, std::size_t chunk);
    bool failed() const { return failed_.load(); }
    // Sorts each query's finds; then result(q) is query q's list in order.
    void finish();
    std::span<const Neighbor> result(std::size_t q) const { return found_[q]; }

private:
    const HammingIndex& index_;
    std::span<const std::uint64_t> queries_;
    std::size_t nq_;
    std::uint32_t radius_;
    HammingKernel kernel_;
    ScanPlan plan_;
    std::vector<std::vector<Neighbor>> found_;  // lanes x nq
    std::atomic<bool> failed_{false};
};

}  // namespace mivo::collections
