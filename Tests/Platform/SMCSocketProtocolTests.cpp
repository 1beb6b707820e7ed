#include "Platform/SMCSocketProtocol.hpp"
#include "Platform/SocketFrame.hpp"
#include "Support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using Protocol = SMCSocketProtocol;
using Type = Protocol::MessageType;

TEST(SMCSocketProtocolTest, CallsAndRepliesKeepEveryField) {
    SMCParamStruct record;
    for (std::size_t i = 0; i < record.raw.size(); ++i) {
        record.raw[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    const auto request = Protocol::decodeRequest(Protocol::encodeRequest(Protocol::call(2, record, 80)));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->type, Type::call);
    EXPECT_EQ(request->selector, 2u);
    EXPECT_EQ(request->outputCapacity, 80u);
    EXPECT_EQ(request->record.raw, record.raw);

    const Protocol::Reply reply{
        .type = Type::call, .code = 0xe00002c1, .outputSize = 80, .record = record, .text = {}};
    const auto encoded = Protocol::encodeReply(reply);
    EXPECT_EQ(encoded.size(), 89u);
    EXPECT_EQ(encoded[0], 0x83);
    const auto decoded = Protocol::decodeReply(encoded);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->code, 0xe00002c1);
    EXPECT_EQ(decoded->record.raw, record.raw);

    const Protocol::Reply model{
        .type = Type::modelIdentifier, .code = 0, .outputSize = 0, .record = {}, .text = "Mac15,11"};
    EXPECT_EQ(Protocol::decodeReply(Protocol::encodeReply(model))->text, "Mac15,11");
    EXPECT_EQ(Protocol::decodeRequest(Protocol::encodeRequest(Protocol::control("{}")))->text, "{}");
}

TEST(SMCSocketProtocolTest, PayloadsThatDoNotFitTheirTypeAreMalformed) {
    using Bytes = std::vector<std::uint8_t>;
    for (const auto& request : {Bytes{}, Bytes{0x00}, Bytes{0x06}, Bytes{0x81}, Bytes{0x01, 0x00},
                                Bytes(88, 0x03), Bytes(90, 0x03), Bytes{0x05}}) {
        EXPECT_FALSE(Protocol::decodeRequest(request)) << request.size() << " bytes";
    }
    EXPECT_FALSE(Protocol::decodeReply(Bytes{0x01, 0, 0, 0, 0}));
    EXPECT_FALSE(Protocol::decodeReply(Bytes{0x81, 0, 0, 0}));
    EXPECT_FALSE(Protocol::decodeReply(Bytes(88, 0x83)));
}

TEST(SocketFrameTest, LengthsOutsideOneToTheCapAreRefused) {
    const auto frame = SocketFrame::encode(std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC});
    EXPECT_EQ(frame, (std::vector<std::uint8_t>{3, 0, 0, 0, 0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(SocketFrame::payloadSize(SocketFrame::header(0x012345), 0x012345), 0x012345u);
    EXPECT_FALSE(SocketFrame::payloadSize(SocketFrame::header(0x012346), 0x012345));
    EXPECT_FALSE(SocketFrame::payloadSize(SocketFrame::header(0), 100));
    EXPECT_FALSE(SocketFrame::payloadSize({0xFF, 0xFF, 0xFF, 0xFF}, Protocol::maxPayload));
}

TEST(SMCSocketProtocolTest, TheEnvironmentOverridesTheDefaultPath) {
    std::optional<testing::ScopedEnvironment> path(std::in_place, Protocol::socketPathVariable,
                                                   "/tmp/elsewhere.sock");
    EXPECT_EQ(Protocol::socketPath(), "/tmp/elsewhere.sock");
    path.emplace(Protocol::socketPathVariable, "");
    EXPECT_EQ(Protocol::socketPath(), "/run/quorvane-sim.sock");
}

} // namespace
} // namespace quorvane
