#pragma once

#include "SMC/SMCParamStruct.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// The simulated Mac's socket protocol. Every frame's payload starts with a message type; a reply
// carries its request's type with the high bit set. Numbers are little-endian.
//
//   open             01                                  -> 81 code:u32
//   close            02                                  -> 82 code:u32
//   call             03 selector:u32 capacity:u32 rec:80 -> 83 code:u32 size:u32 rec:80
//   model            04                                  -> 84 identifier (UTF-8)
//   control          05 command (JSON)                   -> 85 reply (JSON)
//
// Codes are kernel-style return codes; the record's result byte is the firmware's verdict.
class SMCSocketProtocol {
public:
    enum class MessageType : std::uint8_t { open = 1, close = 2, call = 3, modelIdentifier = 4, control = 5 };

    // Where the simulated Mac listens unless the environment variable names another path.
    static constexpr const char* defaultSocketPath = "/run/quorvane-sim.sock";
    static constexpr const char* socketPathVariable = "QUORVANE_SMC_SOCKET";
    // Large enough for any control document; a call frame is 89 bytes.
    static constexpr std::size_t maxPayload = 64 * 1024;
    static constexpr std::uint8_t replyBit = 0x80;

    // The path app, helper and tools share: the variable when set and not empty, else the default.
    static std::string socketPath();

    struct Request {
        MessageType type = MessageType::open;
        std::uint32_t selector = 0;
        std::uint32_t outputCapacity = 0;
        SMCParamStruct record;
        std::string text;
    };

    struct Reply {
        MessageType type = MessageType::open;
        std::uint32_t code = 0;
        std::uint32_t outputSize = 0;
        SMCParamStruct record;
        std::string text;
    };

    static std::vector<std::uint8_t> encodeRequest(const Request& request);
    static std::vector<std::uint8_t> encodeReply(const Reply& reply);
    // Nullopt for an unknown type or a payload whose length does not fit the type.
    static std::optional<Request> decodeRequest(std::span<const std::uint8_t> payload);
    static std::optional<Reply> decodeReply(std::span<const std::uint8_t> payload);

    static Request call(std::uint32_t selector, const SMCParamStruct& input, std::size_t outputCapacity);
    static Request simple(MessageType type);
    static Request control(std::string json);
};

} // namespace quorvane
