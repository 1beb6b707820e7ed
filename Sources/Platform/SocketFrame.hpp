#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvane {

// Frames on the local sockets: a four-byte little-endian payload length, then the payload. An empty
// payload or one above the connection's cap is malformed, and the reader drops the connection.
class SocketFrame {
public:
    static constexpr std::size_t headerSize = 4;
    using Header = std::array<std::uint8_t, headerSize>;

    static Header header(std::size_t payloadSize);
    // The payload length the header announces; nullopt when it is 0 or above the cap.
    static std::optional<std::size_t> payloadSize(const Header& header, std::size_t maxPayload);
    static std::vector<std::uint8_t> encode(std::span<const std::uint8_t> payload);
};

} // namespace quorvane
