#include "display/winpipe/window_pipe_message.h"
#include "display/winpipe/window_pipe_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <optional>
#include <string>
#include <vector>

namespace qor::winpipe {
namespace {

// The arguments as text, for comparing whole decodes at once.
std::vector<std::string> Texts(const std::vector<ByteView>& arguments) {
    std::vector<std::string> texts;
    for (const ByteView argument : arguments) texts.emplace_back(argument.begin(), argument.end());
    return texts;
}

struct RequestCase {
    const char* name;
    Bytes message;
    std::optional<uint16_t> command;  // nothing: refused
    std::vector<std::string> arguments;
};

TEST(WindowPipeMessageTest, RequestsDecodeWithinTheirBounds) {
    const std::vector<RequestCase> cases = {
        {"shorter than the header", {1, 0}, std::nullopt, {}},
        {"header alone with count 0", {1, 0, 0}, 1, {}},
        {"command is little-endian", {0x02, 0x01, 0}, 0x0102, {}},
        {"count without a length", {4, 0, 1}, std::nullopt, {}},
        {"length cut short", {4, 0, 1, 2, 0, 0}, std::nullopt, {}},
        {"length past the end", {5, 0, 1, 3, 0, 0, 0, 'a', 'b'}, std::nullopt, {}},
        {"length of 4 GiB - 1", {5, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, std::nullopt, {}},
        {"second argument past the end", {2, 0, 2, 1, 0, 0, 0, 'a', 2, 0, 0, 0, 'b'}, std::nullopt, {}},
        {"two arguments, one empty", {2, 0, 2, 2, 0, 0, 0, 'a', 'b', 0, 0, 0, 0}, 2, {"ab", ""}},
        {"bytes after the last argument ignored", {3, 0, 1, 1, 0, 0, 0, 'x', 'y'}, 3, {"x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto request = DecodeRequest(c.message);
        ASSERT_EQ(request.has_value(), c.command.has_value());
        if (!request) continue;
        EXPECT_EQ(request->command, *c.command);
        EXPECT_EQ(Texts(request->arguments), c.arguments);
    }
}

struct ReplyCase {
    const char* name;
    Bytes message;
    std::optional<std::vector<std::string>> arguments;  // nothing: refused
    std::optional<int32_t> integer;
};

TEST(WindowPipeMessageTest, RepliesDecodeWithinTheirBounds) {
    const std::string zero4(4, '\0');
    const std::vector<ReplyCase> cases = {
        {"empty", {}, std::nullopt, std::nullopt},
        {"count 0", {0}, std::vector<std::string> {}, std::nullopt},
        {"integer reply", {1, 4, 0, 0, 0, 0, 0, 0, 0}, std::vector {zero4}, 0},
        {"integer -1", {1, 4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, std::vector {std::string(4, '\xFF')}, -1},
        // What a client finds in its zeroed 13-byte buffer after the 9-byte reply.
        {"integer reply in a zeroed buffer", {1, 4, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0}, std::vector {std::string("\x07\0\0\0", 4)}, 7},
        {"nothing arrived in a zeroed buffer", Bytes(13, 0), std::vector<std::string> {}, std::nullopt},
        {"integer argument of 2 bytes", {1, 2, 0, 0, 0, 5, 0}, std::vector {std::string("\x05\0", 2)}, std::nullopt},
        {"length past the end", {1, 4, 0, 0, 0, 1, 2}, std::nullopt, std::nullopt},
        {"count past the arguments", {2, 4, 0, 0, 0, 0, 0, 0, 0}, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto arguments = DecodeReply(c.message);
        ASSERT_EQ(arguments.has_value(), c.arguments.has_value());
        if (arguments) {
            EXPECT_EQ(Texts(*arguments), *c.arguments);
        }
        EXPECT_EQ(ReadIntegerReply(c.message), c.integer);
    }
}

TEST(WindowPipeMessageTest, EncodingsHaveTheirExactBytesAndRoundTrip) {
    const int32_t one = 1;
    const Bytes request = EncodeRequest(5, {BytesOf(one)});
    EXPECT_EQ(request, (Bytes {5, 0, 1, 4, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(EncodeRequest(1, {}), (Bytes {1, 0, 0}));
    const auto decoded = DecodeRequest(request);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->command, 5);
    ASSERT_EQ(decoded->arguments.size(), 1u);
    EXPECT_EQ(decoded->arguments[0].data(), request.data() + 7);

    EXPECT_EQ(IntegerReply(0), (Bytes {1, 4, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ReadIntegerReply(IntegerReply(-1)), -1);

    // Two 12-byte records: 33 bytes, the data at offsets 5 and 21.
    Bytes left(12), right(12);
    for (uint8_t i = 0; i < 12; ++i) {
        left[i] = i;
        right[i] = static_cast<uint8_t>(0x80 + i);
    }
    const Bytes reply = EncodeReply({left, right});
    ASSERT_EQ(reply.size(), 33u);
    EXPECT_EQ(reply[0], 2);
    EXPECT_EQ(Bytes(reply.begin() + 5, reply.begin() + 17), left);
    EXPECT_EQ(Bytes(reply.begin() + 21, reply.end()), right);
    const auto records = DecodeReply(reply);
    ASSERT_TRUE(records && records->size() == 2);
    EXPECT_EQ((*records)[0].data(), reply.data() + 5);
    EXPECT_EQ((*records)[1].data(), reply.data() + 21);
}

TEST(WindowPipeProtocolTest, EyeRecordsTravelLeftFirstAtTheirFixedOffsets) {
    const EyePair eyes {{-30.0f, 1.5f, 600.0f}, {30.0f, -2.0f, 601.25f}};
    const EyePositionRecord left = EncodeEyePosition(eyes.left);
    EXPECT_EQ(Bytes(left.begin(), left.end()), (Bytes {0, 0, 0xF0, 0xC1, 0, 0, 0xC0, 0x3F, 0, 0, 0x16, 0x44}));
    EXPECT_EQ(DecodeEyePosition(left), eyes.left);
    EXPECT_FALSE(DecodeEyePosition(ByteView(left).first(11)));

    const Bytes store = StoreEyePositionsRequest(eyes);
    const auto request = DecodeRequest(store);
    ASSERT_TRUE(request && request->arguments.size() == 2);
    EXPECT_EQ(request->command, kCommandStoreEyePositions);
    EXPECT_EQ(DecodeEyePosition(request->arguments[0]), eyes.left);
    EXPECT_EQ(DecodeEyePosition(request->arguments[1]), eyes.right);

    // The reply as a client finds it in its zeroed 50-byte buffer, whole and cut short.
    const Bytes reply = EyePositionsReply(eyes);
    ASSERT_EQ(reply.size(), 33u);
    Bytes buffer(kEyePositionsReplyBufferSize, 0);
    std::copy(reply.begin(), reply.end(), buffer.begin());
    EXPECT_EQ(EyePairFromReplyBuffer(buffer), eyes);
    EXPECT_EQ(EyePairFromReplyBuffer(ByteView(buffer).first(21)), (EyePair {eyes.left, {}}));
    EXPECT_EQ(EyePairFromReplyBuffer(Bytes(kEyePositionsReplyBufferSize, 0)), EyePair {});
    EXPECT_EQ(EyePairFromReplyBuffer({}), EyePair {});
}

TEST(WindowPipeProtocolTest, HandleTextIsTheLow32BitsInDecimalPaddedTo20Bytes) {
    const struct {
        uint64_t handle;
        std::string text;
    } cases[] = {{0x0000000140000A02ull, "1073744386"}, {0xFFFFFFFFull, "4294967295"}, {0, "0"}};
    for (const auto& c : cases) {
        const HandleText text = HandleTextOf(c.handle);
        std::string expected = c.text;
        expected.resize(kHandleTextSize, '\0');
        EXPECT_EQ(std::string(text.begin(), text.end()), expected);
    }
}

}  // namespace
}  // namespace qor::winpipe
