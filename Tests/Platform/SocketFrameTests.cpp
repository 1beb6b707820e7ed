#include "Platform/SMCSocketProtocol.hpp"
#include "Platform/SocketFrame.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(SocketFrameTest, LengthsOutsideOneToTheCapAreRefused) {
    const auto frame = SocketFrame::encode(std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC});
    EXPECT_EQ(frame, (std::vector<std::uint8_t>{3, 0, 0, 0, 0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(SocketFrame::payloadSize(SocketFrame::header(0x012345), 0x012345), 0x012345u);
    EXPECT_FALSE(SocketFrame::payloadSize(SocketFrame::header(0x012346), 0x012345));
    EXPECT_FALSE(SocketFrame::payloadSize(SocketFrame::header(0), 100));
    EXPECT_FALSE(SocketFrame::payloadSize({0xFF, 0xFF, 0xFF, 0xFF}, SMCSocketProtocol::maxPayload));
}

} // namespace
} // namespace quorvane
