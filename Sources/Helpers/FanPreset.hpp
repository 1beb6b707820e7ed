#pragma once

#include "Helpers/ControlStrategy.hpp"
#include "Helpers/FanCurveSettings.hpp"
#include "Helpers/PresetKind.hpp"
#include "Helpers/UUID.hpp"
#include "SMC/FanInfo.hpp"

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// A cooling choice the user can apply: the machine's own control, Smart Auto, full speed, or a custom
// curve or constant speed. Build one with designated initialisers; the optional fields default to
// absent.
struct FanPreset {
    UUID id;
    std::string name;
    PresetKind kind = PresetKind::custom;
    std::optional<ControlStrategy> strategy{};
    double lowTemperature = 0;
    double highTemperature = 0;
    std::optional<std::int64_t> constantRPM{};
    double hysteresis = 0;
    bool linkedFans = true;
    std::optional<FanCurveSettings> fan0Settings{};
    std::optional<FanCurveSettings> fan1Settings{};

    friend bool operator==(const FanPreset&, const FanPreset&) = default;

    // The fan's own settings when unlinked and present, else the preset's shared ones.
    FanCurveSettings settings(int fanIndex) const;
    // The target the preset pins the fan to, or absent when a curve, Smart Auto or the machine decides.
    std::optional<std::int64_t> fixedTarget(const FanInfo& fan) const;
    // Gives each absent per-fan setting the shared values, so unlinking starts from the linked curve.
    void ensureFanSettings();

    // Built-in and shipped presets cannot be edited or deleted.
    bool isLocked() const;
    std::optional<std::string> subtitle() const;
    bool isValidCustomConfiguration() const;

    // The picker: Apple Default, the shipped presets as stored, Smart Auto, Full Blast, then the
    // user's presets in library order.
    static std::vector<FanPreset> menuOrder(const std::vector<FanPreset>& customs);

    // Keys are the field names; absent optionals are omitted and the id is upper-case canonical text.
    // Throws PresetLibraryError for a temperature that JSON cannot represent.
    nlohmann::json toJSON() const;
    // Throws PresetLibraryError naming `path` when the object does not have the expected shape.
    static FanPreset fromJSON(const nlohmann::json& object, const std::string& path);
    // A JSON array of presets; one element that does not decode fails the whole list.
    static nlohmann::json listToJSON(const std::vector<FanPreset>& presets);
    static std::vector<FanPreset> listFromJSON(const nlohmann::json& array, const std::string& path);

    static const FanPreset automatic;
    static const FanPreset fullBlast;
    static const FanPreset cpuCoreDefault;
    static const FanPreset systemDefault;
    static const FanPreset batterySaver;
    // The custom presets that come with the app: they live in the library but are locked.
    static const std::array<FanPreset, 2> bundledPresets;
};

namespace builtinPresetID {
constexpr UUID numbered(std::uint8_t last) {
    return UUID(UUID::Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last});
}
} // namespace builtinPresetID

// These ids are fixed forever: stored selections and libraries refer to them.
inline const FanPreset FanPreset::automatic{.id = builtinPresetID::numbered(1),
                                            .name = "Smart Auto",
                                            .kind = PresetKind::automatic,
                                            .lowTemperature = 30,
                                            .highTemperature = 50,
                                            .hysteresis = 1.5,
                                            .linkedFans = true};
inline const FanPreset FanPreset::fullBlast{.id = builtinPresetID::numbered(2),
                                            .name = "Full Blast",
                                            .kind = PresetKind::fullBlast,
                                            .lowTemperature = 30,
                                            .highTemperature = 50,
                                            .hysteresis = 1.5,
                                            .linkedFans = true};
inline const FanPreset FanPreset::cpuCoreDefault{.id = builtinPresetID::numbered(3),
                                                 .name = "30\u2013"
                                                         "50 \u00B0C Cooling",
                                                 .kind = PresetKind::custom,
                                                 .strategy = ControlStrategy::cpuCoreAverage,
                                                 .lowTemperature = 30,
                                                 .highTemperature = 50,
                                                 .hysteresis = 1.5,
                                                 .linkedFans = true};
inline const FanPreset FanPreset::systemDefault{.id = builtinPresetID::numbered(4),
                                                .name = "Apple Default",
                                                .kind = PresetKind::system,
                                                .lowTemperature = 30,
                                                .highTemperature = 50,
                                                .hysteresis = 1.5,
                                                .linkedFans = true};
inline const FanPreset FanPreset::batterySaver{.id = builtinPresetID::numbered(5),
                                               .name = "Battery Saver",
                                               .kind = PresetKind::custom,
                                               .strategy = ControlStrategy::cpuCoreAverage,
                                               .lowTemperature = 90,
                                               .highTemperature = 100,
                                               .hysteresis = 10,
                                               .linkedFans = true};
inline const std::array<FanPreset, 2> FanPreset::bundledPresets{FanPreset::batterySaver,
                                                                FanPreset::cpuCoreDefault};

} // namespace quorvane
