// The identifier reader as a whole on any text: decode_to_embedding fails
// only with its documented kinds, agrees with is_reversible, and gives the
// header's value count where the header fixes it. Run with a large -max_len
// and a short -timeout: the readers must stay linear in the input size.
#include <cstdint>
#include <string_view>

#include "embeddings/decode.hpp"
#include "fuzz_util.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace e = mivo::embeddings;
    using mivo::fuzz::disagree;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const bool reversible = e::is_reversible(text);
    const auto decoded = e::decode_to_embedding(text);
    if (!decoded) {
        switch (decoded.error().kind()) {
            case e::ErrorKind::InvalidEncoding:
            case e::ErrorKind::InvalidHeader:
            case e::ErrorKind::InvalidMetadata:
            case e::ErrorKind::InsufficientData: break;
            case e::ErrorKind::DecodingNotSupported:
                if (reversible) disagree("reversible text reported as not decodable", text);
                break;
            default: disagree("decode_to_embedding error kind", text);
        }
        return 0;
    }
    if (!reversible) disagree("decoded text is not reversible", text);
    if (decoded->precision.kind == e::PrecisionKind::Bits && decoded->values.size() != decoded->encoded_dims)
        disagree("Bits value count differs from the header's", text);
    return 0;
}
