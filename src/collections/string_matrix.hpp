// Many strings against many: the matrix of one string metric between every
// query and every choice, and the best choices for one query. Every value is
// the one-pair function's (mivo.levenshtein(query, choice), ...) bit for bit.
//
// The matrix runs tile by tile over the choices, taken in order of length:
// a tile's short and long choices are laid out in the lanes of vector
// registers (strings/lane_blocks.hpp) once, then every query runs through
// them, a row of queries at a time on any thread; the choices that fit no
// lane are compared pair by pair with the query prepared once
// (strings/stored_query.hpp). Each cell is written straight into the
// matrix's element type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "strings/fixed_width.hpp"

namespace mivo::collections {

enum class StringScorer : std::uint8_t {
    Levenshtein,
    NormalizedLevenshtein,
    Jaro,
    JaroWinkler,
    OsaDistance,
    BestMatch
};

// Levenshtein and OSA give distances (smaller is closer), the others
// similarities from 0.0 to 1.0.
constexpr bool is_distance(StringScorer s) { return s == StringScorer::Levenshtein || s == StringScorer::OsaDistance; }

// The element type of the matrix. A value becomes one as NumPy's astype
// casts it from int64 (distances) or float64 (similarities): integers wrap
// modulo 2^bits, floats round to nearest, a similarity truncates towards
// zero, Bool is "not zero".
enum class CellType : std::uint8_t { Bool, Int8, Int16, Int32, Int64, UInt8, UInt16, UInt32, UInt64, Float32, Float64 };

// Distances above `distance` become distance + 1; similarities below
// `similarity` become 0.0.
struct ScoreCutoff {
    bool active = false;
    std::uint64_t distance = 0;
    double similarity = 0.0;
};

class StringMatrix {
public:
    // out: queries.size() rows of choices.size() cells of `type`, row-major.
    // The texts must stay valid (and unchanged) while the object is used.
    StringMatrix(std::span<const strings::FixedWidthText> queries, std::span<const strings::FixedWidthText> choices,
                 StringScorer scorer, ScoreCutoff cutoff, CellType type, void* out);
    ~StringMatrix();
    StringMatrix(const StringMatrix&) = delete;
    StringMatrix& operator=(const StringMatrix&) = delete;

    // Lays out the next tile of choices; false when every choice is done.
    bool next_tile();
    // Fills the columns of the current tile in rows [begin, end). Calls for
    // disjoint rows may run at once on different threads.
    void rows(std::size_t begin, std::size_t end) const;
    // Rows per chunk for the current tile that keep a chunk to a few
    // milliseconds.
    std::size_t max_grain() const;

private:
    struct Tile;
    std::span<const strings::FixedWidthText> queries_, choices_;
    StringScorer scorer_;
    ScoreCutoff cutoff_;
    CellType type_;
    unsigned char* out_;
    std::vector<std::uint32_t> order_;  // choice indices in order of length
    std::size_t next_ = 0;              // the first entry of order_ not in a tile yet
    double mean_query_ = 0.0;           // mean query length
    std::unique_ptr<Tile> tile_;
};

// A choice and its score.
struct ScoredChoice {
    std::size_t index;
    std::uint64_t distance;  // for distances
    double similarity;       // for similarities
};

// The best choices for one query, as scanned in index order: best first
// (smallest distance, largest similarity), ties by smaller index; at most
// `limit` of them, only those passing the cutoff.
class StringSearch {
public:
    StringSearch(strings::FixedWidthText query, StringScorer scorer, ScoreCutoff cutoff, std::size_t limit);
    ~StringSearch();
    StringSearch(const StringSearch&) = delete;
    StringSearch& operator=(const StringSearch&) = delete;

    // Scores choices[begin, end), which come after every choice scanned so
    // far (so the index order breaks ties).
    void scan(std::span<const strings::FixedWidthText> choices, std::size_t begin, std::size_t end);
    // The kept choices, best first.
    std::vector<ScoredChoice> result() const;

private:
    bool better(const ScoredChoice& a, const ScoredChoice& b) const;
    struct State;
    std::unique_ptr<State> state_;
    StringScorer scorer_;
    ScoreCutoff cutoff_;
    std::size_t limit_;
    std::vector<ScoredChoice> kept_;  // a heap, the worst on top, once limit_ is reached
};

}  // namespace mivo::collections
