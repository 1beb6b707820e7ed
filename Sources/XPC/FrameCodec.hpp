#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvane {

// Messages travel as frames: a four-byte big-endian length, then that many bytes of UTF-8 JSON.
namespace FrameCodec {

inline constexpr std::size_t headerSize = 4;
inline constexpr std::size_t maxPayloadSize = 64 * 1024;

// Throws HelperProtocolError when the message would exceed the cap.
std::vector<std::uint8_t> encode(const nlohmann::json& message);

} // namespace FrameCodec

// Collects bytes as they arrive and hands out whole messages. Any violation (oversized length,
// payload that is not a JSON object) throws HelperProtocolError; the connection is then closed.
class FrameDecoder {
public:
    explicit FrameDecoder(std::size_t maxPayloadSize = FrameCodec::maxPayloadSize)
        : maxPayloadSize_(maxPayloadSize) {}

    void append(std::span<const std::uint8_t> bytes);
    std::optional<nlohmann::json> next();
    // Bytes of an incomplete frame still waiting for the rest.
    std::size_t pendingBytes() const { return buffer_.size() - consumed_; }

private:
    std::size_t maxPayloadSize_;
    std::vector<std::uint8_t> buffer_;
    std::size_t consumed_ = 0;
};

} // namespace quorvane
