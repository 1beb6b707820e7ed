#include "App/SessionPreflight.hpp"

#include "XPC/HelperReplyKey.hpp"

#include <algorithm>
#include <vector>

namespace quorvane {

namespace {

using nlohmann::json;

std::optional<std::int64_t> integer(const json& object, const char* key) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) {
        return std::nullopt;
    }
    return found->get<std::int64_t>();
}

// Present and not exactly the integer 0.
bool presentAndNotZero(const json& object, const char* key) {
    if (!object.contains(key)) {
        return false;
    }
    return integer(object, key) != std::int64_t{0};
}

} // namespace

bool SessionPreflight::isClean(const json& reply) {
    if (!reply.is_object() || integer(reply, HelperReplyKey::protocolVersion) != std::int64_t{1} ||
        !reply.contains(HelperReplyKey::fanCount) || presentAndNotZero(reply, HelperReplyKey::fanTestMode)) {
        return false;
    }
    if (auto list = reply.find(HelperReplyKey::fans); list != reply.end()) {
        if (!list->is_array()) {
            return false;
        }
        return std::all_of(list->begin(), list->end(), [](const json& fan) {
            return integer(fan, HelperReplyKey::fanMode) == std::int64_t{0};
        });
    }
    return !presentAndNotZero(reply, HelperReplyKey::fan0Mode) &&
           !presentAndNotZero(reply, HelperReplyKey::fan1Mode);
}

std::optional<std::set<int>> SessionPreflight::controllableFans(const json& reply) {
    if (!reply.is_object()) {
        return std::nullopt;
    }
    auto list = reply.find(HelperReplyKey::fans);
    if (list == reply.end() || !list->is_array()) {
        return std::nullopt;
    }
    std::set<int> controllable;
    for (const auto& fan : *list) {
        auto flag = fan.is_object() ? fan.find(HelperReplyKey::fanControllable) : fan.end();
        auto index = integer(fan, HelperReplyKey::fanIndex);
        if (index && fan.is_object() && flag != fan.end() && flag->is_boolean() && flag->get<bool>()) {
            controllable.insert(static_cast<int>(*index));
        }
    }
    return controllable;
}

std::optional<SupervisedFan> SessionPreflight::testFan(const json& reply) {
    if (!reply.is_object()) {
        return std::nullopt;
    }
    auto list = reply.find(HelperReplyKey::fans);
    if (list != reply.end() && list->is_array()) {
        if (list->empty()) {
            return std::nullopt;
        }
        std::vector<const json*> entries;
        for (const auto& fan : *list) {
            entries.push_back(&fan);
        }
        // Entries without an index sort last.
        std::stable_sort(entries.begin(), entries.end(), [](const json* lhs, const json* rhs) {
            auto left = integer(*lhs, HelperReplyKey::fanIndex);
            auto right = integer(*rhs, HelperReplyKey::fanIndex);
            if (left && right) {
                return *left < *right;
            }
            return left.has_value() && !right.has_value();
        });
        const json& first = *entries.front();
        auto index = integer(first, HelperReplyKey::fanIndex);
        auto actual = integer(first, HelperReplyKey::fanActual);
        auto target = integer(first, HelperReplyKey::fanTarget);
        auto minimum = integer(first, HelperReplyKey::fanMinimum);
        auto maximum = integer(first, HelperReplyKey::fanMaximum);
        if (!index || !actual || !target || !minimum || !maximum) {
            return std::nullopt;
        }
        return SupervisedFan{static_cast<int>(*index), *actual, *target, *minimum, *maximum};
    }
    auto actual = integer(reply, HelperReplyKey::fan0Actual);
    auto target = integer(reply, HelperReplyKey::fan0Target);
    auto minimum = integer(reply, HelperReplyKey::fan0Minimum);
    auto maximum = integer(reply, HelperReplyKey::fan0Maximum);
    if (!actual || !target || !minimum || !maximum) {
        return std::nullopt;
    }
    return SupervisedFan{0, *actual, *target, *minimum, *maximum};
}

} // namespace quorvane
