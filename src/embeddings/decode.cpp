#include "embeddings/decode.hpp"

#include <span>

#include "embeddings/base32hex.hpp"
#include "embeddings/full_vector.hpp"

namespace mivo::embeddings {
namespace {

Result<std::vector<float>> decode_payload(std::span<const std::uint8_t> payload, const Precision& precision,
                                          std::uint16_t count) {
    switch (precision.kind) {
        case PrecisionKind::Full32: return decode_full32(payload);
        case PrecisionKind::Half16: return decode_half16(payload);
        case PrecisionKind::Quant8: return decode_quant8(payload);
        case PrecisionKind::Bits: break;
    }
    return decode_bits(payload, precision.bits, count);
}

}  // namespace

Result<DecodedVector> decode_to_embedding(std::string_view text) {
    auto bytes = decode_text(text);
    if (!bytes) return fail(std::move(bytes.error()));
    const std::span<const std::uint8_t> id(*bytes);

    auto common = read_header(id);
    if (!common) return fail(std::move(common.error()));
    if (common->profile != kProfileFullVector) return fail(MivoError::decoding_not_supported());

    auto header = read_full_vector_header(id);
    if (!header) return fail(std::move(header.error()));

    DecodedVector out;
    out.seed = static_cast<std::uint32_t>(header->seed.value_or(0));
    out.dimension_mode = header->dimension_mode->kind;
    out.target_dims = header->dimension_mode->target;
    out.precision = *header->precision;
    out.original_dims = header->original_dims.value_or(0);
    out.encoded_dims = encoded_dims(*header);

    auto values = decode_payload(id.subspan(kFullVectorHeaderLen), out.precision, out.encoded_dims);
    if (!values) return fail(std::move(values.error()));
    out.values = std::move(*values);
    return out;
}

bool is_reversible(std::string_view text) {
    const auto bytes = decode_text(text);
    if (!bytes) return false;
    const auto header = read_header(*bytes);
    return header && header->profile == kProfileFullVector;
}

}  // namespace mivo::embeddings
