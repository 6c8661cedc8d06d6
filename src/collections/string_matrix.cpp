#include "collections/string_matrix.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "strings/jaro_winkler.hpp"
#include "strings/lane_blocks.hpp"
#include "strings/lane_kernels.hpp"
#include "strings/stored_query.hpp"

namespace mivo::collections {

namespace {

namespace lanes = strings::lanes;
using strings::FixedWidthText;

// ------------------------------------------------------------ cells

template <class T>
T cell_of(std::uint64_t distance) {
    if constexpr (std::is_same_v<T, bool>) {
        return distance != 0;
    } else {
        return static_cast<T>(static_cast<std::int64_t>(distance));  // wraps, as NumPy's cast from int64
    }
}

template <class T>
T cell_of(double similarity) {
    if constexpr (std::is_same_v<T, bool>) {
        return similarity != 0.0;
    } else {
        return static_cast<T>(similarity);  // 0.0 to 1.0: truncated or rounded, never out of range
    }
}

template <class T, class Value>
void write_cells(unsigned char* row, const std::uint32_t* columns, const Value* values, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const T cell = cell_of<T>(values[k]);
        std::memcpy(row + std::size_t{columns[k]} * sizeof(T), &cell, sizeof(T));
    }
}

std::size_t cell_size(CellType type) {
    switch (type) {
        case CellType::Bool:
        case CellType::Int8:
        case CellType::UInt8: return 1;
        case CellType::Int16:
        case CellType::UInt16: return 2;
        case CellType::Int32:
        case CellType::UInt32:
        case CellType::Float32: return 4;
        default: return 8;
    }
}

// One row of the matrix.
struct Cells {
    unsigned char* row;
    CellType type;

    template <class Value>
    void put(const std::uint32_t* columns, const Value* values, std::size_t count) const {
        switch (type) {
            case CellType::Bool: return write_cells<bool>(row, columns, values, count);
            case CellType::Int8: return write_cells<std::int8_t>(row, columns, values, count);
            case CellType::Int16: return write_cells<std::int16_t>(row, columns, values, count);
            case CellType::Int32: return write_cells<std::int32_t>(row, columns, values, count);
            case CellType::Int64: return write_cells<std::int64_t>(row, columns, values, count);
            case CellType::UInt8: return write_cells<std::uint8_t>(row, columns, values, count);
            case CellType::UInt16: return write_cells<std::uint16_t>(row, columns, values, count);
            case CellType::UInt32: return write_cells<std::uint32_t>(row, columns, values, count);
            case CellType::UInt64: return write_cells<std::uint64_t>(row, columns, values, count);
            case CellType::Float32: return write_cells<float>(row, columns, values, count);
            case CellType::Float64: return write_cells<double>(row, columns, values, count);
        }
    }
};

// ------------------------------------------------------------ scores

// A margin far above the rounding of a bound: a bound this much below a mark
// cannot reach it.
constexpr double kBoundMargin = 1e-9;

std::size_t length_gap(std::size_t m, std::size_t n) { return m > n ? m - n : n - m; }

// The most a similarity of strings of m and n values (neither empty) can
// be when at most k values of the choice pair up with the query's (k at
// most min(m, n)) and their common prefix is l: the distance is at least
// max(m, n) - k, the Jaro matches at most k, without transpositions. The
// scores' rounded steps are monotone in these counts.
double similarity_bound(StringScorer scorer, std::size_t m, std::size_t n, std::size_t k, std::size_t l) {
    const double normalized = strings::normalized_from_distance(std::max(m, n) - k, m, n);
    if (scorer == StringScorer::NormalizedLevenshtein) return normalized;
    const double jaro = k == 0 ? 0.0 : strings::jaro_from_counts(static_cast<std::uint32_t>(k), 0, m, n);
    if (scorer == StringScorer::Jaro) return jaro;
    const double jaro_winkler = strings::winkler_boost(jaro, l);
    if (scorer == StringScorer::JaroWinkler) return jaro_winkler;
    return strings::larger_score(normalized, jaro_winkler);
}

// The same from the lengths alone.
double similarity_bound(StringScorer scorer, std::size_t m, std::size_t n) {
    const std::size_t k = std::min(m, n);
    return similarity_bound(scorer, m, n, k, std::min(k, strings::kWinklerMaxPrefix));
}

// Which characters the query holds, to count the values of a choice that
// may pair up with the query's (an upper bound of the edit distance's
// matches, transposed pairs included, and of the Jaro matches).
class QueryCharacters {
public:
    QueryCharacters(const char32_t* q, std::size_t m) {
        for (std::size_t i = 0; i < m; ++i) {
            if (q[i] < 256)
                low_[q[i]] = 1;
            else
                high_.push_back(q[i]);
        }
        std::sort(high_.begin(), high_.end());
    }
    std::size_t count(FixedWidthText t) const {
        return lanes::with_stored(t, [&](const auto* p, std::size_t n) {
            std::size_t k = 0;
            if constexpr (sizeof(*p) == 1) {
                for (std::size_t j = 0; j < n; ++j) k += low_[p[j]];
            } else {
                for (std::size_t j = 0; j < n; ++j) {
                    const char32_t c = p[j];
                    k += c < 256 ? low_[c] : std::binary_search(high_.begin(), high_.end(), c);
                }
            }
            return k;
        });
    }

private:
    std::uint8_t low_[256] = {};
    std::vector<char32_t> high_;
};

// The common prefix of q[0, m) and t, up to the Winkler limit.
std::size_t common_prefix(const char32_t* q, std::size_t m, FixedWidthText t) {
    return lanes::with_stored(t, [&](const auto* p, std::size_t n) {
        const std::size_t limit = std::min({m, n, strings::kWinklerMaxPrefix});
        std::size_t l = 0;
        while (l < limit && q[l] == static_cast<char32_t>(p[l])) ++l;
        return l;
    });
}

// A similarity of a query of m values and an empty choice (or the reverse).
double similarity_with_empty(std::size_t m) { return m == 0 ? 1.0 : 0.0; }

double pair_similarity(const strings::StoredQuery& q, FixedWidthText t, StringScorer scorer) {
    switch (scorer) {
        case StringScorer::NormalizedLevenshtein: return q.normalized_levenshtein(t);
        case StringScorer::Jaro: return q.jaro(t);
        case StringScorer::JaroWinkler: return q.jaro_winkler(t);
        default: return q.best_match(t);
    }
}

// The values of one (m, n) pair of lengths, each computed on first use.
class Memo {
public:
    explicit Memo(std::size_t size) : values_(size), stamps_(size, 0) {}
    void select(std::size_t m, std::size_t n) {
        if (m != m_ || n != n_) {
            m_ = m;
            n_ = n;
            ++generation_;
        }
    }
    template <class F>
    double get(std::size_t key, F&& compute) {
        if (stamps_[key] != generation_) {
            stamps_[key] = generation_;
            values_[key] = compute();
        }
        return values_[key];
    }

private:
    std::vector<double> values_;
    std::vector<std::uint32_t> stamps_;
    std::uint32_t generation_ = 1;
    std::size_t m_ = ~std::size_t{0}, n_ = ~std::size_t{0};
};

constexpr std::size_t kCounts = lanes::kMaxShort + 1;

}  // namespace

// ------------------------------------------------------------ the matrix

struct StringMatrix::Tile {
    Tile(std::size_t vector_bytes, std::span<const FixedWidthText> choices, std::span<const std::uint32_t> order,
         bool long_lanes)
        : choices(vector_bytes, choices, order, long_lanes) {}
    lanes::ChoiceTile choices;
    double row_cost = 0.0;  // nanoseconds per row, roughly
};

namespace {

// What one thread needs for its rows: the query and its tile ids, the Jaro
// kernel's steps, the lane values and the scores of the current lengths.
struct RowWork {
    std::vector<char32_t> query;
    std::vector<std::uint32_t> ids;
    std::vector<unsigned char> jaro_steps;
    std::uint64_t distances[lanes::kMaxLanes];
    double similarities[lanes::kMaxLanes];
    lanes::JaroLanes jaro;
    Memo jaro_scores{kCounts * kCounts};  // by matches * kCounts + transpositions
    Memo normalized{kCounts};             // by distance - |m - n|
};

// One row: the query against the tile's blocks, then its other choices.
class Row {
public:
    Row(const lanes::KernelSet& kernels, const lanes::ChoiceTile& tile, std::span<const FixedWidthText> choices,
        StringScorer scorer, ScoreCutoff cutoff, FixedWidthText query, Cells cells, RowWork& work)
        : kernels_(kernels),
          tile_(tile),
          choices_(choices),
          scorer_(scorer),
          cutoff_(cutoff),
          text_(query),
          m_(query.size),
          cells_(cells),
          work_(work) {
        work.query.resize(m_);
        lanes::with_stored(query, [&](const auto* p, std::size_t) { std::copy(p, p + m_, work.query.begin()); });
        work.ids.resize(m_);
        tile.map(work.query.data(), m_, work.ids.data());
    }

    void run() {
        for (std::size_t b = 0; b < tile_.blocks().size(); ++b) {
            if (is_distance(scorer_))
                block_distances(tile_.blocks()[b], tile_.columns(b));
            else
                block_similarities(tile_.blocks()[b], tile_.columns(b));
        }
        for (const std::uint32_t& index : tile_.others()) other(index);
    }

private:
    std::size_t length(const lanes::Block& b, const std::uint32_t* columns, std::size_t k) const {
        return b.length != 0 ? b.length : choices_[columns[k]].size;
    }

    // The query prepared for the pair-by-pair path, built when first needed.
    const strings::StoredQuery& stored() {
        if (!stored_) stored_ = std::make_unique<strings::StoredQuery>(text_);
        return *stored_;
    }

    void put_distances(const std::uint32_t* columns, std::size_t count) {
        if (cutoff_.active)
            for (std::size_t k = 0; k < count; ++k) work_.distances[k] = std::min(work_.distances[k], over());
        cells_.put(columns, work_.distances, count);
    }

    void put_similarities(const std::uint32_t* columns, std::size_t count) {
        if (cutoff_.active)
            for (std::size_t k = 0; k < count; ++k)
                if (work_.similarities[k] < cutoff_.similarity) work_.similarities[k] = 0.0;
        cells_.put(columns, work_.similarities, count);
    }

    std::uint64_t over() const { return cutoff_.distance + 1; }

    void edit(const lanes::Block& b, bool osa) {
        (b.length == 0 ? kernels_.edit_long : kernels_.edit_short)(b, work_.ids.data(), m_, osa, work_.distances);
    }

    void block_distances(const lanes::Block& b, const std::uint32_t* columns) {
        std::size_t gap = ~std::size_t{0};
        for (std::size_t k = 0; cutoff_.active && k < b.count; ++k)
            gap = std::min(gap, length_gap(m_, length(b, columns, k)));
        if (m_ == 0 || (cutoff_.active && gap > cutoff_.distance)) {
            // Nothing to run: the distance is the choice's length, or every
            // lane is past the cutoff.
            for (std::size_t k = 0; k < b.count; ++k) work_.distances[k] = m_ == 0 ? length(b, columns, k) : over();
        } else {
            edit(b, scorer_ == StringScorer::OsaDistance);
        }
        put_distances(columns, b.count);
    }

    void block_similarities(const lanes::Block& b, const std::uint32_t* columns) {
        const std::size_t count = b.count;
        double bound = m_ == 0 ? 0.0 : 1.0;  // every choice here is non-empty
        if (cutoff_.active && m_ > 0) {
            bound = 0.0;
            for (std::size_t k = 0; k < count; ++k)
                bound = std::max(bound, similarity_bound(scorer_, m_, length(b, columns, k)));
        }
        if (bound == 0.0 || (cutoff_.active && bound + kBoundMargin < cutoff_.similarity)) {
            std::fill(work_.similarities, work_.similarities + count, 0.0);
            return put_similarities(columns, count);
        }
        if (scorer_ == StringScorer::NormalizedLevenshtein || scorer_ == StringScorer::BestMatch) {
            edit(b, false);
            work_.normalized.select(m_, b.length);
            for (std::size_t k = 0; k < count; ++k) {
                const std::uint64_t d = work_.distances[k];
                const std::size_t n = length(b, columns, k);
                auto normalized = [&] { return strings::normalized_from_distance(d, m_, n); };
                work_.similarities[k] =
                    b.length == 0 ? normalized() : work_.normalized.get(d - length_gap(m_, n), normalized);
            }
        }
        if (scorer_ == StringScorer::NormalizedLevenshtein) return put_similarities(columns, count);
        if (b.length == 0) {
            // Long choices leave the Jaro part to the pair-by-pair path.
            for (std::size_t k = 0; k < count; ++k)
                work_.similarities[k] =
                    strings::larger_score(work_.similarities[k], stored().jaro_winkler(choices_[columns[k]]));
            return put_similarities(columns, count);
        }
        work_.jaro_steps.resize(m_ * kernels_.vector_bytes);
        kernels_.jaro_short(b, work_.ids.data(), m_, work_.jaro_steps.data(), work_.jaro);
        work_.jaro_scores.select(m_, b.length);
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t matches = work_.jaro.matches[k], trans = work_.jaro.transpositions[k];
            double j = work_.jaro_scores.get(matches * kCounts + trans, [&] {
                return matches == 0 ? 0.0 : strings::jaro_from_counts(matches, trans, m_, b.length);
            });
            if (scorer_ != StringScorer::Jaro) j = strings::winkler_boost(j, work_.jaro.prefix[k]);
            work_.similarities[k] =
                scorer_ == StringScorer::BestMatch ? strings::larger_score(work_.similarities[k], j) : j;
        }
        put_similarities(columns, count);
    }

    void other(const std::uint32_t& index) {
        const FixedWidthText t = choices_[index];
        const bool empty = t.size == 0 || m_ == 0;
        if (is_distance(scorer_)) {
            if (empty)
                work_.distances[0] = std::max(m_, t.size);
            else if (cutoff_.active && length_gap(m_, t.size) > cutoff_.distance)
                work_.distances[0] = over();
            else
                work_.distances[0] = stored().distance(t, scorer_ == StringScorer::OsaDistance);
            return put_distances(&index, 1);
        }
        if (empty)
            work_.similarities[0] = similarity_with_empty(std::max(m_, t.size));
        else if (cutoff_.active && similarity_bound(scorer_, m_, t.size) + kBoundMargin < cutoff_.similarity)
            work_.similarities[0] = 0.0;
        else
            work_.similarities[0] = pair_similarity(stored(), t, scorer_);
        put_similarities(&index, 1);
    }

    const lanes::KernelSet& kernels_;
    const lanes::ChoiceTile& tile_;
    std::span<const FixedWidthText> choices_;
    StringScorer scorer_;
    ScoreCutoff cutoff_;
    FixedWidthText text_;
    std::size_t m_;
    Cells cells_;
    RowWork& work_;
    std::unique_ptr<strings::StoredQuery> stored_;
};

}  // namespace

StringMatrix::StringMatrix(std::span<const FixedWidthText> queries, std::span<const FixedWidthText> choices,
                           StringScorer scorer, ScoreCutoff cutoff, CellType type, void* out)
    : queries_(queries),
      choices_(choices),
      scorer_(scorer),
      cutoff_(cutoff),
      type_(type),
      out_(static_cast<unsigned char*>(out)),
      order_(choices.size()) {
    // In order of length: a bucket per short length, the longer ones sorted.
    std::vector<std::size_t> start(kCounts + 2, 0);
    for (const FixedWidthText& t : choices) ++start[std::min(t.size, kCounts) + 1];
    for (std::size_t k = 0; k + 1 < start.size(); ++k) start[k + 1] += start[k];
    for (std::size_t i = 0; i < choices.size(); ++i)
        order_[start[std::min(choices[i].size, kCounts)]++] = static_cast<std::uint32_t>(i);
    const auto long_begin = order_.begin() + static_cast<std::ptrdiff_t>(start[kCounts - 1]);
    std::stable_sort(long_begin, order_.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return choices[a].size < choices[b].size; });
    double total = 0.0;
    for (const FixedWidthText& q : queries) total += static_cast<double>(q.size);
    mean_query_ = queries.empty() ? 0.0 : total / static_cast<double>(queries.size());
}

StringMatrix::~StringMatrix() = default;

bool StringMatrix::next_tile() {
    tile_.reset();
    if (next_ >= order_.size()) return false;
    const bool long_lanes = scorer_ != StringScorer::Jaro && scorer_ != StringScorer::JaroWinkler;
    const lanes::KernelSet& kernels = lanes::lane_kernels(lanes::best_lane_kernel());
    tile_ = std::make_unique<Tile>(kernels.vector_bytes, choices_, std::span(order_).subspan(next_), long_lanes);
    next_ += tile_->choices.consumed();
    // About 2 ns a block step and a cell, 1 ns a word step pair by pair.
    double cost = 0.0;
    for (const lanes::Block& b : tile_->choices.blocks())
        cost += 2.0 * (mean_query_ * b.words + static_cast<double>(b.count));
    for (std::uint32_t i : tile_->choices.others())
        cost += 20.0 + mean_query_ * static_cast<double>(choices_[i].size / 64 + 1);
    tile_->row_cost = cost;
    return true;
}

std::size_t StringMatrix::max_grain() const {
    constexpr double kChunkNanoseconds = 4e6;
    if (!tile_ || tile_->row_cost <= 0.0) return 256;
    return static_cast<std::size_t>(std::clamp(kChunkNanoseconds / tile_->row_cost, 1.0, 256.0));
}

void StringMatrix::rows(std::size_t begin, std::size_t end) const {
    const lanes::KernelSet& kernels = lanes::lane_kernels(lanes::best_lane_kernel());
    const std::size_t row_bytes = choices_.size() * cell_size(type_);
    RowWork work;
    for (std::size_t r = begin; r < end; ++r)
        Row(kernels, tile_->choices, choices_, scorer_, cutoff_, queries_[r], Cells{out_ + r * row_bytes, type_}, work)
            .run();
}

// ------------------------------------------------------------ search

struct StringSearch::State {
    State(FixedWidthText q, StringScorer s) : query(q), characters(query.chars(), query.size()), scorer(s) {}
    strings::StoredQuery query;
    QueryCharacters characters;
    StringScorer scorer;

    // similarity_bound() for choices of n values, k of them paired up, with
    // a common prefix of l, kept for short choices as computed.
    static constexpr std::size_t kKept = 64;
    std::vector<double> kept = std::vector<double>(kKept * kCounts * (strings::kWinklerMaxPrefix + 1), -1.0);
    double bound(std::size_t n, std::size_t k, std::size_t l) {
        if (n >= kKept) return similarity_bound(scorer, query.size(), n, k, l);
        double& b = kept[(n * kCounts + k) * (strings::kWinklerMaxPrefix + 1) + l];
        if (b < 0.0) b = similarity_bound(scorer, query.size(), n, k, l);
        return b;
    }
};

StringSearch::StringSearch(FixedWidthText query, StringScorer scorer, ScoreCutoff cutoff, std::size_t limit)
    : state_(std::make_unique<State>(query, scorer)), scorer_(scorer), cutoff_(cutoff), limit_(limit) {}

StringSearch::~StringSearch() = default;

bool StringSearch::better(const ScoredChoice& a, const ScoredChoice& b) const {
    if (is_distance(scorer_)) {
        if (a.distance != b.distance) return a.distance < b.distance;
    } else if (a.similarity != b.similarity) {
        return a.similarity > b.similarity;
    }
    return a.index < b.index;
}

void StringSearch::scan(std::span<const FixedWidthText> choices, std::size_t begin, std::size_t end) {
    const strings::StoredQuery& q = state_->query;
    const std::size_t m = q.size();
    const bool distance = is_distance(scorer_);
    auto worse = [this](const ScoredChoice& a, const ScoredChoice& b) { return better(a, b); };
    for (std::size_t i = begin; i < end && limit_ > 0; ++i) {
        const FixedWidthText t = choices[i];
        // Once full, the worst kept choice is on top of the heap; a later
        // choice must beat it (a tie loses to the smaller index).
        const bool full = kept_.size() == limit_;
        ScoredChoice c{i, 0, 0.0};
        if (distance) {
            // A distance below the bar needs enough pairs: first the lengths,
            // then the characters.
            const std::uint64_t bar = full ? kept_.front().distance : cutoff_.active ? cutoff_.distance + 1 : ~0ull;
            if (length_gap(m, t.size) >= bar) continue;
            if (bar <= std::max(m, t.size) &&
                std::max(m, t.size) - std::min({state_->characters.count(t), m, t.size}) >= bar)
                continue;
            c.distance = q.distance(t, scorer_ == StringScorer::OsaDistance);
            if (cutoff_.active && c.distance > cutoff_.distance) continue;
        } else {
            if (m == 0 || t.size == 0) {
                c.similarity = similarity_with_empty(std::max(m, t.size));
            } else {
                // A similarity must reach the cutoff and beat the worst kept
                // one: first the lengths, then the characters and the prefix.
                const double bar =
                    std::max(cutoff_.active ? cutoff_.similarity : -1.0, full ? kept_.front().similarity : -1.0);
                const std::size_t shorter = std::min(m, t.size);
                if (state_->bound(t.size, shorter, std::min(shorter, strings::kWinklerMaxPrefix)) + kBoundMargin < bar)
                    continue;
                const std::size_t k = std::min(state_->characters.count(t), shorter);
                if (state_->bound(t.size, k, common_prefix(q.chars(), m, t)) + kBoundMargin < bar) continue;
                c.similarity = pair_similarity(q, t, scorer_);
            }
            if (cutoff_.active && c.similarity < cutoff_.similarity) continue;
        }
        if (!full) {
            kept_.push_back(c);
            if (kept_.size() == limit_) std::make_heap(kept_.begin(), kept_.end(), worse);
        } else if (better(c, kept_.front())) {
            std::pop_heap(kept_.begin(), kept_.end(), worse);
            kept_.back() = c;
            std::push_heap(kept_.begin(), kept_.end(), worse);
        }
    }
}

std::vector<ScoredChoice> StringSearch::result() const {
    std::vector<ScoredChoice> out = kept_;
    std::sort(out.begin(), out.end(), [this](const ScoredChoice& a, const ScoredChoice& b) { return better(a, b); });
    return out;
}

}  // namespace mivo::collections
