// The encode driver on any vector and any profile record, against a
// reference that draws everything on demand: the Mini128 payload is the
// SimHash with every hyperplane drawn during the call (no table), a projected
// full vector is the projection with every row drawn during the call, and the
// checks come in the driver's order (length, values, then the record's own).
// The identifier text, or the error's display text, must be the same.
//
// Input: byte 0 picks the record (kind, and which of the next bytes hold its
// fields), bytes 1-5 its fields, byte 6 the seed, bytes 7-8 the value count
// (0 to 2303), byte 9 how values are read from the rest (raw f32 patterns,
// binary16 patterns, or signed bytes / 16), cycling when the rest runs out.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "embeddings/base32hex.hpp"
#include "embeddings/decode.hpp"
#include "embeddings/encode.hpp"
#include "embeddings/full_vector.hpp"
#include "embeddings/header.hpp"
#include "embeddings/hilbert.hpp"
#include "embeddings/morton.hpp"
#include "embeddings/projection.hpp"
#include "embeddings/vector_simhash.hpp"
#include "fuzz_util.hpp"

namespace {

namespace e = mivo::embeddings;
using e::EncodingProfile;
using e::MivoError;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeaderBytes = 10;

std::uint64_t seed_of(std::uint8_t b, const std::uint8_t* data) {
    // A few seeds (their tables are reused), or eight bytes of the input.
    constexpr std::uint64_t kSeeds[] = {0x4D49564F53494D48ull, 0x4D49564F46554C4Cull, 0, 1, ~0ull};
    if (b < 250) return kSeeds[b % 5];
    std::uint64_t s = 0;
    std::memcpy(&s, data, sizeof s);
    return s;
}

EncodingProfile record_of(const std::uint8_t* h) {
    const std::uint64_t seed = seed_of(h[6], h);
    switch (h[0] % 4) {
        case 0: return EncodingProfile{EncodingProfile::Mini128{seed}};
        case 1:
        case 2: {
            const std::uint8_t count = h[1] % 40, bits = h[2] % 20;
            std::optional<std::uint16_t> id;
            if (h[3] % 16 == 0) id = static_cast<std::uint16_t>(h[4] << 8 | h[5]);
            if (h[0] % 4 == 1) return EncodingProfile{EncodingProfile::Morton10x10{count, bits, id}};
            return EncodingProfile{EncodingProfile::Hilbert10x10{count, bits, id}};
        }
        default: break;
    }
    const std::uint8_t code = h[1] % 37;  // Full32, Half16, Quant8, then Bits 0..33
    const e::Precision precision = code == 0   ? e::Precision::full32()
                                   : code == 1 ? e::Precision::half16()
                                   : code == 2 ? e::Precision::quant8()
                                               : e::Precision::bits_of(static_cast<std::uint8_t>(code - 3));
    // Mostly small targets (fast projections); any 16-bit one now and then.
    const auto target = static_cast<std::uint16_t>(h[3] >= 240 ? h[4] << 8 | h[5] : h[4]);
    const e::DimensionMode modes[] = {e::DimensionMode::preserve(), e::DimensionMode::reduce(target),
                                      e::DimensionMode::common(target)};
    return EncodingProfile{EncodingProfile::FullVector{precision, modes[h[2] % 3], seed}};
}

std::vector<float> values_of(const std::uint8_t* h, std::span<const std::uint8_t> rest) {
    const std::size_t n = (static_cast<std::size_t>(h[7]) << 8 | h[8]) % 2304;
    const unsigned mode = h[9] % 3;
    const std::size_t unit = mode == 0 ? 4 : mode == 1 ? 2 : 1;
    std::vector<float> out(n, 0.0f);
    const std::size_t have = rest.size() / unit;
    for (std::size_t i = 0; have && i < n; ++i) {
        const std::uint8_t* p = rest.data() + (i % have) * unit;
        if (mode == 0) {
            std::memcpy(&out[i], p, 4);
        } else if (mode == 1) {
            out[i] = e::f16_to_f32(static_cast<std::uint16_t>(p[0] << 8 | p[1]));
        } else {
            out[i] = static_cast<float>(static_cast<std::int8_t>(p[0])) / 16.0f;
        }
    }
    return out;
}

// ---------------------------------------------------------- the reference

e::Result<Bytes> full_vector_reference(const std::vector<float>& v, const EncodingProfile::FullVector& fv) {
    const e::Precision& p = fv.precision;
    if (p.kind == e::PrecisionKind::Bits && (p.bits < 1 || p.bits > 32))
        return e::fail(MivoError::invalid_precision("Bits must be 1-32, got " + std::to_string(p.bits)));
    const std::uint16_t t = fv.mode.target;
    std::vector<float> stored = v;
    if (fv.mode.kind == e::ModeKind::Reduce) {
        if (t == 0) return e::fail(MivoError::invalid_dimension(0, 1, v.size()));
        if (t >= v.size())
            return e::fail(MivoError::projection_error("Target dims " + std::to_string(t) +
                                                       " must be less than input dims " + std::to_string(v.size())));
        auto projected = e::project_to_lower_dims_streamed(v, t, fv.seed);
        if (!projected) return e::fail(projected.error());
        stored = *projected;
    } else if (fv.mode.kind == e::ModeKind::Common) {
        if (t == 0) return e::fail(MivoError::invalid_dimension(0, 1, 2048));
        std::vector<float> padded = v;
        padded.resize(2048, 0.0f);
        auto projected = e::project_to_lower_dims_streamed(padded, t, fv.seed);
        if (!projected) return e::fail(projected.error());
        stored = *projected;
    }
    e::ProfileInfo info;
    info.profile = e::kProfileFullVector;
    info.seed = fv.seed;
    info.original_dims = static_cast<std::uint16_t>(v.size());
    info.dimension_mode = fv.mode;
    info.precision = p;
    Bytes id = e::to_header(info);
    if (auto w = e::write_payload(stored, p, id); !w) return e::fail(w.error());
    return id;
}

template <class Curve>
e::Result<Bytes> curve_reference(const std::vector<float>& unit, const Curve& c, std::uint8_t profile,
                                 e::Result<e::u128> (*code_of)(const e::QuantizedCoords&)) {
    if (c.transform_id) return e::fail(MivoError::transform_not_found(*c.transform_id));
    auto point = e::QuantizedCoords::from_embedding(unit, c.count, c.bits);
    if (!point) return e::fail(point.error());
    auto code = code_of(*point);
    if (!code) return e::fail(code.error());
    e::ProfileInfo info;
    info.profile = profile;
    Bytes id = e::to_header(info);
    const auto bytes = e::to_be_bytes(*code);
    id.insert(id.end(), bytes.end() - (static_cast<std::ptrdiff_t>(c.count) * c.bits + 7) / 8, bytes.end());
    return id;
}

e::Result<Bytes> reference(const std::vector<float>& v, const EncodingProfile& profile) {
    if (v.size() < 64 || v.size() > 2048) return e::fail(MivoError::invalid_dimension(v.size(), 64, 2048));
    for (const float x : v)
        if (!(x - x == 0.0f)) return e::fail(MivoError::invalid_embedding_value());  // NaN or infinity
    if (const auto* fv = std::get_if<EncodingProfile::FullVector>(&profile.kind)) return full_vector_reference(v, *fv);
    std::vector<float> unit = v;
    e::scale_to_unit_length(unit);
    if (const auto* m = std::get_if<EncodingProfile::Morton10x10>(&profile.kind))
        return curve_reference(unit, *m, e::kProfileMorton10x10, e::morton_code);
    if (const auto* h = std::get_if<EncodingProfile::Hilbert10x10>(&profile.kind))
        return curve_reference(unit, *h, e::kProfileHilbert10x10, e::hilbert_code);
    e::ProfileInfo info;
    info.profile = e::kProfileMini128;
    Bytes id = e::to_header(info);
    const auto hash =
        e::to_be_bytes(e::simhash_128_streamed(unit, std::get<EncodingProfile::Mini128>(profile.kind).seed));
    id.insert(id.end(), hash.begin(), hash.end());
    return id;
}

std::string shown(const e::Result<std::string>& r) { return r ? *r : "error: " + r.error().display(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using mivo::fuzz::disagree;
    if (size < kHeaderBytes) return 0;
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const EncodingProfile profile = record_of(data);
    const std::vector<float> v = values_of(data, {data + kHeaderBytes, size - kHeaderBytes});

    const auto got = e::encode(v, profile);
    const auto want_bytes = reference(v, profile);
    const e::Result<std::string> want =
        want_bytes ? e::Result<std::string>(e::encode_text(*want_bytes)) : e::fail(want_bytes.error());
    if (shown(got) != shown(want) || (!got && got.error().kind() != want.error().kind()))
        disagree(("encode: " + shown(got) + "\nreference: " + shown(want)).c_str(), raw);

    // The lossless form gives every value back, bit for bit.
    const auto* fv = std::get_if<EncodingProfile::FullVector>(&profile.kind);
    if (got && fv && fv->precision == e::Precision::full32() && fv->mode.kind == e::ModeKind::Preserve) {
        const auto back = e::decode_to_embedding(*got);
        if (!back || back->values.size() != v.size() ||
            (!v.empty() && std::memcmp(back->values.data(), v.data(), v.size() * sizeof(float)) != 0))
            disagree("lossless identifier does not decode to its values", raw);
    }
    return 0;
}
