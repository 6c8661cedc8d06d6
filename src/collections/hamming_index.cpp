#include "collections/hamming_index.hpp"

#include <new>

namespace mivo::collections {
namespace {

// Code-query pairs per chunk: a few milliseconds with the wide kernels,
// some tens with the plain one.
constexpr std::size_t kChunkPairs = std::size_t{1} << 22;
// Lanes are not cut shorter than this many codes.
constexpr std::size_t kMinLaneCodes = std::size_t{1} << 14;

std::size_t ceil_div(std::size_t a, std::size_t b) { return a / b + (a % b != 0); }

// Runs the distance kernel over the sub-blocks of a chunk for each of its
// queries, handing every code within found.bound(lane, q) to
// found.offer(lane, q, neighbor).
template <class Found>
void scan_chunk(const HammingIndex& index, std::span<const std::uint64_t> queries, HammingKernel kernel,
                const ScanPlan::Chunk& c, Found& found) {
    const unsigned words = index.words();
    const std::uint64_t* codes = index.codes().data();
    const std::int64_t* ids = index.ids().data();
    std::uint32_t at[ScanPlan::kSubBlock];
    std::uint8_t distance[ScanPlan::kSubBlock];
    for (std::size_t begin = c.code_begin; begin < c.code_end; begin += ScanPlan::kSubBlock) {
        const std::size_t n = std::min(ScanPlan::kSubBlock, c.code_end - begin);
        for (std::size_t q = c.query_begin; q < c.query_end; ++q) {
            const std::size_t m = hamming_within(kernel, words, codes + begin * words, n, queries.data() + q * words,
                                                 found.bound(c.lane, q), at, distance);
            for (std::size_t j = 0; j < m; ++j) found.offer(c.lane, q, Neighbor{distance[j], ids[begin + at[j]]});
        }
    }
}

}  // namespace

// ------------------------------------------------------------------ storage

void HammingIndex::make_room(std::size_t n) {
    const std::size_t need = size() + n;
    if (need <= ids_.capacity()) return;
    const std::size_t grown = std::max(need, size() + size() / 2);
    codes_.reserve(grown * words_);
    ids_.reserve(grown);
}

std::size_t HammingIndex::remove(std::span<const std::int64_t> ids) {
    std::vector<std::int64_t> gone(ids.begin(), ids.end());
    std::sort(gone.begin(), gone.end());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < size(); ++i) {
        if (std::binary_search(gone.begin(), gone.end(), ids_[i])) continue;
        if (kept != i) {
            ids_[kept] = ids_[i];
            std::copy_n(codes_.begin() + static_cast<std::ptrdiff_t>(i * words_), words_,
                        codes_.begin() + static_cast<std::ptrdiff_t>(kept * words_));
        }
        ++kept;
    }
    const std::size_t removed = size() - kept;
    ids_.resize(kept);
    codes_.resize(kept * words_);
    return removed;
}

// --------------------------------------------------------------------- plan

ScanPlan::ScanPlan(std::size_t codes, std::size_t queries, unsigned workers)
    : codes_(codes), queries_(queries), query_blocks_(ceil_div(queries, kQueryBlock)) {
    if (workers > 1 && query_blocks_ < 2 * std::size_t{workers})
        lanes_ = std::clamp<std::size_t>(ceil_div(2 * std::size_t{workers}, std::max<std::size_t>(query_blocks_, 1)), 1,
                                         std::max<std::size_t>(codes / kMinLaneCodes, 1));
    const std::size_t per_block = std::clamp<std::size_t>(queries, 1, kQueryBlock);
    round_codes_ = std::max<std::size_t>(1, kChunkPairs / per_block / kSubBlock) * kSubBlock;
    if (codes > 0 && queries > 0) rounds_ = ceil_div(ceil_div(codes, lanes_), round_codes_);
}

ScanPlan::Chunk ScanPlan::chunk(std::size_t round, std::size_t index) const {
    const std::size_t lane = index / query_blocks_, block = index % query_blocks_;
    const std::size_t lane_begin = codes_ * lane / lanes_, lane_end = codes_ * (lane + 1) / lanes_;
    const std::size_t begin = std::min(lane_end, lane_begin + round * round_codes_);
    return Chunk{lane, block * kQueryBlock, std::min(queries_, (block + 1) * kQueryBlock), begin,
                 std::min(lane_end, begin + round_codes_)};
}

// ---------------------------------------------------------------- k nearest

KnnSearch::KnnSearch(const HammingIndex& index, std::span<const std::uint64_t> queries, std::size_t k, unsigned workers,
                     HammingKernel kernel)
    : index_(index),
      queries_(queries),
      nq_(queries.size() / index.words()),
      k_(k),
      cap_(std::min(k, index.size())),
      kernel_(kernel),
      plan_(index.size(), nq_, workers),
      heaps_(plan_.lanes() * nq_ * cap_),
      filled_(plan_.lanes() * nq_) {}

void KnnSearch::run(std::size_t round, std::size_t chunk) {
    struct Heaps {
        KnnSearch& s;
        std::uint32_t bound(std::size_t lane, std::size_t q) const {
            const std::size_t h = lane * s.nq_ + q;
            return s.filled_[h] < s.cap_ ? s.index_.bits() : s.heaps_[h * s.cap_].distance;
        }
        void offer(std::size_t lane, std::size_t q, Neighbor n) {
            const std::size_t h = lane * s.nq_ + q;
            Neighbor* heap = s.heaps_.data() + h * s.cap_;
            std::size_t& filled = s.filled_[h];
            if (filled < s.cap_) {
                heap[filled++] = n;
                std::push_heap(heap, heap + filled);
            } else if (n < heap[0]) {
                std::pop_heap(heap, heap + s.cap_);
                heap[s.cap_ - 1] = n;
                std::push_heap(heap, heap + s.cap_);
            }
        }
    } heaps{*this};
    if (cap_ == 0) return;
    scan_chunk(index_, queries_, kernel_, plan_.chunk(round, chunk), heaps);
}

void KnnSearch::finish(std::int32_t* distances, std::int64_t* ids) const {
    std::vector<Neighbor> all;
    for (std::size_t q = 0; q < nq_; ++q) {
        all.clear();
        for (std::size_t lane = 0; lane < plan_.lanes(); ++lane) {
            const std::size_t h = lane * nq_ + q;
            const auto first = heaps_.begin() + static_cast<std::ptrdiff_t>(h * cap_);
            all.insert(all.end(), first, first + static_cast<std::ptrdiff_t>(filled_[h]));
        }
        const std::size_t keep = std::min(k_, all.size());
        std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(keep), all.end());
        for (std::size_t j = 0; j < k_; ++j) {
            distances[q * k_ + j] = j < keep ? static_cast<std::int32_t>(all[j].distance) : -1;
            ids[q * k_ + j] = j < keep ? all[j].id : -1;
        }
    }
}

// -------------------------------------------------------------------- range

RangeSearch::RangeSearch(const HammingIndex& index, std::span<const std::uint64_t> queries, std::uint32_t radius,
                         unsigned workers, HammingKernel kernel)
    : index_(index),
      queries_(queries),
      nq_(queries.size() / index.words()),
      radius_(std::min(radius, index.bits())),
      kernel_(kernel),
      plan_(index.size(), nq_, workers),
      found_(plan_.lanes() * nq_) {}

void RangeSearch::run(std::size_t round, std::size_t chunk) {
    struct Lists {
        RangeSearch& s;
        std::uint32_t bound(std::size_t, std::size_t) const { return s.radius_; }
        void offer(std::size_t lane, std::size_t q, Neighbor n) { s.found_[lane * s.nq_ + q].push_back(n); }
    } lists{*this};
    if (failed_.load(std::memory_order_relaxed)) return;
    try {
        scan_chunk(index_, queries_, kernel_, plan_.chunk(round, chunk), lists);
    } catch (const std::bad_alloc&) {
        failed_.store(true);
    }
}

void RangeSearch::finish() {
    for (std::size_t q = 0; q < nq_; ++q) {
        std::vector<Neighbor>& all = found_[q];
        for (std::size_t lane = 1; lane < plan_.lanes(); ++lane) {
            std::vector<Neighbor>& part = found_[lane * nq_ + q];
            all.insert(all.end(), part.begin(), part.end());
            std::vector<Neighbor>().swap(part);
        }
        std::sort(all.begin(), all.end());
    }
}

}  // namespace mivo::collections
