#include "Platform/SocketFrame.hpp"

#include <algorithm>

namespace quorvane {

SocketFrame::Header SocketFrame::header(std::size_t payloadSize) {
    Header bytes{};
    for (std::size_t i = 0; i < headerSize; ++i) {
        bytes[i] = static_cast<std::uint8_t>(payloadSize >> (8 * i));
    }
    return bytes;
}

std::optional<std::size_t> SocketFrame::payloadSize(const Header& header, std::size_t maxPayload) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < headerSize; ++i) {
        size |= static_cast<std::size_t>(header[i]) << (8 * i);
    }
    if (size == 0 || size > maxPayload) {
        return std::nullopt;
    }
    return size;
}

std::vector<std::uint8_t> SocketFrame::encode(std::span<const std::uint8_t> payload) {
    const auto prefix = header(payload.size());
    std::vector<std::uint8_t> frame(headerSize + payload.size());
    std::copy(prefix.begin(), prefix.end(), frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + headerSize);
    return frame;
}

} // namespace quorvane
