// Identifiers, SimHash payloads and LSH bands of many vectors: the rows of a
// matrix, each giving exactly what the one-vector functions give for it.
// Functions over a row range [begin, end) write only that range's outputs
// (row i's at position i - begin of `out`), so that ranges can run on
// different threads, and report the first row of the range they refuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "collections/matrix.hpp"
#include "embeddings/error.hpp"
#include "embeddings/types.hpp"

namespace mivo::collections {

// The refusal of one row: its number and the error the one-vector function
// gives for it.
struct RowError {
    std::size_t row;
    embeddings::MivoError error;
};

// The refusal with the smallest row number among those offered from any
// thread: the row that a loop over the rows in order would stop at.
class FirstRefusal {
public:
    void offer(std::optional<RowError> e);
    const std::optional<RowError>& get() const { return first_; }

private:
    std::mutex lock_;
    std::optional<RowError> first_;
};

// The Mini128 payload of each row (16 bytes, big-endian, at out + 16 * (i -
// begin)): the SimHash of the row scaled to unit length, as encode makes it.
// Refuses rows as encode does: a length outside 64 to 2048, then a NaN or an
// infinity once narrowed to f32.
std::optional<RowError> mini128_rows(const MatrixRef& x, std::size_t begin, std::size_t end, std::uint64_t seed,
                                     std::uint8_t* out);

// The SimHash of each row's values as given (the bytes LSH bands cut), laid
// out as above. Refuses a row holding a NaN or an infinity once narrowed to
// f32; any length is hashed.
std::optional<RowError> raw_simhash_rows(const MatrixRef& x, std::size_t begin, std::size_t end, std::uint64_t seed,
                                         std::uint8_t* out);

// The identifier of each row with `profile`, out[i - begin] for row i, and
// the driver's refusal of the first row it refuses.
std::optional<RowError> identifier_rows(const MatrixRef& x, std::size_t begin, std::size_t end,
                                        const embeddings::EncodingProfile& profile, std::string* out);

}  // namespace mivo::collections
