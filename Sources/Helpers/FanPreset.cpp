#include "Helpers/FanPreset.hpp"

#include "Helpers/PresetJSONReader.hpp"
#include "Helpers/PresetLibraryError.hpp"

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

// Unicode white space and line breaks: tab through carriage return, NEL and the space separators.
bool isWhiteSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// True when the UTF-8 text has something besides white space. A byte that does not start a valid
// sequence counts as content.
bool hasVisibleContent(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        if (length == 0 || i + length > text.size()) {
            return true;
        }
        char32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            auto continuation = static_cast<unsigned char>(text[i + k]);
            if ((continuation & 0xC0) != 0x80) {
                return true;
            }
            codePoint = (codePoint << 6) | (continuation & 0x3F);
        }
        if (!isWhiteSpace(codePoint)) {
            return true;
        }
        i += length;
    }
    return false;
}

bool withinInclusive(double value, double low, double high) {
    return std::isfinite(value) && value >= low && value <= high;
}

bool settingsPass(const FanCurveSettings& settings, ControlStrategy strategy) {
    switch (strategy) {
    case ControlStrategy::cpuCoreAverage:
        return withinInclusive(settings.lowTemperature, 20, 100) &&
               withinInclusive(settings.highTemperature, 20, 100) &&
               settings.lowTemperature < settings.highTemperature;
    case ControlStrategy::constantRPM:
        return settings.constantRPM && *settings.constantRPM >= 1000 && *settings.constantRPM <= 6000;
    }
    return false;
}

bool isBundledID(const UUID& id) {
    return std::any_of(FanPreset::bundledPresets.begin(), FanPreset::bundledPresets.end(),
                       [&](const FanPreset& bundled) { return bundled.id == id; });
}

} // namespace

FanCurveSettings FanPreset::settings(int fanIndex) const {
    if (!linkedFans) {
        if (fanIndex == 0 && fan0Settings) {
            return *fan0Settings;
        }
        if (fanIndex == 1 && fan1Settings) {
            return *fan1Settings;
        }
    }
    return {lowTemperature, highTemperature, constantRPM};
}

std::optional<std::int64_t> FanPreset::fixedTarget(const FanInfo& fan) const {
    switch (kind) {
    case PresetKind::system:
    case PresetKind::automatic:
        return std::nullopt;
    case PresetKind::fullBlast:
        return fan.maxRPM;
    case PresetKind::custom:
        break;
    }
    if (strategy != ControlStrategy::constantRPM) {
        return std::nullopt;
    }
    auto constant = settings(fan.index).constantRPM.value_or(fan.minRPM);
    // A fan reporting inverted limits still gets a target inside what it reported.
    return std::clamp(constant, std::min(fan.minRPM, fan.maxRPM), std::max(fan.minRPM, fan.maxRPM));
}

void FanPreset::ensureFanSettings() {
    FanCurveSettings shared{lowTemperature, highTemperature, constantRPM};
    if (!fan0Settings) {
        fan0Settings = shared;
    }
    if (!fan1Settings) {
        fan1Settings = shared;
    }
}

bool FanPreset::isLocked() const {
    return kind != PresetKind::custom || isBundledID(id);
}

std::optional<std::string> FanPreset::subtitle() const {
    switch (kind) {
    case PresetKind::system:
        return "Stock macOS control";
    case PresetKind::automatic:
        return "Performance-biased";
    case PresetKind::fullBlast:
        return "Maximum RPM";
    case PresetKind::custom:
        return std::nullopt;
    }
    return std::nullopt;
}

bool FanPreset::isValidCustomConfiguration() const {
    if (kind != PresetKind::custom || !hasVisibleContent(name) || !withinInclusive(hysteresis, 0.5, 10.0) ||
        !strategy) {
        return false;
    }
    if (linkedFans) {
        return settingsPass({lowTemperature, highTemperature, constantRPM}, *strategy);
    }
    return fan0Settings && fan1Settings && settingsPass(*fan0Settings, *strategy) &&
           settingsPass(*fan1Settings, *strategy);
}

std::vector<FanPreset> FanPreset::menuOrder(const std::vector<FanPreset>& customs) {
    std::vector<FanPreset> menu{systemDefault};
    for (const auto& bundled : bundledPresets) {
        auto stored = std::find_if(customs.begin(), customs.end(),
                                   [&](const FanPreset& preset) { return preset.id == bundled.id; });
        if (stored != customs.end()) {
            menu.push_back(*stored);
        }
    }
    menu.push_back(automatic);
    menu.push_back(fullBlast);
    for (const auto& preset : customs) {
        if (preset.kind == PresetKind::custom && !isBundledID(preset.id)) {
            menu.push_back(preset);
        }
    }
    return menu;
}

nlohmann::json FanPreset::toJSON() const {
    nlohmann::json object{{"id", id.uuidString()},
                          {"name", name},
                          {"kind", rawValue(kind)},
                          {"lowTemperature", encodableNumber(lowTemperature, "lowTemperature")},
                          {"highTemperature", encodableNumber(highTemperature, "highTemperature")},
                          {"hysteresis", encodableNumber(hysteresis, "hysteresis")},
                          {"linkedFans", linkedFans}};
    if (strategy) {
        object["strategy"] = rawValue(*strategy);
    }
    if (constantRPM) {
        object["constantRPM"] = *constantRPM;
    }
    if (fan0Settings) {
        object["fan0Settings"] = fan0Settings->toJSON();
    }
    if (fan1Settings) {
        object["fan1Settings"] = fan1Settings->toJSON();
    }
    return object;
}

FanPreset FanPreset::fromJSON(const nlohmann::json& object, const std::string& path) {
    PresetJSONReader reader(object, path);
    FanPreset preset;
    auto idText = reader.requiredString("id");
    auto id = UUID::parse(idText);
    if (!id) {
        throw PresetLibraryError::invalidData(reader.pathOf("id"), "is not a UUID");
    }
    preset.id = *id;
    preset.name = reader.requiredString("name");
    auto kind = presetKindFromRaw(reader.requiredString("kind"));
    if (!kind) {
        throw PresetLibraryError::invalidData(reader.pathOf("kind"), "is not a known preset kind");
    }
    preset.kind = *kind;
    if (auto strategyText = reader.optionalString("strategy")) {
        auto strategy = controlStrategyFromRaw(*strategyText);
        if (!strategy) {
            throw PresetLibraryError::invalidData(reader.pathOf("strategy"), "is not a known strategy");
        }
        preset.strategy = *strategy;
    }
    preset.lowTemperature = reader.requiredNumber("lowTemperature");
    preset.highTemperature = reader.requiredNumber("highTemperature");
    preset.constantRPM = reader.optionalInteger("constantRPM");
    preset.hysteresis = reader.requiredNumber("hysteresis");
    preset.linkedFans = reader.requiredBool("linkedFans");
    if (const auto* settings = reader.optionalValue("fan0Settings")) {
        preset.fan0Settings = FanCurveSettings::fromJSON(*settings, reader.pathOf("fan0Settings"));
    }
    if (const auto* settings = reader.optionalValue("fan1Settings")) {
        preset.fan1Settings = FanCurveSettings::fromJSON(*settings, reader.pathOf("fan1Settings"));
    }
    return preset;
}

nlohmann::json FanPreset::listToJSON(const std::vector<FanPreset>& presets) {
    nlohmann::json array = nlohmann::json::array();
    for (const auto& preset : presets) {
        array.push_back(preset.toJSON());
    }
    return array;
}

std::vector<FanPreset> FanPreset::listFromJSON(const nlohmann::json& array, const std::string& path) {
    if (!array.is_array()) {
        throw PresetLibraryError::invalidData(path, "is not an array");
    }
    std::vector<FanPreset> presets;
    presets.reserve(array.size());
    for (std::size_t i = 0; i < array.size(); ++i) {
        presets.push_back(fromJSON(array[i], path + "[" + std::to_string(i) + "]"));
    }
    return presets;
}

} // namespace quorvane
