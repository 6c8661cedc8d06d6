#include "embeddings/header.hpp"

#include "embeddings/byte_order.hpp"

namespace mivo::embeddings {
namespace {

void put_u16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    std::uint8_t b[2];
    store_be16(b, v);
    out.insert(out.end(), b, b + 2);
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t b[4];
    store_be32(b, v);
    out.insert(out.end(), b, b + 4);
}

std::uint16_t get_u16(std::span<const std::uint8_t> b, std::size_t at) { return load_be16(b.data() + at); }

std::uint32_t get_u32(std::span<const std::uint8_t> b, std::size_t at) { return load_be32(b.data() + at); }

}  // namespace

std::vector<std::uint8_t> to_header(const ProfileInfo& info) {
    std::vector<std::uint8_t> out;
    out.reserve(kFullVectorHeaderLen);
    out.push_back(static_cast<std::uint8_t>((info.version << 4) | (info.profile & 0x0F)));
    out.push_back(0);
    if (info.profile == kProfileFullVector) {
        put_u16(out, info.original_dims.value_or(0));
        out.push_back(info.precision ? info.precision->code() : 0);
        if (info.dimension_mode) {
            const DimensionMode& m = *info.dimension_mode;
            out.push_back(m.code());
            put_u16(out, m.kind == ModeKind::Preserve ? 0 : m.target);
        } else {
            out.push_back(0);
            put_u16(out, 0);
        }
        put_u32(out, static_cast<std::uint32_t>(info.seed.value_or(0)));
    } else if (info.transform_id) {
        put_u16(out, *info.transform_id);
    }
    return out;
}

Result<ProfileInfo> read_header(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kCommonHeaderLen) return fail(MivoError::invalid_header());
    ProfileInfo info;
    info.version = static_cast<std::uint8_t>(bytes[0] >> 4);
    info.profile = static_cast<std::uint8_t>(bytes[0] & 0x0F);
    return info;
}

Result<ProfileInfo> read_full_vector_header(std::span<const std::uint8_t> bytes) {
    auto common = read_header(bytes);
    if (!common) return common;
    ProfileInfo info = *common;
    if (info.profile != kProfileFullVector) return info;
    if (bytes.size() < kFullVectorHeaderLen) return fail(MivoError::invalid_header());

    // The precision code is judged before the mode code.
    const std::optional<Precision> precision = Precision::from_code(bytes[4]);
    if (!precision) return fail(MivoError::invalid_metadata("Invalid precision type"));
    const std::optional<ModeKind> mode = DimensionMode::kind_from_code(bytes[5]);
    if (!mode) return fail(MivoError::invalid_metadata("Invalid dimension mode"));

    info.original_dims = get_u16(bytes, 2);
    info.precision = *precision;
    info.dimension_mode = DimensionMode{*mode, get_u16(bytes, 6)};
    info.seed = std::uint64_t{get_u32(bytes, 8)};
    return info;
}

std::uint16_t encoded_dims(const ProfileInfo& info) {
    if (!info.dimension_mode || info.dimension_mode->kind == ModeKind::Preserve) return info.original_dims.value_or(0);
    return info.dimension_mode->target;
}

}  // namespace mivo::embeddings
