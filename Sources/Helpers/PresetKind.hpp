#pragma once

#include <optional>
#include <string_view>

namespace quorvane {

// Stored by its raw value; an unknown raw value makes a preset undecodable.
enum class PresetKind { system, automatic, fullBlast, custom };

constexpr std::string_view rawValue(PresetKind kind) {
    switch (kind) {
    case PresetKind::system:
        return "system";
    case PresetKind::automatic:
        return "automatic";
    case PresetKind::fullBlast:
        return "fullBlast";
    case PresetKind::custom:
        return "custom";
    }
    return "custom";
}

constexpr std::optional<PresetKind> presetKindFromRaw(std::string_view raw) {
    for (auto kind : {PresetKind::system, PresetKind::automatic, PresetKind::fullBlast, PresetKind::custom}) {
        if (rawValue(kind) == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

} // namespace quorvane
