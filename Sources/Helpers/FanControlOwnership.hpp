#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace quorvane {

// Whether this app may drive the fans, or only watch while something else is in charge.
enum class FanControlOwnership { quorvane, anotherApp };

inline constexpr std::array<FanControlOwnership, 2> allFanControlOwnerships{FanControlOwnership::quorvane,
                                                                            FanControlOwnership::anotherApp};

constexpr std::string_view rawValue(FanControlOwnership ownership) {
    return ownership == FanControlOwnership::anotherApp ? "anotherApp" : "quorvane";
}

// The identity is the raw value.
constexpr std::string_view id(FanControlOwnership ownership) {
    return rawValue(ownership);
}

constexpr std::string_view title(FanControlOwnership ownership) {
    return ownership == FanControlOwnership::anotherApp ? "Another app controls fans"
                                                        : "Quorvane controls fans";
}

constexpr std::string_view detail(FanControlOwnership ownership) {
    return ownership == FanControlOwnership::anotherApp
               ? "Monitoring only. Quorvane reads temperatures and RPM but performs no fan writes."
               : "Quorvane may apply the selected preset when no competing controller is active.";
}

// Exact, case-sensitive match of a raw value.
constexpr std::optional<FanControlOwnership> fanControlOwnershipFromRaw(std::string_view raw) {
    for (auto ownership : allFanControlOwnerships) {
        if (rawValue(ownership) == raw) {
            return ownership;
        }
    }
    return std::nullopt;
}

} // namespace quorvane
