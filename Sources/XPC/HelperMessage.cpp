#include "XPC/HelperMessage.hpp"

#include "XPC/HelperProtocolError.hpp"

#include <array>

namespace quorvane {

namespace {

using nlohmann::json;

struct SelectorEntry {
    HelperSelector selector;
    const char* name;
    bool dictionary;
};

constexpr std::array<SelectorEntry, 8> selectors{{
    {HelperSelector::status, "statusWithReply:", true},
    {HelperSelector::beginSession, "beginSession:reply:", true},
    {HelperSelector::heartbeat, "heartbeat:reply:", false},
    {HelperSelector::setFanMode, "setFanMode:manual:sessionID:reply:", true},
    {HelperSelector::setFanTargetRPM, "setFanTargetRPM:rpm:sessionID:reply:", true},
    {HelperSelector::resetAll, "resetAll:reply:", true},
    {HelperSelector::endSession, "endSession:reply:", false},
    {HelperSelector::prepareForUninstall, "prepareForUninstallWithReply:", false},
}};

const SelectorEntry& entry(HelperSelector selector) {
    return selectors[static_cast<std::size_t>(selector)];
}

std::uint64_t messageID(const json& message) {
    auto id = message.find("id");
    if (id == message.end() || !id->is_number_unsigned()) {
        throw HelperProtocolError("message has no valid id");
    }
    return id->get<std::uint64_t>();
}

std::int64_t integerArgument(const json& value, const char* what) {
    if (!value.is_number_integer() ||
        (value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX)) {
        throw HelperProtocolError(std::string(what) + " must be an integer");
    }
    return value.get<std::int64_t>();
}

std::string stringArgument(const json& value) {
    if (!value.is_string()) {
        throw HelperProtocolError("session identifier must be a string");
    }
    return value.get<std::string>();
}

} // namespace

std::vector<std::uint8_t> encodeHelperMessage(const json& message) {
    const std::string text = message.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > maxHelperMessageSize) {
        throw HelperProtocolError("message of " + std::to_string(text.size()) + " bytes exceeds the limit");
    }
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

json decodeHelperMessage(std::span<const std::uint8_t> payload) {
    // Containers nested deeper than any message goes are skipped while parsing (nothing of them is
    // built) and the message is refused, so no later copy, walk or dump can recurse without bound.
    bool tooDeep = false;
    const json::parser_callback_t limitDepth = [&tooDeep](int depth, json::parse_event_t event, json&) {
        const bool opens =
            event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
        if (opens && depth >= static_cast<int>(maxHelperMessageDepth)) {
            tooDeep = true;
            return false;
        }
        return true;
    };
    auto message = json::parse(payload.begin(), payload.end(), limitDepth, false);
    if (tooDeep) {
        throw HelperProtocolError("message nests deeper than " + std::to_string(maxHelperMessageDepth) +
                                  " levels");
    }
    if (message.is_discarded() || !message.is_object()) {
        throw HelperProtocolError("frame is not a JSON object");
    }
    return message;
}

const char* selectorName(HelperSelector selector) {
    return entry(selector).name;
}

std::optional<HelperSelector> selectorFromName(const std::string& name) {
    for (const auto& candidate : selectors) {
        if (name == candidate.name) {
            return candidate.selector;
        }
    }
    return std::nullopt;
}

bool repliesWithDictionary(HelperSelector selector) {
    return entry(selector).dictionary;
}

json HelperRequest::toJSON() const {
    json arguments = json::array();
    switch (selector) {
    case HelperSelector::status:
    case HelperSelector::prepareForUninstall:
        break;
    case HelperSelector::setFanMode:
        arguments = {fanIndex, manual, sessionID};
        break;
    case HelperSelector::setFanTargetRPM:
        arguments = {fanIndex, rpm, sessionID};
        break;
    default:
        arguments = {sessionID};
        break;
    }
    return {{"id", id}, {"selector", selectorName(selector)}, {"arguments", std::move(arguments)}};
}

HelperRequest HelperRequest::fromJSON(const json& message) {
    if (!message.is_object()) {
        throw HelperProtocolError("message is not an object");
    }
    HelperRequest request;
    request.id = messageID(message);
    auto name = message.find("selector");
    if (name == message.end() || !name->is_string()) {
        throw HelperProtocolError("message has no selector");
    }
    auto selector = selectorFromName(name->get<std::string>());
    if (!selector) {
        throw HelperProtocolError("unknown selector " + name->get<std::string>());
    }
    request.selector = *selector;
    static const json noArguments = json::array();
    auto found = message.find("arguments");
    const json& arguments = found == message.end() ? noArguments : *found;
    if (!arguments.is_array()) {
        throw HelperProtocolError("arguments must be an array");
    }
    const auto expectCount = [&](std::size_t count) {
        if (arguments.size() != count) {
            throw HelperProtocolError(std::string(selectorName(request.selector)) + " takes " +
                                      std::to_string(count) + " arguments");
        }
    };
    switch (request.selector) {
    case HelperSelector::status:
    case HelperSelector::prepareForUninstall:
        expectCount(0);
        break;
    case HelperSelector::setFanMode:
        expectCount(3);
        request.fanIndex = integerArgument(arguments[0], "fan index");
        if (!arguments[1].is_boolean()) {
            throw HelperProtocolError("manual must be a boolean");
        }
        request.manual = arguments[1].get<bool>();
        request.sessionID = stringArgument(arguments[2]);
        break;
    case HelperSelector::setFanTargetRPM:
        expectCount(3);
        request.fanIndex = integerArgument(arguments[0], "fan index");
        request.rpm = integerArgument(arguments[1], "rpm");
        request.sessionID = stringArgument(arguments[2]);
        break;
    default:
        expectCount(1);
        request.sessionID = stringArgument(arguments[0]);
        break;
    }
    return request;
}

json HelperResponse::toJSON() const {
    json message = {{"id", id}};
    if (reply) {
        message["reply"] = *reply;
    }
    if (error) {
        json encoded = {{"domain", error->domain()}, {"code", error->code()}};
        if (error->localizedDescription()) {
            encoded["description"] = *error->localizedDescription();
        }
        if (error->debugDescription()) {
            encoded["debugDescription"] = *error->debugDescription();
        }
        message["error"] = std::move(encoded);
    }
    return message;
}

HelperResponse HelperResponse::fromJSON(const json& message) {
    if (!message.is_object()) {
        throw HelperProtocolError("message is not an object");
    }
    HelperResponse response;
    response.id = messageID(message);
    if (auto reply = message.find("reply"); reply != message.end()) {
        if (!reply->is_object()) {
            throw HelperProtocolError("reply must be a dictionary");
        }
        response.reply = *reply;
    }
    if (auto error = message.find("error"); error != message.end()) {
        if (!error->is_object()) {
            throw HelperProtocolError("error must be a dictionary");
        }
        const auto text = [&](const char* key) -> std::optional<std::string> {
            auto found = error->find(key);
            if (found == error->end() || !found->is_string()) {
                return std::nullopt;
            }
            return found->get<std::string>();
        };
        auto domain = text("domain");
        auto code = error->find("code");
        if (!domain || code == error->end() || !code->is_number_integer()) {
            throw HelperProtocolError("error must carry a domain and a code");
        }
        response.error = XPCError(*domain, code->get<long>(), text("description"), text("debugDescription"));
    }
    if (response.reply && response.error) {
        throw HelperProtocolError("a response carries a dictionary or an error, not both");
    }
    return response;
}

} // namespace quorvane
