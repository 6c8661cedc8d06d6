#include "collections/batch_encode.hpp"

#include <algorithm>
#include <bit>
#include <span>
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

// Rows are hashed in blocks of this many (a multiple of the rows the sign
// pass takes at once: 6 with AVX-512, 3 with AVX2).
constexpr std::size_t kBlockRows = 72;

// Whether a row holds no NaN and no infinity (as is_finite_value: an
// exponent of all ones), in one pass that the compiler vectorises with the
// baseline instruction set (and, compare, or).
bool all_finite(std::span<const float> row) {
    std::uint32_t bad = 0;
    for (const float v : row) bad |= (std::bit_cast<std::uint32_t>(v) & 0x7F800000u) == 0x7F800000u;
    return bad == 0;
}

// SimHashes of the rows of [begin, end), by blocks: read in place when the
// matrix holds f32 rows one after another, else copied (and narrowed) first.
// Stops at the first row holding a NaN or an infinity and reports it.
std::optional<RowError> hash_rows(const MatrixRef& x, std::size_t begin, std::size_t end, std::uint64_t seed, bool unit,
                                  std::uint8_t* out) {
    const std::size_t d = x.cols;
    const bool in_place = x.type == ValueType::F32 && x.col_stride == static_cast<std::ptrdiff_t>(sizeof(float)) &&
                          x.row_stride == static_cast<std::ptrdiff_t>(d * sizeof(float));
    std::vector<float> copied(in_place ? 0 : kBlockRows * d);
    emb::u128 hashes[kBlockRows];
    emb::SimhashRowsMemory memory;
    for (std::size_t i0 = begin; i0 < end; i0 += kBlockRows) {
        const std::size_t count = std::min(kBlockRows, end - i0);
        const float* block =
            in_place ? reinterpret_cast<const float*>(x.data + static_cast<std::ptrdiff_t>(i0) * x.row_stride)
                     : copied.data();
        for (std::size_t k = 0; k < count; ++k) {
            if (!in_place) x.row(i0 + k, copied.data() + k * d);
            if (!all_finite(std::span<const float>(block + k * d, d)))
                return RowError{i0 + k, emb::MivoError::invalid_embedding_value()};
        }
        (unit ? emb::simhash_128_unit_rows : emb::simhash_128_rows)(block, count, d, seed, hashes, &memory);
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
        std::vector<std::uint8_t> codes(16 * (end - begin));
        if (auto refused = mini128_rows(x, begin, end, mini->seed, codes.data())) return refused;
        for (std::size_t i = begin; i < end; ++i) {
            std::copy(codes.begin() + static_cast<std::ptrdiff_t>(16 * (i - begin)),
                      codes.begin() + static_cast<std::ptrdiff_t>(16 * (i - begin + 1)), id.begin() + header);
            out[i - begin] = emb::encode_text(id);
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
