#include "XPC/FrameCodec.hpp"

#include "XPC/HelperProtocolError.hpp"

namespace quorvane {

std::vector<std::uint8_t> FrameCodec::encode(const nlohmann::json& message) {
    const std::string payload = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (payload.size() > maxPayloadSize) {
        throw HelperProtocolError("message of " + std::to_string(payload.size()) +
                                  " bytes exceeds the frame limit");
    }
    std::vector<std::uint8_t> frame(headerSize + payload.size());
    const auto length = static_cast<std::uint32_t>(payload.size());
    for (std::size_t i = 0; i < headerSize; ++i) {
        frame[i] = static_cast<std::uint8_t>(length >> (8 * (headerSize - 1 - i)));
    }
    std::copy(payload.begin(), payload.end(), frame.begin() + headerSize);
    return frame;
}

void FrameDecoder::append(std::span<const std::uint8_t> bytes) {
    // Drop what earlier frames used before growing, so a long-lived connection does not accumulate.
    if (consumed_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
        consumed_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<nlohmann::json> FrameDecoder::next() {
    if (pendingBytes() < FrameCodec::headerSize) {
        return std::nullopt;
    }
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < FrameCodec::headerSize; ++i) {
        length = (length << 8) | buffer_[consumed_ + i];
    }
    if (length > maxPayloadSize_) {
        throw HelperProtocolError("frame of " + std::to_string(length) + " bytes exceeds the limit");
    }
    if (pendingBytes() < FrameCodec::headerSize + length) {
        return std::nullopt;
    }
    const auto begin = buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_ + FrameCodec::headerSize);
    auto message = nlohmann::json::parse(begin, begin + length, nullptr, false);
    consumed_ += FrameCodec::headerSize + length;
    if (message.is_discarded() || !message.is_object()) {
        throw HelperProtocolError("frame is not a JSON object");
    }
    return message;
}

} // namespace quorvane
