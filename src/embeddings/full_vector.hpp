// Full-vector payloads: the min/max quantiser and its inverse, the four
// payload layouts (Full32, Half16, Quant8, Bits) and their decoders.
//
// Payload layouts for n values (all multi-byte numbers big-endian):
//   Full32   4n bytes: binary32 bit patterns
//   Half16   2n bytes: binary16 bit patterns (round to nearest, ties to even)
//   Quant8   min, max (binary32), then one code byte per value
//   Bits k   min, max, then the k-bit codes packed most significant bit first
//            into ceil(n * k / 8) bytes, unused low bits of the last byte 0
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "embeddings/error.hpp"
#include "embeddings/projection.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {

struct QuantizedValues {
    std::vector<std::uint32_t> codes;  // one per value, each in 0 .. 2^bits - 1
    float min = 0.0f;
    float max = 0.0f;

    friend bool operator==(const QuantizedValues&, const QuantizedValues&) = default;
};

// Min/max quantiser, all arithmetic in f32: code = roundf(((v - min) / range)
// * maxq) clamped to 0 .. maxq, maxq = 2^bits - 1 as f32. A constant vector
// gives the middle code 2^(bits - 1) everywhere; an empty one no codes and
// min = max = 0. InvalidPrecision "Bits must be 1-32, got N" for bits outside
// 1..32, before any value is read.
Result<QuantizedValues> quantize_values(std::span<const float> values, std::uint8_t bits);

// Inverse: ((f32)code / maxq) * (max - min) + min in f32, in that order; every
// value is min when max - min is 0. Never fails; any bit count is taken as
// given (maxq = 2^bits - 1 rounded to f32).
std::vector<float> dequantize_values(std::span<const std::uint32_t> codes, std::uint8_t bits, float min, float max);

// IEEE 754 binary16 conversions. To half: round to nearest, ties to even
// (|x| >= 65520 gives infinity, |x| <= 2^-25 a signed zero); a NaN stays a
// quiet NaN with its sign and the top of its payload. From half: exact, a NaN
// keeps sign and payload (moved to the top of the mantissa) with the quiet bit
// set.
std::uint16_t f32_to_f16(float value);
float f16_to_f32(std::uint16_t half);

// ---------------------------------------------------------- payload writers
// Each appends the payload of `values` to `out`; on failure `out` is left as
// it was.

void write_full32(std::span<const float> values, std::vector<std::uint8_t>& out);
void write_half16(std::span<const float> values, std::vector<std::uint8_t>& out);
Result<void> write_quant8(std::span<const float> values, std::vector<std::uint8_t>& out);
Result<void> write_bits(std::span<const float> values, std::uint8_t bits, std::vector<std::uint8_t>& out);
// Dispatches on the precision (Bits with its bit count).
Result<void> write_payload(std::span<const float> values, const Precision& precision, std::vector<std::uint8_t>& out);

// Packs codes of `bits` bits (1..32; higher code bits are ignored) most
// significant bit first, appending ceil(codes.size() * bits / 8) bytes.
void pack_codes(std::span<const std::uint32_t> codes, std::uint8_t bits, std::vector<std::uint8_t>& out);

// Reads `count` codes of `bits` bits from a packed area. Codes are gathered
// into 32 bits (a wider code keeps its low 32 bits). A code whose first bit
// lies beyond the area is 0; a code cut by the end of the area is the bits
// read so far, not shifted further.
std::vector<std::uint32_t> unpack_codes(std::span<const std::uint8_t> packed, std::uint8_t bits, std::size_t count);

// ---------------------------------------------------------- payload decoders

// Length not a multiple of 4: InvalidEncoding.
Result<std::vector<float>> decode_full32(std::span<const std::uint8_t> payload);
// Odd length: InvalidEncoding.
Result<std::vector<float>> decode_half16(std::span<const std::uint8_t> payload);
// Fewer than 8 bytes: InsufficientData (expected 8, got the length).
Result<std::vector<float>> decode_quant8(std::span<const std::uint8_t> payload);
// Fewer than 8 bytes: InsufficientData (expected 8, got the length). A short
// packed area decodes its missing codes as 0 (see unpack_codes).
Result<std::vector<float>> decode_bits(std::span<const std::uint8_t> payload, std::uint8_t bits, std::size_t count);

}  // namespace mivo::embeddings
