#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

namespace quorvane {

// The fan the supervised write test raises, as the helper's session reply describes it.
struct SupervisedFan {
    int index = 0;
    std::int64_t actual = 0;
    std::int64_t target = 0;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;

    friend bool operator==(const SupervisedFan&, const SupervisedFan&) = default;
};

// What the app checks in the helper's status dictionaries before it trusts them with control.
class SessionPreflight {
public:
    SessionPreflight() = delete;

    // Protocol 1, a fan count, the diagnostic test mode off and every fan back in automatic mode.
    static bool isClean(const nlohmann::json& reply);
    // The fans the helper calls controllable; absent when the reply carries no fan list.
    static std::optional<std::set<int>> controllableFans(const nlohmann::json& reply);
    // The lowest-indexed fan with complete readings, or absent when the reply cannot name one.
    static std::optional<SupervisedFan> testFan(const nlohmann::json& reply);
};

} // namespace quorvane
