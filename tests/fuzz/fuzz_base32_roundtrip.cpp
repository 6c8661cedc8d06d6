// encode_text then decode_text gives the bytes back, for any bytes.
#include <cstdint>
#include <string_view>
#include <vector>

#include "embeddings/base32hex.hpp"
#include "fuzz_util.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace e = mivo::embeddings;
    using mivo::fuzz::disagree;
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const std::string text = e::encode_text(bytes);
    if (text.size() != (size * 8 + 4) / 5) disagree("encoded length", raw, text);
    if (!e::check_text(text)) disagree("check_text refuses encode_text's output", raw, text);
    const auto back = e::decode_text(text);
    if (!back || *back != bytes) disagree("decode_text(encode_text(b)) != b", raw, text);
    return 0;
}
