// The helper's side of its socket: the bytes a client sends, cut into length-prefixed frames as the
// connection reads them, each payload decoded into a request the way the daemon does. A frame the
// reader refuses ends the stream, as it closes the connection.
#include "Platform/SocketFrame.hpp"
#include "XPC/HelperMessage.hpp"
#include "XPC/HelperProtocolError.hpp"

#include <algorithm>
#include <cstdlib>

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> stream(data, size);
    while (stream.size() >= SocketFrame::headerSize) {
        SocketFrame::Header header{};
        std::copy_n(stream.begin(), SocketFrame::headerSize, header.begin());
        const auto length = SocketFrame::payloadSize(header, maxHelperMessageSize);
        if (!length) {
            return 0;
        }
        if (*length > stream.size() - SocketFrame::headerSize) {
            return 0; // the peer hangs up mid-frame
        }
        const auto frame = stream.first(SocketFrame::headerSize + *length);
        const auto payload = frame.subspan(SocketFrame::headerSize);
        // A frame re-encoded from its payload is the frame that was read.
        const auto encoded = SocketFrame::encode(payload);
        if (!std::equal(encoded.begin(), encoded.end(), frame.begin(), frame.end())) {
            std::abort();
        }
        stream = stream.subspan(frame.size());
        try {
            const auto request = HelperRequest::fromJSON(decodeHelperMessage(payload));
            // What the client library sends for a request is read back as that request.
            if (HelperRequest::fromJSON(decodeHelperMessage(encodeHelperMessage(request.toJSON()))) !=
                request) {
                std::abort();
            }
        } catch (const HelperProtocolError&) {
            return 0;
        }
    }
    return 0;
}
