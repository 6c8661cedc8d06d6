#include "embeddings/tables.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <list>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "embeddings/seeded_stream.hpp"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#define MIVO_TABLES_MMAP 1
#endif

namespace mivo::embeddings {
namespace {

// Tables are mapped and unmapped whole, so an evicted table's memory goes
// back to the system at once instead of staying in the allocator's heap.
void* allocate_block(std::size_t bytes) {
#if MIVO_TABLES_MMAP
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
#else
    return ::operator new(bytes, std::align_val_t{64}, std::nothrow);
#endif
}

void release_block(void* p, std::size_t bytes) {
#if MIVO_TABLES_MMAP
    munmap(p, bytes);
#else
    (void)bytes;
    ::operator delete(p, std::align_val_t{64});
#endif
}

constexpr std::size_t round_up(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

constexpr std::size_t kHyperplanes = 128;

// Hyperplane tables come in a few lengths, so that a short embedding does
// not wait for 2048 entries per hyperplane to be drawn.
std::size_t hyperplane_length_class(std::size_t n) {
    std::size_t len = 256;
    while (len < n) len *= 2;
    return len;
}

std::size_t table_bytes(std::size_t rows, std::size_t length, bool with_signs) {
    const std::size_t data = length * round_up(rows, kDotRowGroup) * sizeof(float);
    return data + (with_signs ? rows * sizeof(std::uint16_t) : 0);
}

// The norm bounds of a hyperplane table's row prefixes.
std::size_t norm_bytes(std::size_t length) { return (length / kNormStep) * kHyperplanes * sizeof(float); }

// An upper bound of the square root of a sum of squares computed in f64:
// each square is exact (the values have at most 24 significant bits) and a
// sum of at most 2048 of them is within 2^-42 of the exact sum; the square
// root adds 2^-53. A margin of 2^-40, then rounded up to f32.
float norm_upper_bound(double sum_of_squares) {
    const double up = std::sqrt(sum_of_squares) * (1 + 0x1p-40);
    float f = static_cast<float>(up);
    if (static_cast<double>(f) < up) f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

// Writes the norm bounds of a hyperplane table's row prefixes into `norms`.
// Leaves the table without them when an entry is beyond what the sign
// pass's bound covers (|g| > 2^10; a normal deviate never is).
void add_row_norms(RowTable& table, float* norms) {
    const std::size_t length = table.length;
    const std::size_t stride = table.stride;
    for (std::size_t r = 0; r < stride; ++r) {
        double sum = 0;
        for (std::size_t j = 0; j < length; ++j) {
            const float g = table.data[j * stride + r];
            if (!(std::fabs(g) <= 0x1p10f)) return;
            sum += static_cast<double>(g) * g;
            if ((j + 1) % kNormStep == 0) norms[((j + 1) / kNormStep - 1) * stride + r] = norm_upper_bound(sum);
        }
    }
    table.norm_rows = norms;
}

// Draws rows 0 .. rows-1 (fill(r, span) writes row r) in groups of
// kDotRowGroup and stores them interleaved; padding rows are zero. A
// hyperplane table gets its row norms after the entries.
template <class Fill>
std::shared_ptr<RowTable> build_table(std::size_t rows, std::size_t length, bool with_signs, bool with_norms,
                                      Fill&& fill) {
    auto table = std::make_shared<RowTable>();
    const std::size_t bytes = table_bytes(rows, length, with_signs) + (with_norms ? norm_bytes(length) : 0);
    table->block = allocate_block(bytes);
    if (!table->block) return nullptr;
    table->block_bytes = bytes;
    table->rows = rows;
    table->stride = round_up(rows, kDotRowGroup);
    table->length = length;
    auto* data = static_cast<float*>(table->block);
    std::uint16_t* signs = nullptr;
    if (with_signs) signs = reinterpret_cast<std::uint16_t*>(data + length * table->stride);

    std::vector<float> group(kDotRowGroup * length);
    for (std::size_t r0 = 0; r0 < table->stride; r0 += kDotRowGroup) {
        for (std::size_t k = 0; k < kDotRowGroup; ++k) {
            const std::span<float> row(group.data() + k * length, length);
            const std::size_t r = r0 + k;
            if (r >= rows) {
                std::fill(row.begin(), row.end(), 0.0f);
                continue;
            }
            fill(r, row);
            if (signs) {
                std::size_t last = length;
                while (last > 0 && std::signbit(row[last - 1])) --last;
                signs[r] = static_cast<std::uint16_t>(last);
            }
        }
        // Into the group's block: entry j of its rows at j * width + offset.
        const std::size_t b0 = r0 / kTableBlockRows * kTableBlockRows;
        const std::size_t width = std::min(kTableBlockRows, table->stride - b0);
        float* block = data + b0 * length + (r0 - b0);
        for (std::size_t j = 0; j < length; ++j)
            for (std::size_t k = 0; k < kDotRowGroup; ++k) block[j * width + k] = group[k * length + j];
    }
    table->data = data;
    table->last_unsigned = signs;
    if (with_norms) add_row_norms(*table, data + length * table->stride);
    return table;
}

struct Key {
    std::uint8_t kind;  // 0: hyperplanes, 1: projection
    std::uint64_t seed;
    std::uint16_t a;  // hyperplanes: length class; projection: d
    std::uint16_t b;  // projection: t
    bool operator==(const Key&) const = default;
};

struct KeyHash {
    std::size_t operator()(const Key& k) const {
        std::uint64_t h = k.seed * 0x9E3779B97F4A7C15ull;
        h ^= (static_cast<std::uint64_t>(k.kind) << 32 | static_cast<std::uint64_t>(k.a) << 16 | k.b) +
             0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
        return static_cast<std::size_t>(h);
    }
};

class TableCache {
public:
    // The table of key, built by build() on first use. Null when it does not
    // fit the budget or could not be built. A new table's bytes are counted
    // (and older tables evicted) before it is built, so the tables never hold
    // more than the budget.
    template <class Build>
    TableRef get(const Key& key, std::size_t bytes, Build&& build) {
        std::shared_ptr<Slot> slot;
        {
            std::lock_guard lock(mu_);
            if (bytes > budget_) return nullptr;
            auto [it, inserted] = slots_.try_emplace(key);
            if (inserted) {
                it->second = std::make_shared<Slot>();
                it->second->bytes = bytes;
                lru_.push_front(key);
                it->second->lru = lru_.begin();
                held_ += bytes;
                evict_to_budget(it->second.get());
            } else {
                lru_.splice(lru_.begin(), lru_, it->second->lru);
            }
            slot = it->second;
        }
        // One thread builds; the others wait here for its table.
        std::call_once(slot->once, [&] {
            try {
                slot->table = build();
            } catch (const std::bad_alloc&) {
                slot->table = nullptr;
            }
        });
        TableRef table = slot->table;
        if (!table) {
            std::lock_guard lock(mu_);
            auto it = slots_.find(key);
            if (it != slots_.end() && it->second == slot) {
                held_ -= slot->bytes;
                lru_.erase(slot->lru);
                slots_.erase(it);
            }
        }
        return table;
    }

    std::size_t budget() {
        std::lock_guard lock(mu_);
        return budget_;
    }
    void set_budget(std::size_t bytes) {
        std::lock_guard lock(mu_);
        budget_ = bytes;
        evict_to_budget(nullptr);
    }
    std::size_t held() {
        std::lock_guard lock(mu_);
        return held_;
    }
    void clear() {
        std::lock_guard lock(mu_);
        slots_.clear();
        lru_.clear();
        held_ = 0;
    }

private:
    struct Slot {
        std::once_flag once;
        TableRef table;
        std::size_t bytes = 0;  // counted against the budget
        std::list<Key>::iterator lru;
    };

    // Drops the least recently used tables (not `keep`) until the held bytes
    // fit the budget. Calls still reading (or building) a dropped table keep
    // it alive until they finish.
    void evict_to_budget(const Slot* keep) {
        auto it = lru_.end();
        while (held_ > budget_ && it != lru_.begin()) {
            --it;
            auto s = slots_.find(*it);
            if (s->second.get() == keep) continue;
            held_ -= s->second->bytes;
            slots_.erase(s);
            it = lru_.erase(it);
        }
    }

    std::mutex mu_;
    std::unordered_map<Key, std::shared_ptr<Slot>, KeyHash> slots_;
    std::list<Key> lru_;  // most recently used first
    std::size_t budget_ = kTableBudget;
    std::size_t held_ = 0;
};

// Never destroyed: a call on another thread may still be reading at exit.
TableCache& cache() {
    static TableCache* c = new TableCache;
    return *c;
}

}  // namespace

void dot_table_with(DotKernel kernel, const RowTable& table, std::span<const float> v, float start, float* out) {
    for (std::size_t b0 = 0; b0 < table.stride; b0 += kTableBlockRows) {
        const std::size_t width = std::min(kTableBlockRows, table.stride - b0);
        dot_rows_with(kernel, table.data + b0 * table.length, width, width, v, start, out + b0);
    }
}

void dot_table(const RowTable& table, std::span<const float> v, float start, float* out) {
    dot_table_with(dot_best_kernel(), table, v, start, out);
}

RowTable::~RowTable() {
    if (block) release_block(block, block_bytes);
}

TableRef hyperplane_table(std::uint64_t seed, std::size_t length) {
    if (length > kMaxTableLength) return nullptr;
    const std::size_t len = hyperplane_length_class(length);
    const Key key{0, seed, static_cast<std::uint16_t>(len), 0};
    return cache().get(key, table_bytes(kHyperplanes, len, false) + norm_bytes(len), [&] {
        return build_table(kHyperplanes, len, false, true, [&](std::size_t h, std::span<float> row) {
            SeededStream::for_hyperplane(seed, static_cast<std::uint8_t>(h)).fill_standard_normal_f32(row);
        });
    });
}

TableRef projection_table(std::uint64_t seed, std::uint16_t d, std::uint16_t t) {
    if (d > kMaxTableLength || t == 0 || t > d) return nullptr;
    const Key key{1, seed, d, t};
    const float scale = 1.0f / std::sqrt(static_cast<float>(t));
    return cache().get(key, table_bytes(t, d, true), [&] {
        return build_table(t, d, true, false, [&](std::size_t r, std::span<float> row) {
            SeededStream::for_projection_row(seed, d, t, static_cast<std::uint16_t>(r))
                .fill_scaled_normal_f32(row, scale);
        });
    });
}

std::size_t table_budget() { return cache().budget(); }
void set_table_budget(std::size_t bytes) { cache().set_budget(bytes); }
std::size_t table_bytes_held() { return cache().held(); }
void clear_tables() { cache().clear(); }

}  // namespace mivo::embeddings
