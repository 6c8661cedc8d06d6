// The header readers on any bytes: they fail only with the header kinds,
// and what they read writes a header that reads back to itself.
#include <cstdint>
#include <span>
#include <string_view>

#include "embeddings/header.hpp"
#include "fuzz_util.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace e = mivo::embeddings;
    using mivo::fuzz::disagree;
    const std::span<const std::uint8_t> bytes(data, size);
    const std::string_view raw(reinterpret_cast<const char*>(data), size);

    const auto common = e::read_header(bytes);
    if (common.has_value() != (size >= 2)) disagree("read_header accepts exactly 2 bytes and more", raw);
    if (!common && common.error().kind() != e::ErrorKind::InvalidHeader) disagree("read_header error kind", raw);

    const auto full = e::read_full_vector_header(bytes);
    if (!full) {
        const auto kind = full.error().kind();
        if (kind != e::ErrorKind::InvalidHeader && kind != e::ErrorKind::InvalidMetadata)
            disagree("read_full_vector_header error kind", raw);
        return 0;
    }
    if (full->profile != common->profile || full->version != common->version) disagree("common fields differ", raw);
    // The writer drops what it never writes (a Preserve mode's target), so
    // the header it writes is the one to read back exactly.
    const auto header = e::to_header(*full);
    const auto again = e::read_full_vector_header(header);
    if (!again || e::to_header(*again) != header) disagree("to_header does not read back", raw);
    if (again->precision != full->precision || again->original_dims != full->original_dims || again->seed != full->seed)
        disagree("header fields lost in writing", raw);
    return 0;
}
