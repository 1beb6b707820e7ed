#pragma once

#include "XPC/XPCError.hpp"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvane {

// Each message is one JSON object carried as the payload of one length-prefixed frame.
inline constexpr std::size_t maxHelperMessageSize = 64 * 1024;
// Containers a message may nest: a response's fans are an array of objects inside its reply.
inline constexpr std::size_t maxHelperMessageDepth = 4;

// The payload bytes of a message; throws HelperProtocolError above the size cap.
std::vector<std::uint8_t> encodeHelperMessage(const nlohmann::json& message);
// Throws HelperProtocolError for bytes that are not one JSON object, or that nest containers deeper
// than maxHelperMessageDepth.
nlohmann::json decodeHelperMessage(std::span<const std::uint8_t> payload);

// The eight operations of the helper, by their wire names.
enum class HelperSelector {
    status,
    beginSession,
    heartbeat,
    setFanMode,
    setFanTargetRPM,
    resetAll,
    endSession,
    prepareForUninstall,
};

const char* selectorName(HelperSelector selector);
std::optional<HelperSelector> selectorFromName(const std::string& name);
// Whether a successful answer carries a dictionary (else only the absence of an error).
bool repliesWithDictionary(HelperSelector selector);

// One call: a selector and its arguments, which travel as an array in declaration order.
struct HelperRequest {
    std::uint64_t id = 0;
    HelperSelector selector = HelperSelector::status;
    std::string sessionID;
    std::int64_t fanIndex = 0;
    bool manual = false;
    std::int64_t rpm = 0;

    nlohmann::json toJSON() const;
    // Throws HelperProtocolError for an unknown selector or arguments of the wrong number or type.
    static HelperRequest fromJSON(const nlohmann::json& message);

    friend bool operator==(const HelperRequest&, const HelperRequest&) = default;
};

// The one answer to a call: a dictionary, an error, or neither (success without a dictionary).
struct HelperResponse {
    std::uint64_t id = 0;
    std::optional<nlohmann::json> reply;
    std::optional<XPCError> error;

    nlohmann::json toJSON() const;
    static HelperResponse fromJSON(const nlohmann::json& message);
};

} // namespace quorvane
