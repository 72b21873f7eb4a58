#include "protocol/wire.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace qor::protocol {
namespace {

TEST(WireTest, FieldsArePackedLittleEndianWithoutPadding) {
    std::array<uint8_t, 64> buffer {};
    PacketWriter writer(buffer.data(), buffer.size());
    writer.U32(20000);
    writer.U64(0x1122334455667788ull);  // starts at byte 4, not 8
    writer.I32(-13);
    writer.F32(1.5f);
    ASSERT_TRUE(writer.ok());
    EXPECT_EQ(writer.size(), 20u);
    const std::array<uint8_t, 20> expected = {0x20, 0x4E, 0,    0,    0x88, 0x77, 0x66, 0x55, 0x44, 0x33,
                                              0x22, 0x11, 0xF3, 0xFF, 0xFF, 0xFF, 0,    0,    0xC0, 0x3F};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));

    PacketReader reader(buffer.data(), writer.size());
    EXPECT_EQ(reader.U32(), 20000u);
    EXPECT_EQ(reader.U64(), 0x1122334455667788ull);
    EXPECT_EQ(reader.I32(), -13);
    EXPECT_EQ(reader.F32(), 1.5f);
    EXPECT_TRUE(reader.ok());
    EXPECT_EQ(reader.remaining(), 0u);
}

TEST(WireTest, CompositeValuesRoundTripAtOddOffsets) {
    std::array<uint8_t, 128> buffer {};
    PacketWriter writer(buffer.data(), buffer.size(), 3);
    const XrPosef pose {{0.1f, 0.2f, 0.3f, 0.9f}, {1.0f, -2.0f, 3.5f}};
    const XrFovf fov {-0.7f, 0.6f, 0.5f, -0.4f};
    const XrRect2Di rect {{-5, 7}, {1920, 2160}};
    writer.StructHeader(XR_TYPE_VIEW, 0);
    writer.Pose(pose);
    writer.Fov(fov);
    writer.Rect(rect);
    writer.Vector2({0.25f, -0.75f});
    writer.Extent2({2.0f, 1.0f});
    ASSERT_TRUE(writer.ok());
    EXPECT_EQ(writer.size(), 3 + kStructHeaderSize + kPoseSize + kFovSize + kRect2DiSize + 2 * kVector2Size);

    PacketReader reader(buffer.data(), writer.size(), 3);
    uint32_t type;
    uint64_t next;
    reader.StructHeader(&type, &next);
    EXPECT_EQ(type, static_cast<uint32_t>(XR_TYPE_VIEW));
    EXPECT_EQ(next, 0u);
    const XrPosef readPose = reader.Pose();
    EXPECT_EQ(readPose.orientation.w, 0.9f);
    EXPECT_EQ(readPose.position.y, -2.0f);
    const XrFovf readFov = reader.Fov();
    EXPECT_EQ(readFov.angleLeft, -0.7f);
    EXPECT_EQ(readFov.angleDown, -0.4f);
    const XrRect2Di readRect = reader.Rect();
    EXPECT_EQ(readRect.offset.x, -5);
    EXPECT_EQ(readRect.extent.height, 2160);
    EXPECT_EQ(reader.Vector2().y, -0.75f);
    EXPECT_EQ(reader.Extent2().width, 2.0f);
    EXPECT_TRUE(reader.ok());
}

TEST(WireTest, WriterStopsAtCapacityAndStaysFailed) {
    std::array<uint8_t, 10> buffer {};
    PacketWriter writer(buffer.data(), buffer.size());
    writer.U64(1);
    writer.U32(2);  // would end at 12
    EXPECT_FALSE(writer.ok());
    EXPECT_EQ(writer.size(), 8u);
    writer.Zeros(1);  // fits, but the writer already failed
    EXPECT_EQ(writer.size(), 8u);
    EXPECT_EQ(writer.remaining(), 0u);
}

TEST(WireTest, ReaderNeverReadsPastTheMessage) {
    const std::array<uint8_t, 6> bytes = {1, 0, 0, 0, 9, 9};
    PacketReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(reader.U32(), 1u);
    EXPECT_EQ(reader.U64(), 0u);  // only 2 bytes left: zero, and failed
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(reader.U32(), 0u);
    EXPECT_EQ(reader.Take(0), nullptr);
    PacketReader beyond(bytes.data(), bytes.size(), 7);
    EXPECT_FALSE(beyond.ok());
}

TEST(WireTest, FixedCharacterArraysTravelAtFullSize) {
    char name[128] = "my app";
    name[100] = 'x';  // trailing bytes travel as they are
    std::array<uint8_t, 256> buffer {};
    PacketWriter writer(buffer.data(), buffer.size());
    writer.FixedChars(name, sizeof name);
    EXPECT_EQ(writer.size(), 128u);
    EXPECT_EQ(buffer[100], 'x');

    // A sender that fills the whole array without NUL cannot make the reader overrun.
    std::fill(buffer.begin(), buffer.begin() + 128, 'A');
    PacketReader reader(buffer.data(), 128);
    char out[128];
    reader.FixedChars(out, sizeof out);
    EXPECT_TRUE(reader.ok());
    EXPECT_EQ(std::string(out).size(), 127u);
}

TEST(WireTest, VariableStringsCountTheirTerminator) {
    std::array<uint8_t, 64> buffer {};
    PacketWriter writer(buffer.data(), buffer.size());
    writer.String64("/user/hand/left");
    writer.String32("abc");
    ASSERT_TRUE(writer.ok());
    EXPECT_EQ(writer.size(), 8 + 16 + 4 + 4u);
    EXPECT_EQ(buffer[0], 16);

    PacketReader reader(buffer.data(), writer.size());
    EXPECT_EQ(reader.String64(256), "/user/hand/left");
    EXPECT_EQ(reader.String32(256), "abc");
    EXPECT_TRUE(reader.ok());
}

struct BadString {
    const char* what;
    std::vector<uint8_t> bytes;
    uint64_t maxLength;
};

TEST(WireTest, MalformedStringsAreRefused) {
    const std::vector<BadString> cases = {
        {"zero length", {0, 0, 0, 0, 0, 0, 0, 0}, 256},
        {"no terminator", {2, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'}, 256},
        {"longer than the message", {9, 0, 0, 0, 0, 0, 0, 0, 'a', 0}, 256},
        {"above the limit", {3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 0}, 2},
        {"huge length", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0}, ~0ull},
        {"truncated length", {1, 0, 0}, 256},
    };
    for (const auto& bad : cases) {
        PacketReader reader(bad.bytes.data(), bad.bytes.size());
        EXPECT_FALSE(reader.String64(bad.maxLength)) << bad.what;
        EXPECT_FALSE(reader.ok()) << bad.what;
    }
}

}  // namespace
}  // namespace qor::protocol
