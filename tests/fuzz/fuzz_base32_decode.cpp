// The base32hex checker and decoder on any text: the checker accepts exactly
// the texts made of 0-9 and a-v, the decoder accepts only such texts and
// only those that encoding gives back unchanged, and neither fails any other
// way than InvalidEncoding.
#include <cstdint>
#include <string_view>

#include "embeddings/base32hex.hpp"
#include "fuzz_util.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace e = mivo::embeddings;
    using mivo::fuzz::disagree;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    bool alphabet = true;
    for (const char c : text) alphabet = alphabet && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'v'));
    const auto checked = e::check_text(text);
    if (checked.has_value() != alphabet) disagree("check_text", text);
    if (!checked && checked.error().kind() != e::ErrorKind::InvalidEncoding) disagree("check_text error kind", text);

    const auto decoded = e::decode_text(text);
    if (!decoded) {
        if (decoded.error().kind() != e::ErrorKind::InvalidEncoding) disagree("decode_text error kind", text);
        // Refused only for a bad character, an impossible length or non-zero
        // leftover bits.
        if (alphabet && size % 8 != 1 && size % 8 != 3 && size % 8 != 6) {
            const auto back = e::decode_text(text.substr(0, size - size % 8));
            if (!back) disagree("decode_text refuses whole groups of good characters", text);
        }
        return 0;
    }
    if (!alphabet) disagree("decode_text accepts a character outside the alphabet", text);
    if (decoded->size() != size * 5 / 8) disagree("decode_text length", text);
    if (e::encode_text(*decoded) != text) disagree("encode_text(decode_text(t)) != t", text);
    return 0;
}
