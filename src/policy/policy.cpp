#include "policy/policy.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <vector>

#include "embeddings/base32hex.hpp"
#include "embeddings/header.hpp"

namespace mivo::policy {
namespace {

using emb::DimensionMode;
using emb::EncodingProfile;
using emb::Precision;

EncodingProfile full_vector(Precision precision, DimensionMode mode, std::uint64_t seed) {
    return EncodingProfile{EncodingProfile::FullVector{precision, mode, seed}};
}

// f32 to u16, saturating; NaN and negatives give 0.
std::uint16_t saturate_u16(float x) {
    if (!(x > 0.0f)) return 0;
    if (x >= 65535.0f) return 65535;
    return static_cast<std::uint16_t>(x);
}

}  // namespace

EncodingProfile lossless() { return full_vector(Precision::full32(), DimensionMode::preserve(), kSeedLossless); }

EncodingProfile mini128() { return EncodingProfile{EncodingProfile::Mini128{kSeedSimHash}}; }

EncodingProfile profile_record(std::uint8_t variant) {
    switch (variant) {
        case 0: return mini128();
        case 1: return EncodingProfile{EncodingProfile::Morton10x10{10, 10, std::nullopt}};
        default: return EncodingProfile{EncodingProfile::Hilbert10x10{10, 10, std::nullopt}};
    }
}

std::vector<std::string> band_texts(emb::u128 hash, std::uint8_t n) {
    const auto bytes = emb::to_be_bytes(hash);
    const std::size_t width = 16 / n;
    std::vector<std::string> texts;
    texts.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        texts.push_back(emb::encode_text(std::span<const std::uint8_t>(bytes).subspan(i * width, width)));
    return texts;
}

EncodingProfile cross_dimensional(std::uint16_t common) {
    return full_vector(Precision::half16(), DimensionMode::common(common), kSeedCrossDims);
}

EncodingProfile compression_ladder(std::uint16_t d, double retention_pct) {
    constexpr float kFloor = 0.01f;  // the least budget kept
    float r = static_cast<float>(retention_pct);
    if (r < kFloor) r = kFloor;
    if (r > 1.0f) r = 1.0f;
    const float budget = (static_cast<float>(d) * 32.0f) * r;
    const std::uint16_t quarter = d / 4;
    const std::uint16_t d32 = saturate_u16(std::round(budget * 0.03125f));
    if (d32 >= d) return lossless();
    if (d32 >= quarter)
        return full_vector(Precision::full32(), DimensionMode::reduce(std::max<std::uint16_t>(d32, 1)),
                           kSeedCompressed);
    const std::uint16_t d16 = saturate_u16(std::round(budget * 0.0625f));
    if (d16 >= quarter)
        return full_vector(Precision::half16(), d16 < d ? DimensionMode::reduce(d16) : DimensionMode::preserve(),
                           kSeedCompressed);
    const std::uint16_t d8 = saturate_u16(std::round(budget * 0.125f));
    return full_vector(Precision::quant8(),
                       d8 < d ? DimensionMode::reduce(std::max<std::uint16_t>(d8, 1)) : DimensionMode::preserve(),
                       kSeedCompressed);
}

EncodingProfile length_budget(std::uint16_t d, std::uint64_t max_chars) {
    if (max_chars <= 20) return full_vector(Precision::bits_of(1), DimensionMode::reduce(1), kSeedMaxLength);
    const std::uint64_t left = max_chars - 20;
    const std::uint64_t budget = left > UINT64_MAX / 5 ? UINT64_MAX : left * 5;
    // An empty (or impossibly long) embedding is refused by the driver's
    // length check whatever record it gets.
    if (d == 0 || budget / d >= 32) return lossless();
    struct Candidate {
        Precision precision;
        std::uint64_t bits;
    };
    const Candidate candidates[] = {{Precision::full32(), 32},  {Precision::half16(), 16},  {Precision::quant8(), 8},
                                    {Precision::bits_of(4), 4}, {Precision::bits_of(2), 2}, {Precision::bits_of(1), 1}};
    for (const Candidate& c : candidates) {
        const std::uint64_t k = budget / c.bits;
        if (k >= d) return full_vector(c.precision, DimensionMode::preserve(), kSeedMaxLength);
        if (k >= 16)
            return full_vector(c.precision, DimensionMode::reduce(static_cast<std::uint16_t>(k)), kSeedMaxLength);
    }
    return full_vector(Precision::bits_of(1),
                       DimensionMode::reduce(static_cast<std::uint16_t>(std::max<std::uint64_t>(budget, 1))),
                       kSeedMaxLength);
}

emb::expected<Mini128Payload, Mini128Refusal> mini128_payload(std::string_view text) {
    using Check = Mini128Check;
    const auto refuse = [](Check check, emb::MivoError error) {
        return emb::unexpected(Mini128Refusal{check, std::move(error)});
    };
    if (auto ok = emb::check_text(text); !ok) return refuse(Check::Characters, ok.error());
    auto decoded = emb::decode_text(text);
    if (!decoded) return refuse(Check::Decoding, decoded.error());
    const std::vector<std::uint8_t>& id = *decoded;
    if (id.size() < 2 || (id[0] & 0x0F) == emb::kProfileFullVector)
        return refuse(Check::Header, emb::MivoError::invalid_header());
    if (const unsigned code = id[0] & 0x0F; code != emb::kProfileMini128) {
        char got[16];
        std::snprintf(got, sizeof got, "Type 0x%x", code);
        return refuse(Check::Profile, emb::MivoError::profile_mismatch("Mini128", got));
    }
    if (id.size() != 18) return refuse(Check::Length, emb::MivoError::invalid_encoding());
    Mini128Payload payload;
    std::copy(id.begin() + 2, id.end(), payload.begin());
    return payload;
}

emb::Result<std::uint32_t> mini128_distance(std::string_view a, std::string_view b) {
    const auto pa = mini128_payload(a);
    const auto pb = mini128_payload(b);
    if (!pa && (pb || pa.error().check <= pb.error().check)) return emb::fail(pa.error().error);
    if (!pb) return emb::fail(pb.error().error);
    std::uint32_t distance = 0;
    for (std::size_t i = 0; i < 16; ++i)
        distance += static_cast<std::uint32_t>(std::popcount(static_cast<unsigned>((*pa)[i] ^ (*pb)[i])));
    return distance;
}

}  // namespace mivo::policy
