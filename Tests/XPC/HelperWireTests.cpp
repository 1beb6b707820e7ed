#include "XPC/HelperMessage.hpp"
#include "XPC/HelperProtocolError.hpp"
#include "XPC/HelperReply.hpp"
#include "XPC/HelperReplyKey.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using nlohmann::json;

TEST(HelperReplyTest, FlatKeysMirrorFansZeroAndOne) {
    HelperReply reply{
        1, {{0, 1, 2400, 1200, 6900, 2400, true}, {1, 0, 0, 1200, 7450, std::nullopt, true}}, 0};
    const json dictionary = reply.dictionary();
    EXPECT_EQ(dictionary[HelperReplyKey::fanCount], 2);
    EXPECT_EQ(dictionary[HelperReplyKey::fanTestMode], 0);
    EXPECT_EQ(dictionary["fan0Target"], 2400);
    EXPECT_EQ(dictionary["fan1Maximum"], 7450);
    EXPECT_FALSE(dictionary.contains("fan1Target"));
    EXPECT_FALSE(dictionary[HelperReplyKey::fans][1].contains(HelperReplyKey::fanTarget));
    EXPECT_EQ(HelperReply::fromDictionary(dictionary), reply);

    // One fan: no fan1 keys; no diagnostic lock: no fanTestMode.
    const json single = HelperReply{1, {{0, 0, 0, 1200, 5000, 0, false}}, std::nullopt}.dictionary();
    EXPECT_FALSE(single.contains(HelperReplyKey::fanTestMode));
    EXPECT_FALSE(single.contains("fan1Maximum"));
}

TEST(HelperMessageTest, RequestsRoundTripWithArgumentsInDeclarationOrder) {
    HelperRequest request{7, HelperSelector::setFanTargetRPM, "ABC", 1, false, 3000};
    const json encoded = request.toJSON();
    EXPECT_EQ(encoded["selector"], "setFanTargetRPM:rpm:sessionID:reply:");
    EXPECT_EQ(encoded["arguments"], json({1, 3000, "ABC"}));
    EXPECT_EQ(HelperRequest::fromJSON(encoded), request);

    HelperRequest mode{8, HelperSelector::setFanMode, "S", 0, true, 0};
    EXPECT_EQ(HelperRequest::fromJSON(mode.toJSON()), mode);
    EXPECT_EQ(HelperRequest::fromJSON(json::parse(R"({"id":1,"selector":"statusWithReply:"})")).selector,
              HelperSelector::status);
}

TEST(HelperMessageTest, MalformedRequestsAreProtocolErrors) {
    const char* bad[] = {
        R"({"selector":"statusWithReply:","arguments":[]})",
        R"({"id":-1,"selector":"statusWithReply:","arguments":[]})",
        R"({"id":1,"selector":"writeKey:","arguments":[]})",
        R"({"id":1,"selector":"heartbeat:reply:","arguments":[5]})",
        R"({"id":1,"selector":"setFanMode:manual:sessionID:reply:","arguments":[0,1,"S"]})",
        R"({"id":1,"selector":"setFanTargetRPM:rpm:sessionID:reply:","arguments":[0,18446744073709551615,"S"]})",
        R"({"id":1,"selector":"resetAll:reply:","arguments":{"session":"S"}})",
    };
    for (const char* text : bad) {
        EXPECT_THROW(HelperRequest::fromJSON(json::parse(text)), HelperProtocolError) << text;
    }
}

TEST(HelperMessageTest, NestingNoMessageUsesIsRefusedWithoutRecursion) {
    // A frame's worth of brackets: deep enough to overflow the stack of any recursive copy.
    const std::string deep = std::string(30000, '[') + std::string(30000, ']');
    const std::string text = R"({"id":1,"selector":"heartbeat:reply:","arguments":)" + deep + "}";
    ASSERT_LE(text.size(), maxHelperMessageSize);
    EXPECT_THROW(decodeHelperMessage(std::vector<std::uint8_t>(text.begin(), text.end())),
                 HelperProtocolError);
    EXPECT_THROW(HelperRequest::fromJSON(json::parse(text)), HelperProtocolError);

    const json fans = {{"id", 1}, {"reply", {{"fans", {{{"index", 0}}}}}}};
    EXPECT_EQ(decodeHelperMessage(encodeHelperMessage(fans)), fans);
}

} // namespace
} // namespace quorvane
