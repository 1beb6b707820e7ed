// The app's side of the helper socket: one frame's payload as the helper connection delivers it,
// decoded into a response, its error turned into the user's sentence, its dictionary read the ways
// the client and the app model read it.
#include "App/SessionPreflight.hpp"
#include "XPC/HelperMessage.hpp"
#include "XPC/HelperProtocolError.hpp"
#include "XPC/HelperReply.hpp"
#include "XPC/HelperXPCError.hpp"

#include <cstdlib>
#include <string_view>

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > maxHelperMessageSize) {
        return 0; // the connection refuses the frame before its payload is read
    }
    HelperResponse response;
    try {
        response = HelperResponse::fromJSON(decodeHelperMessage(std::span(data, size)));
    } catch (const HelperProtocolError&) {
        return 0;
    }
    if (response.error) {
        const XPCError shown = HelperXPCError::readable(*response.error);
        // The user always gets a sentence.
        if (std::string_view(shown.what()).empty() &&
            response.error->localizedDescription().value_or("x") != "") {
            std::abort();
        }
        HelperXPCError::isInvalidSession(*response.error);
    }
    if (response.reply) {
        if (auto reply = HelperReply::fromDictionary(*response.reply)) {
            // A dictionary the client accepts survives being written and read again.
            if (HelperReply::fromDictionary(reply->dictionary()) != reply) {
                std::abort();
            }
        }
        SessionPreflight::isClean(*response.reply);
        SessionPreflight::controllableFans(*response.reply);
        SessionPreflight::testFan(*response.reply);
    }
    return 0;
}
