#include "Platform/SMCSocketProtocol.hpp"

#include <algorithm>
#include <cstdlib>

namespace quorvane {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Type = SMCSocketProtocol::MessageType;

constexpr std::size_t callRequestSize = 1 + 4 + 4 + SMCParamStruct::size;
constexpr std::size_t callReplySize = 1 + 4 + 4 + SMCParamStruct::size;
constexpr std::size_t codeReplySize = 1 + 4;

void put32(Bytes& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint32_t get32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

void putRecord(Bytes& bytes, const SMCParamStruct& record) {
    const std::size_t start = bytes.size();
    bytes.resize(start + record.raw.size());
    std::copy(record.raw.begin(), record.raw.end(), bytes.begin() + static_cast<std::ptrdiff_t>(start));
}

SMCParamStruct getRecord(std::span<const std::uint8_t> bytes, std::size_t offset) {
    SMCParamStruct record;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), SMCParamStruct::size,
                record.raw.begin());
    return record;
}

std::optional<Type> typeOf(std::uint8_t byte) {
    if (byte < static_cast<std::uint8_t>(Type::open) || byte > static_cast<std::uint8_t>(Type::control)) {
        return std::nullopt;
    }
    return static_cast<Type>(byte);
}

void putText(Bytes& bytes, const std::string& text) {
    const std::size_t start = bytes.size();
    bytes.resize(start + text.size());
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(start));
}

std::string textAfterType(std::span<const std::uint8_t> payload) {
    return std::string(payload.begin() + 1, payload.end());
}

} // namespace

std::string SMCSocketProtocol::socketPath() {
    const char* configured = std::getenv(socketPathVariable);
    return configured != nullptr && *configured != '\0' ? std::string(configured) : defaultSocketPath;
}

std::vector<std::uint8_t> SMCSocketProtocol::encodeRequest(const Request& request) {
    Bytes bytes{static_cast<std::uint8_t>(request.type)};
    switch (request.type) {
    case Type::call:
        put32(bytes, request.selector);
        put32(bytes, request.outputCapacity);
        putRecord(bytes, request.record);
        break;
    case Type::control:
        putText(bytes, request.text);
        break;
    default:
        break;
    }
    return bytes;
}

std::vector<std::uint8_t> SMCSocketProtocol::encodeReply(const Reply& reply) {
    Bytes bytes{static_cast<std::uint8_t>(static_cast<std::uint8_t>(reply.type) | replyBit)};
    switch (reply.type) {
    case Type::open:
    case Type::close:
        put32(bytes, reply.code);
        break;
    case Type::call:
        put32(bytes, reply.code);
        put32(bytes, reply.outputSize);
        putRecord(bytes, reply.record);
        break;
    case Type::modelIdentifier:
    case Type::control:
        putText(bytes, reply.text);
        break;
    }
    return bytes;
}

std::optional<SMCSocketProtocol::Request>
SMCSocketProtocol::decodeRequest(std::span<const std::uint8_t> payload) {
    if (payload.empty()) {
        return std::nullopt;
    }
    const auto type = typeOf(payload[0]);
    if (!type) {
        return std::nullopt;
    }
    Request request;
    request.type = *type;
    switch (*type) {
    case Type::call:
        if (payload.size() != callRequestSize) {
            return std::nullopt;
        }
        request.selector = get32(payload, 1);
        request.outputCapacity = get32(payload, 5);
        request.record = getRecord(payload, 9);
        return request;
    case Type::control:
        if (payload.size() < 2) {
            return std::nullopt;
        }
        request.text = textAfterType(payload);
        return request;
    default:
        if (payload.size() != 1) {
            return std::nullopt;
        }
        return request;
    }
}

std::optional<SMCSocketProtocol::Reply>
SMCSocketProtocol::decodeReply(std::span<const std::uint8_t> payload) {
    if (payload.empty() || (payload[0] & replyBit) == 0) {
        return std::nullopt;
    }
    const auto type = typeOf(payload[0] & ~replyBit);
    if (!type) {
        return std::nullopt;
    }
    Reply reply;
    reply.type = *type;
    switch (*type) {
    case Type::open:
    case Type::close:
        if (payload.size() != codeReplySize) {
            return std::nullopt;
        }
        reply.code = get32(payload, 1);
        return reply;
    case Type::call:
        if (payload.size() != callReplySize) {
            return std::nullopt;
        }
        reply.code = get32(payload, 1);
        reply.outputSize = get32(payload, 5);
        reply.record = getRecord(payload, 9);
        return reply;
    case Type::modelIdentifier:
    case Type::control:
        reply.text = textAfterType(payload);
        return reply;
    }
    return std::nullopt;
}

SMCSocketProtocol::Request SMCSocketProtocol::call(std::uint32_t selector, const SMCParamStruct& input,
                                                   std::size_t outputCapacity) {
    Request request;
    request.type = Type::call;
    request.selector = selector;
    request.outputCapacity = static_cast<std::uint32_t>(outputCapacity);
    request.record = input;
    return request;
}

SMCSocketProtocol::Request SMCSocketProtocol::simple(MessageType type) {
    Request request;
    request.type = type;
    return request;
}

SMCSocketProtocol::Request SMCSocketProtocol::control(std::string json) {
    Request request;
    request.type = Type::control;
    request.text = std::move(json);
    return request;
}

} // namespace quorvane
