#include "XPC/HelperReply.hpp"

#include "XPC/HelperReplyKey.hpp"

#include <string>

namespace quorvane {

namespace {

using nlohmann::json;

std::optional<std::int64_t> integer(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) {
        return std::nullopt;
    }
    return found->get<std::int64_t>();
}

void copyFlat(json& top, const json& fan, const char* from, const std::string& to) {
    if (auto found = fan.find(from); found != fan.end()) {
        top[to] = *found;
    }
}

} // namespace

nlohmann::json HelperReply::dictionary() const {
    json fanList = json::array();
    json top = json::object();
    for (const auto& fan : fans) {
        json entry = {
            {HelperReplyKey::fanIndex, fan.index},     {HelperReplyKey::fanMode, fan.mode},
            {HelperReplyKey::fanActual, fan.actual},   {HelperReplyKey::fanMinimum, fan.minimum},
            {HelperReplyKey::fanMaximum, fan.maximum}, {HelperReplyKey::fanControllable, fan.controllable}};
        if (fan.target) {
            entry[HelperReplyKey::fanTarget] = *fan.target;
        }
        if (fan.index == 0 || fan.index == 1) {
            const std::string prefix = "fan" + std::to_string(fan.index);
            // Only the first entry with an index fills the flat keys.
            if (!top.contains(prefix + "Mode")) {
                copyFlat(top, entry, HelperReplyKey::fanMode, prefix + "Mode");
                copyFlat(top, entry, HelperReplyKey::fanActual, prefix + "Actual");
                copyFlat(top, entry, HelperReplyKey::fanMinimum, prefix + "Minimum");
                copyFlat(top, entry, HelperReplyKey::fanMaximum, prefix + "Maximum");
                copyFlat(top, entry, HelperReplyKey::fanTarget, prefix + "Target");
            }
        }
        fanList.push_back(std::move(entry));
    }
    top[HelperReplyKey::protocolVersion] = protocolVersion;
    top[HelperReplyKey::fanCount] = fans.size();
    top[HelperReplyKey::fans] = std::move(fanList);
    if (fanTestMode) {
        top[HelperReplyKey::fanTestMode] = *fanTestMode;
    }
    return top;
}

std::optional<HelperReply> HelperReply::fromDictionary(const nlohmann::json& dictionary) {
    if (!dictionary.is_object()) {
        return std::nullopt;
    }
    auto version = integer(dictionary, HelperReplyKey::protocolVersion);
    auto list = dictionary.find(HelperReplyKey::fans);
    if (!version || list == dictionary.end() || !list->is_array()) {
        return std::nullopt;
    }
    HelperReply reply;
    reply.protocolVersion = static_cast<int>(*version);
    for (const auto& entry : *list) {
        if (!entry.is_object()) {
            return std::nullopt;
        }
        auto index = integer(entry, HelperReplyKey::fanIndex);
        auto mode = integer(entry, HelperReplyKey::fanMode);
        auto actual = integer(entry, HelperReplyKey::fanActual);
        auto minimum = integer(entry, HelperReplyKey::fanMinimum);
        auto maximum = integer(entry, HelperReplyKey::fanMaximum);
        auto controllable = entry.find(HelperReplyKey::fanControllable);
        if (!index || !mode || !actual || !minimum || !maximum || controllable == entry.end() ||
            !controllable->is_boolean()) {
            return std::nullopt;
        }
        reply.fans.push_back(HelperFanStatus{static_cast<int>(*index), static_cast<int>(*mode), *actual,
                                             *minimum, *maximum, integer(entry, HelperReplyKey::fanTarget),
                                             controllable->get<bool>()});
    }
    if (auto testMode = integer(dictionary, HelperReplyKey::fanTestMode)) {
        reply.fanTestMode = static_cast<int>(*testMode);
    }
    return reply;
}

} // namespace quorvane
