#include "embeddings/encode.hpp"

#include <bit>
#include <cmath>
#include <string>

#include "embeddings/base32hex.hpp"
#include "embeddings/full_vector.hpp"
#include "embeddings/header.hpp"
#include "embeddings/hilbert.hpp"
#include "embeddings/morton.hpp"
#include "embeddings/vector_simhash.hpp"

namespace mivo::embeddings {
namespace {

constexpr std::size_t kMinDims = 64;
constexpr std::size_t kMaxDims = 2048;

// The values a full-vector identifier stores: as given, or projected.
Result<std::vector<float>> stored_values(std::vector<float> values, const EncodingProfile::FullVector& fv) {
    const auto d = static_cast<std::uint64_t>(values.size());
    const std::uint16_t t = fv.mode.target;
    switch (fv.mode.kind) {
        case ModeKind::Preserve: return values;
        case ModeKind::Reduce:
            if (t == 0) return fail(MivoError::invalid_dimension(0, 1, d));
            if (t >= d)
                return fail(MivoError::projection_error("Target dims " + std::to_string(t) +
                                                        " must be less than input dims " + std::to_string(d)));
            return project_to_lower_dims(values, t, fv.seed);
        case ModeKind::Common:
            if (t == 0) return fail(MivoError::invalid_dimension(0, 1, kMaxDims));
            values.resize(kMaxDims, 0.0f);  // pad with +0.0 into the common space
            return project_to_lower_dims(values, t, fv.seed);
    }
    return values;
}

Result<std::vector<std::uint8_t>> full_vector_identifier(std::vector<float> values,
                                                         const EncodingProfile::FullVector& fv) {
    if (fv.precision.kind == PrecisionKind::Bits && (fv.precision.bits < 1 || fv.precision.bits > 32))
        return fail(MivoError::invalid_precision("Bits must be 1-32, got " + std::to_string(fv.precision.bits)));
    const auto original = static_cast<std::uint16_t>(values.size());
    auto stored = stored_values(std::move(values), fv);
    if (!stored) return fail(stored.error());
    ProfileInfo info;
    info.seed = fv.seed;
    info.original_dims = original;
    info.dimension_mode = fv.mode;
    info.precision = fv.precision;
    info.profile = kProfileFullVector;
    std::vector<std::uint8_t> id = to_header(info);
    if (auto w = write_payload(*stored, fv.precision, id); !w) return fail(w.error());
    return id;
}

std::vector<std::uint8_t> short_header(std::uint8_t profile) {
    ProfileInfo info;
    info.profile = profile;
    return to_header(info);
}

template <class Curve>
Result<std::vector<std::uint8_t>> curve_identifier(const std::vector<float>& unit, const Curve& curve,
                                                   std::uint8_t profile,
                                                   Result<u128> (*code_of)(const QuantizedCoords&)) {
    if (curve.transform_id) return fail(MivoError::transform_not_found(*curve.transform_id));
    auto coords = QuantizedCoords::from_embedding(unit, curve.count, curve.bits);
    if (!coords) return fail(coords.error());
    auto code = code_of(*coords);
    if (!code) return fail(code.error());
    std::vector<std::uint8_t> id = short_header(profile);
    const auto bytes = to_be_bytes(*code);
    const std::size_t keep = (static_cast<std::size_t>(curve.count) * curve.bits + 7) / 8;
    id.insert(id.end(), bytes.end() - static_cast<std::ptrdiff_t>(keep), bytes.end());
    return id;
}

}  // namespace

bool is_finite_value(float v) { return (std::bit_cast<std::uint32_t>(v) & 0x7FFFFFFFu) < 0x7F800000u; }

void scale_to_unit_length(std::span<float> values) {
    float sum = -0.0f;
    for (float v : values) sum = sum + v * v;
    if (!(sum > 0.0f)) return;
    const float norm = std::sqrt(sum);
    for (float& v : values) v = v / norm;
}

Result<std::string> encode(std::span<const float> embedding, const EncodingProfile& profile) {
    const std::size_t d = embedding.size();
    if (d < kMinDims || d > kMaxDims) return fail(MivoError::invalid_dimension(d, kMinDims, kMaxDims));
    std::vector<float> values(embedding.begin(), embedding.end());
    for (float v : values)
        if (!is_finite_value(v)) return fail(MivoError::invalid_embedding_value());

    Result<std::vector<std::uint8_t>> id;
    if (const auto* fv = std::get_if<EncodingProfile::FullVector>(&profile.kind)) {
        auto r = full_vector_identifier(std::move(values), *fv);
        if (!r) return fail(r.error());
        id = std::move(*r);
    } else if (const auto* mini = std::get_if<EncodingProfile::Mini128>(&profile.kind)) {
        // The SimHash of the values scaled to unit length (scaled only where
        // a sign needs the literal sum).
        std::vector<std::uint8_t> bytes = short_header(kProfileMini128);
        const auto hash = to_be_bytes(simhash_128_unit(values, mini->seed));
        bytes.insert(bytes.end(), hash.begin(), hash.end());
        id = std::move(bytes);
    } else {
        scale_to_unit_length(values);
        if (const auto* morton = std::get_if<EncodingProfile::Morton10x10>(&profile.kind)) {
            id = curve_identifier(values, *morton, kProfileMorton10x10, morton_code);
        } else {
            const auto& hilbert = std::get<EncodingProfile::Hilbert10x10>(profile.kind);
            id = curve_identifier(values, hilbert, kProfileHilbert10x10, hilbert_code);
        }
    }
    if (!id) return fail(id.error());
    return encode_text(*id);
}

}  // namespace mivo::embeddings
