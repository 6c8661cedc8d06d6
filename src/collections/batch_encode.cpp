#include "collections/batch_encode.hpp"

#include <algorithm>
#include <vector>

#include "embeddings/base32hex.hpp"
#include "embeddings/byte_order.hpp"
#include "embeddings/encode.hpp"
#include "embeddings/header.hpp"
#include "embeddings/vector_simhash.hpp"

namespace mivo::collections {
namespace emb = mivo::embeddings;

namespace {

constexpr std::size_t kMinDims = 64;
constexpr std::size_t kMaxDims = 2048;

// Rows are read into blocks of this many, hashed together.
constexpr std::size_t kBlockRows = 64;

// SimHashes of the rows of [begin, end), read and hashed by blocks; stops at
// the first row holding a NaN or an infinity and reports it.
std::optional<RowError> hash_rows(const MatrixRef& x, std::size_t begin, std::size_t end, std::uint64_t seed, bool unit,
                                  std::uint8_t* out) {
    const std::size_t d = x.cols;
    std::vector<float> block(kBlockRows * d);
    emb::u128 hashes[kBlockRows];
    for (std::size_t i0 = begin; i0 < end; i0 += kBlockRows) {
        const std::size_t count = std::min(kBlockRows, end - i0);
        for (std::size_t k = 0; k < count; ++k) {
            const std::span<float> row(block.data() + k * d, d);
            x.row(i0 + k, row.data());
            if (!std::all_of(row.begin(), row.end(), emb::is_finite_value))
                return RowError{i0 + k, emb::MivoError::invalid_embedding_value()};
        }
        (unit ? emb::simhash_128_unit_rows : emb::simhash_128_rows)(block.data(), count, d, seed, hashes);
        for (std::size_t k = 0; k < count; ++k) {
            const auto bytes = emb::to_be_bytes(hashes[k]);
            std::copy(bytes.begin(), bytes.end(), out + 16 * (i0 + k - begin));
        }
    }
    return std::nullopt;
}

}  // namespace

void FirstRefusal::offer(std::optional<RowError> e) {
    if (!e) return;
    const std::lock_guard<std::mutex> hold(lock_);
    if (!first_ || e->row < first_->row) first_ = std::move(e);
}

std::optional<RowError> mini128_rows(const MatrixRef& x, std::size_t begin, std::size_t end, std::uint64_t seed,
                                     std::uint8_t* out) {
    if (begin < end && (x.cols < kMinDims || x.cols > kMaxDims))
        return RowError{begin, emb::MivoError::invalid_dimension(x.cols, kMinDims, kMaxDims)};
    return hash_rows(x, begin, end, seed, true, out);
}

std::optional<RowError> raw_simhash_rows(const MatrixRef& x, std::size_t begin, std::size_t end, std::uint64_t seed,
                                         std::uint8_t* out) {
    return hash_rows(x, begin, end, seed, false, out);
}

std::optional<RowError> identifier_rows(const MatrixRef& x, std::size_t begin, std::size_t end,
                                        const emb::EncodingProfile& profile, std::string* out) {
    if (const auto* mini = std::get_if<emb::EncodingProfile::Mini128>(&profile.kind)) {
        // The payloads by blocks of rows, each behind the Mini128 header.
        emb::ProfileInfo info;
        info.profile = emb::kProfileMini128;
        std::vector<std::uint8_t> id = emb::to_header(info);
        const auto header = static_cast<std::ptrdiff_t>(id.size());
        id.resize(id.size() + 16);
        std::uint8_t codes[16 * kBlockRows];
        for (std::size_t i0 = begin; i0 < end; i0 += kBlockRows) {
            const std::size_t count = std::min(kBlockRows, end - i0);
            if (auto refused = mini128_rows(x, i0, i0 + count, mini->seed, codes)) return refused;
            for (std::size_t k = 0; k < count; ++k) {
                std::copy(codes + 16 * k, codes + 16 * (k + 1), id.begin() + header);
                out[i0 + k - begin] = emb::encode_text(id);
            }
        }
        return std::nullopt;
    }
    std::vector<float> row(x.cols);
    for (std::size_t i = begin; i < end; ++i) {
        x.row(i, row.data());
        auto text = emb::encode(row, profile);
        if (!text) return RowError{i, text.error()};
        out[i - begin] = std::move(*text);
    }
    return std::nullopt;
}

}  // namespace mivo::collections
