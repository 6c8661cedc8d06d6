// Identifier headers: the byte form of a record and its readers.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "embeddings/header.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

ProfileInfo info_of(std::uint8_t profile, std::uint8_t version = 0) {
    ProfileInfo info;
    info.profile = profile;
    info.version = version;
    return info;
}

ProfileInfo full_vector_info(Precision p, DimensionMode m, std::uint64_t seed = 0x4D49564F46554C4Cull) {
    ProfileInfo info = info_of(kProfileFullVector);
    info.seed = seed;
    info.original_dims = 768;
    info.dimension_mode = m;
    info.precision = p;
    return info;
}

TEST(Header, FullVectorWritesAndReadsBack) {
    const struct {
        Precision precision;
        DimensionMode mode;
        const char* expected;
    } cases[] = {
        {Precision::bits_of(32), DimensionMode::reduce(1), "040003002201000146554c4c"},
        {Precision::half16(), DimensionMode::common(2048), "040003000102080046554c4c"},
        {Precision::quant8(), DimensionMode::preserve(), "040003000200000046554c4c"},
    };
    for (const auto& c : cases) {
        const Bytes h = to_header(full_vector_info(c.precision, c.mode));
        EXPECT_EQ(h, from_hex(c.expected));
        const auto back = read_full_vector_header(h);
        ASSERT_TRUE(back.has_value());
        // Only the low 32 bits of the seed are stored.
        EXPECT_EQ(*back, full_vector_info(c.precision, c.mode, 0x46554C4Cu)) << int(c.precision.code());
        EXPECT_EQ(encoded_dims(*back), c.mode.kind == ModeKind::Preserve ? 768 : c.mode.target);
    }
}

TEST(Header, FieldsOutsideTheRecordWriteZero) {
    EXPECT_EQ(to_header(full_vector_info(Precision::full32(), DimensionMode{ModeKind::Preserve, 77})),
              from_hex("040003000000000046554c4c"));
    EXPECT_EQ(to_header(info_of(kProfileFullVector)), from_hex("040000000000000000000000"));
    ProfileInfo morton = info_of(kProfileMorton10x10, 0x13);  // the version is cut to 4 bits
    morton.transform_id = 0x1234;
    EXPECT_EQ(to_header(morton), from_hex("32001234"));
}

TEST(Header, ReaderExaminesOnlyWhatTheProfileNeeds) {
    // The common read: byte 0 only.
    const auto r = read_header(Bytes{0xF4, 0xAB});
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, info_of(4, 0x0F));
    // Other profile codes: the full-vector read gives the common fields only.
    EXPECT_EQ(read_full_vector_header(Bytes{0x01, 0x00, 0xFF}), info_of(1));
    // Every mode keeps its target; reserved and trailing bytes are ignored.
    const auto f =
        read_full_vector_header(Bytes{0x74, 0x99, 0x08, 0x00, 0x01, 0x00, 0x01, 0x02, 0xDE, 0xAD, 0xBE, 0xEF, 0x11});
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->version, 7);
    EXPECT_EQ(f->dimension_mode, (DimensionMode{ModeKind::Preserve, 0x0102}));
    EXPECT_EQ(f->seed, std::optional<std::uint64_t>{0xDEADBEEFu});
    EXPECT_EQ(encoded_dims(*f), 2048);
}

}  // namespace
}  // namespace mivo::embeddings
