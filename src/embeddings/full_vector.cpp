#include "embeddings/full_vector.hpp"

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "embeddings/byte_order.hpp"

namespace mivo::embeddings {
namespace {

// 2^bits - 1 converted to f32 (rounds to 2^bits above 24 bits).
float max_code_f32(unsigned bits) {
    if (bits < 64) return static_cast<float>((std::uint64_t{1} << bits) - 1u);
    return std::ldexp(1.0f, static_cast<int>(bits));
}

std::uint64_t max_code(unsigned bits) { return bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1u; }

inline float get_f32(const std::uint8_t* p) { return std::bit_cast<float>(load_be32(p)); }

// A NaN computed here (inf - inf, 0 * inf, a NaN min or max) comes out as
// the one quiet NaN 0x7FC00000: processors disagree on the sign and payload
// of a NaN that arithmetic creates.
inline float canonical_nan(float v) { return v != v ? std::bit_cast<float>(0x7FC00000u) : v; }

void put_min_max(std::vector<std::uint8_t>& out, float min, float max) {
    const std::size_t at = out.size();
    out.resize(at + 8);
    store_be32(out.data() + at, std::bit_cast<std::uint32_t>(min));
    store_be32(out.data() + at + 4, std::bit_cast<std::uint32_t>(max));
}

}  // namespace

// ------------------------------------------------------------- quantiser

Result<QuantizedValues> quantize_values(std::span<const float> values, std::uint8_t bits) {
    if (bits == 0 || bits > 32)
        return fail(MivoError::invalid_precision("Bits must be 1-32, got " + std::to_string(bits)));
    QuantizedValues out;
    if (values.empty()) return out;

    // NaN values take part in neither comparison.
    float mn = std::numeric_limits<float>::infinity();
    float mx = -std::numeric_limits<float>::infinity();
    for (const float v : values) {
        if (v < mn) mn = v;
        if (v > mx) mx = v;
    }
    out.min = mn;
    out.max = mx;
    out.codes.resize(values.size());

    const float range = mx - mn;
    if (range == 0.0f) {
        const std::uint32_t middle = std::uint32_t{1} << (bits - 1);
        for (auto& c : out.codes) c = middle;
        return out;
    }
    const float maxq = max_code_f32(bits);
    const std::uint64_t top = max_code(bits);
    // Finite extremes whose distance overflows f32 (values near +-3.4e38) are
    // measured in halves; otherwise every code would be 0 and decode to NaN.
    const bool halved = std::isinf(range);
    const float span = halved ? mx * 0.5f - mn * 0.5f : range;
    for (std::size_t i = 0; i < values.size(); ++i) {
        float t = halved ? values[i] * 0.5f - mn * 0.5f : values[i] - mn;
        t = t / span;
        t = t * maxq;
        float q = std::roundf(t);
        if (!(q >= 0.0f)) q = 0.0f;  // negative or NaN
        if (q > maxq) q = maxq;
        const auto code = static_cast<std::uint64_t>(q);  // q <= 2^32, exact
        out.codes[i] = static_cast<std::uint32_t>(code < top ? code : top);
    }
    return out;
}

std::vector<float> dequantize_values(std::span<const std::uint32_t> codes, std::uint8_t bits, float min, float max) {
    std::vector<float> out(codes.size());
    if (codes.empty()) return out;
    const float range = max - min;
    if (range == 0.0f) {
        for (auto& v : out) v = min;
        return out;
    }
    const float maxq = max_code_f32(bits);
    if (std::isinf(range) && std::isfinite(min) && std::isfinite(max)) {
        // The overflowing range of the quantiser, stepped in two halves.
        const float half = max * 0.5f - min * 0.5f;
        for (std::size_t i = 0; i < codes.size(); ++i) {
            float f = static_cast<float>(codes[i]);
            f = f / maxq;
            const float step = f * half;
            out[i] = canonical_nan((min + step) + step);
        }
        return out;
    }
    for (std::size_t i = 0; i < codes.size(); ++i) {
        float v = static_cast<float>(codes[i]);
        v = v / maxq;
        v = v * range;
        v = v + min;
        out[i] = canonical_nan(v);
    }
    return out;
}

// ------------------------------------------------------------ binary16

std::uint16_t f32_to_f16(float value) {
    const std::uint32_t x = std::bit_cast<std::uint32_t>(value);
    const auto sign = static_cast<std::uint16_t>((x >> 16) & 0x8000u);
    const std::uint32_t ax = x & 0x7FFFFFFFu;

    if (ax >= 0x7F800000u) {
        if (ax == 0x7F800000u) return static_cast<std::uint16_t>(sign | 0x7C00u);
        return static_cast<std::uint16_t>(sign | 0x7E00u | ((ax >> 13) & 0x3FFu));  // quiet NaN
    }
    if (ax >= 0x477FF000u) return static_cast<std::uint16_t>(sign | 0x7C00u);  // >= 65520: infinity
    if (ax < 0x38800000u) {
        // Below 2^-14: a subnormal half (units of 2^-24) or zero. 2^-25 itself
        // is a tie with 0 and goes to the even side.
        if (ax <= 0x33000000u) return sign;
        const std::uint32_t exp = ax >> 23;                       // 102 .. 112
        const std::uint32_t mant = (ax & 0x7FFFFFu) | 0x800000u;  // 24 significant bits
        const std::uint32_t shift = 126u - exp;                   // 14 .. 24
        std::uint32_t q = mant >> shift;
        const std::uint32_t rem = mant & ((1u << shift) - 1u);
        const std::uint32_t half = 1u << (shift - 1);
        if (rem > half || (rem == half && (q & 1u))) ++q;  // may carry into the smallest normal
        return static_cast<std::uint16_t>(sign | q);
    }
    // Normal half: rebias the exponent, round the 13 dropped mantissa bits.
    std::uint32_t h = (((ax >> 23) - 112u) << 10) | ((ax >> 13) & 0x3FFu);
    const std::uint32_t rem = ax & 0x1FFFu;
    if (rem > 0x1000u || (rem == 0x1000u && (h & 1u))) ++h;  // a carry moves into the exponent
    return static_cast<std::uint16_t>(sign | h);
}

float f16_to_f32(std::uint16_t half) {
    const std::uint32_t sign = std::uint32_t{half & 0x8000u} << 16;
    const std::uint32_t exp = (half >> 10) & 0x1Fu;
    const std::uint32_t mant = half & 0x3FFu;
    std::uint32_t bits;
    if (exp == 0) {
        if (mant == 0) return std::bit_cast<float>(sign);
        // Subnormal: mant * 2^-24, exact in f32.
        bits = std::bit_cast<std::uint32_t>(static_cast<float>(mant) * 0x1p-24f);
    } else if (exp == 31) {
        bits = mant == 0 ? 0x7F800000u : (0x7FC00000u | (mant << 13));
    } else {
        bits = ((exp + 112u) << 23) | (mant << 13);
    }
    return std::bit_cast<float>(sign | bits);
}

// ------------------------------------------------------------- writers

void write_full32(std::span<const float> values, std::vector<std::uint8_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + 4 * values.size());
    std::uint8_t* dst = out.data() + at;
    for (const float v : values) {
        store_be32(dst, std::bit_cast<std::uint32_t>(v));
        dst += 4;
    }
}

void write_half16(std::span<const float> values, std::vector<std::uint8_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + 2 * values.size());
    std::uint8_t* dst = out.data() + at;
    for (const float v : values) {
        store_be16(dst, f32_to_f16(v));
        dst += 2;
    }
}

Result<void> write_quant8(std::span<const float> values, std::vector<std::uint8_t>& out) {
    auto q = quantize_values(values, 8);
    if (!q) return fail(std::move(q.error()));
    put_min_max(out, q->min, q->max);
    for (const std::uint32_t c : q->codes) out.push_back(static_cast<std::uint8_t>(c));
    return {};
}

Result<void> write_bits(std::span<const float> values, std::uint8_t bits, std::vector<std::uint8_t>& out) {
    auto q = quantize_values(values, bits);
    if (!q) return fail(std::move(q.error()));
    put_min_max(out, q->min, q->max);
    pack_codes(q->codes, bits, out);
    return {};
}

Result<void> write_payload(std::span<const float> values, const Precision& precision, std::vector<std::uint8_t>& out) {
    switch (precision.kind) {
        case PrecisionKind::Full32: write_full32(values, out); return {};
        case PrecisionKind::Half16: write_half16(values, out); return {};
        case PrecisionKind::Quant8: return write_quant8(values, out);
        case PrecisionKind::Bits: break;
    }
    return write_bits(values, precision.bits, out);
}

// ------------------------------------------------------------- packing

void pack_codes(std::span<const std::uint32_t> codes, std::uint8_t bits, std::vector<std::uint8_t>& out) {
    const unsigned k = bits;
    const std::size_t nbytes = (codes.size() * k + 7) / 8;
    const std::size_t at = out.size();
    out.resize(at + nbytes, 0);
    if (k == 0) return;
    std::uint8_t* dst = out.data() + at;

    // At most 7 pending bits plus one code of up to 32 bits (wider codes are
    // written as leading zero bits followed by the 32 code bits).
    const std::uint64_t mask = k >= 32 ? 0xFFFFFFFFu : (std::uint64_t{1} << k) - 1u;
    std::uint64_t acc = 0;
    unsigned pending = 0;
    for (const std::uint32_t code : codes) {
        unsigned width = k;
        while (width > 32) {  // leading zero bits of an over-wide code
            const unsigned z = width - 32 < 8 ? width - 32 : 8;
            acc <<= z;
            pending += z;
            width -= z;
            while (pending >= 8) {
                *dst++ = static_cast<std::uint8_t>(acc >> (pending - 8));
                pending -= 8;
            }
        }
        acc = (acc << width) | (code & mask);
        pending += width;
        while (pending >= 8) {
            *dst++ = static_cast<std::uint8_t>(acc >> (pending - 8));
            pending -= 8;
        }
    }
    if (pending > 0) *dst = static_cast<std::uint8_t>(acc << (8 - pending));
}

std::vector<std::uint32_t> unpack_codes(std::span<const std::uint8_t> packed, std::uint8_t bits, std::size_t count) {
    std::vector<std::uint32_t> codes(count, 0);
    const unsigned k = bits;
    if (k == 0) return codes;
    const std::uint8_t* p = packed.data();
    const std::size_t len = packed.size();
    const std::uint64_t mask = k >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << k) - 1u;

    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t s = static_cast<std::uint64_t>(i) * k;  // first stream bit
        std::size_t byte = static_cast<std::size_t>(s >> 3);
        if (byte >= len) break;  // this and every later code start beyond the area: 0
        const unsigned off = static_cast<unsigned>(s & 7);

        if (k + off <= 64 && byte + 8 <= len) {
            // Whole code inside an 8-byte window.
            std::uint64_t w = 0;
            for (int b = 0; b < 8; ++b) w = (w << 8) | p[byte + static_cast<std::size_t>(b)];
            codes[i] = static_cast<std::uint32_t>((w >> (64 - off - k)) & mask);
            continue;
        }
        // Near the end of the area: byte by byte into a 32-bit accumulator.
        std::uint32_t acc = 0;
        unsigned remaining = k;
        while (remaining > 0 && byte < len) {
            const unsigned bit_off = static_cast<unsigned>(s & 7);
            const unsigned avail = 8 - bit_off;
            const unsigned take = remaining < avail ? remaining : avail;
            const std::uint32_t part = (std::uint32_t{p[byte]} >> (avail - take)) & ((1u << take) - 1u);
            acc = (acc << take) | part;
            s += take;
            remaining -= take;
            byte = static_cast<std::size_t>(s >> 3);
        }
        codes[i] = acc;
    }
    return codes;
}

// ------------------------------------------------------------- decoders

Result<std::vector<float>> decode_full32(std::span<const std::uint8_t> payload) {
    if (payload.size() % 4 != 0) return fail(MivoError::invalid_encoding());
    std::vector<float> out(payload.size() / 4);
    const std::uint8_t* p = payload.data();
    for (std::size_t i = 0; i < out.size(); ++i, p += 4) out[i] = get_f32(p);
    return out;
}

Result<std::vector<float>> decode_half16(std::span<const std::uint8_t> payload) {
    if (payload.size() % 2 != 0) return fail(MivoError::invalid_encoding());
    std::vector<float> out(payload.size() / 2);
    const std::uint8_t* p = payload.data();
    for (std::size_t i = 0; i < out.size(); ++i, p += 2) {
        out[i] = f16_to_f32(load_be16(p));
    }
    return out;
}

Result<std::vector<float>> decode_quant8(std::span<const std::uint8_t> payload) {
    if (payload.size() < 8) return fail(MivoError::insufficient_data(8, payload.size()));
    const float min = get_f32(payload.data());
    const float max = get_f32(payload.data() + 4);
    const std::span<const std::uint8_t> bytes = payload.subspan(8);
    std::vector<std::uint32_t> codes(bytes.begin(), bytes.end());
    return dequantize_values(codes, 8, min, max);
}

Result<std::vector<float>> decode_bits(std::span<const std::uint8_t> payload, std::uint8_t bits, std::size_t count) {
    if (payload.size() < 8) return fail(MivoError::insufficient_data(8, payload.size()));
    const float min = get_f32(payload.data());
    const float max = get_f32(payload.data() + 4);
    const std::vector<std::uint32_t> codes = unpack_codes(payload.subspan(8), bits, count);
    return dequantize_values(codes, bits, min, max);
}

}  // namespace mivo::embeddings
