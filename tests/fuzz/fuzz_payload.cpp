// Every full-vector payload decoder on any bytes. Byte 0 picks the decoder
// (and the bit count of Bits), bytes 1-2 the value count; the rest is the
// payload. Checks the value counts, the errors, and that a NaN that
// dequantisation computes is the one quiet NaN.
#include <bit>
#include <cstdint>
#include <span>
#include <string_view>

#include "embeddings/full_vector.hpp"
#include "fuzz_util.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace e = mivo::embeddings;
    using mivo::fuzz::disagree;
    if (size < 3) return 0;
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const std::span<const std::uint8_t> payload(data + 3, size - 3);
    const std::size_t n = payload.size();
    const unsigned pick = data[0] % 36;  // the precision codes: 0, 1, 2, then Bits 1..33
    const std::size_t count = static_cast<std::size_t>(data[1]) << 8 | data[2];

    const auto out = pick == 0   ? e::decode_full32(payload)
                     : pick == 1 ? e::decode_half16(payload)
                     : pick == 2 ? e::decode_quant8(payload)
                                 : e::decode_bits(payload, static_cast<std::uint8_t>(pick - 2), count);
    const std::size_t unit = pick == 0 ? 4 : 2;
    if (pick <= 1 && n % unit != 0) {
        if (out || out.error().kind() != e::ErrorKind::InvalidEncoding) disagree("odd-sized payload accepted", raw);
        return 0;
    }
    if (pick >= 2 && n < 8) {
        if (out || out.error().kind() != e::ErrorKind::InsufficientData || out.error().got() != n)
            disagree("short quantised payload", raw);
        return 0;
    }
    const std::size_t want = pick <= 1 ? n / unit : pick == 2 ? n - 8 : count;
    if (!out) disagree("decoder refused a well-formed payload", raw);
    if (out->size() != want) disagree("value count", raw);
    if (pick >= 2) {
        for (const float v : *out)
            if (v != v && std::bit_cast<std::uint32_t>(v) != 0x7FC00000u) disagree("computed NaN not canonical", raw);
    }
    return 0;
}
