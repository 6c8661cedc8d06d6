// The encode driver on any vector and any profile record, tables against
// the paths that draw everything on demand (the cache's budget set to zero):
// the Mini128 payload is then the SimHash with every hyperplane drawn during
// the call, a projected full vector the projection with every row drawn
// during the call. The identifier text, or the error's display text, must be
// the same. For the Mini128 record the fast sign pass also meets those sums
// with the values as given.
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

#include "embeddings/decode.hpp"
#include "embeddings/encode.hpp"
#include "embeddings/full_vector.hpp"
#include "embeddings/tables.hpp"
#include "embeddings/vector_simhash.hpp"
#include "fuzz_util.hpp"

namespace {

namespace e = mivo::embeddings;
using e::EncodingProfile;
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

// The identifier with every table drawn on demand.
e::Result<std::string> on_demand(const std::vector<float>& v, const EncodingProfile& profile) {
    e::set_table_budget(0);
    auto text = e::encode(v, profile);
    e::set_table_budget(e::kTableBudget);
    return text;
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
    const auto want = on_demand(v, profile);
    if (shown(got) != shown(want) || (!got && got.error().kind() != want.error().kind()))
        disagree(("encode: " + shown(got) + "\non demand: " + shown(want)).c_str(), raw);
    const auto* mini = std::get_if<EncodingProfile::Mini128>(&profile.kind);
    if (mini && e::simhash_128(v, mini->seed) != e::simhash_128_streamed(v, mini->seed)) disagree("simhash_128", raw);

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
