#include "Helpers/FanCurveManager.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"
#include "Helpers/PresetLibraryError.hpp"

#include <algorithm>
#include <set>

namespace quorvane {

namespace {

const Logger logger(AppBundleIdentifier + ".core", "FanCurveManager");

// The stored value is the library's JSON text; a library stored as a plain array is read as well.
std::optional<std::vector<FanPreset>> readStoredLibrary(const nlohmann::json& stored) {
    try {
        if (stored.is_string()) {
            return FanCurveManager::decodeLibrary(stored.get<std::string>());
        }
        if (stored.is_array()) {
            return FanPreset::listFromJSON(stored, FanCurveManager::storageKey);
        }
    } catch (const PresetLibraryError&) {
    }
    return std::nullopt;
}

} // namespace

FanCurveManager::FanCurveManager(DefaultsStore& defaults) : defaults_(defaults) {}

std::string FanCurveManager::encodeLibrary(const std::vector<FanPreset>& presets) {
    auto array = FanPreset::listToJSON(presets);
    try {
        return array.dump();
    } catch (const nlohmann::json::exception&) {
        throw PresetLibraryError::encodingFailed("a preset name is not valid UTF-8 text");
    }
}

std::vector<FanPreset> FanCurveManager::decodeLibrary(const std::string& text) {
    auto document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        throw PresetLibraryError::invalidData(storageKey, "is not valid JSON");
    }
    return FanPreset::listFromJSON(document, storageKey);
}

std::vector<FanPreset> FanCurveManager::loadCustomPresets() const {
    std::vector<FanPreset> stored;
    if (auto value = defaults_.value(storageKey)) {
        stored = readStoredLibrary(*value).value_or(std::vector<FanPreset>{});
    }

    std::set<UUID> reserved{FanPreset::systemDefault.id, FanPreset::automatic.id, FanPreset::fullBlast.id};
    std::vector<FanPreset> result;
    for (const auto& bundled : FanPreset::bundledPresets) {
        reserved.insert(bundled.id);
        auto copy = std::find_if(stored.begin(), stored.end(),
                                 [&](const FanPreset& preset) { return preset.id == bundled.id; });
        if (copy == stored.end()) {
            result.push_back(bundled);
            continue;
        }
        // The user's tuning survives when valid; the shipped name always comes back.
        FanPreset tuned = *copy;
        tuned.name = bundled.name;
        result.push_back(tuned.isValidCustomConfiguration() ? tuned : bundled);
    }

    std::set<UUID> appended;
    for (const auto& preset : stored) {
        if (reserved.contains(preset.id) || preset.kind != PresetKind::custom ||
            !preset.isValidCustomConfiguration() || appended.contains(preset.id)) {
            continue;
        }
        appended.insert(preset.id);
        result.push_back(preset);
    }
    return result;
}

void FanCurveManager::saveCustomPresets(const std::vector<FanPreset>& presets) {
    std::vector<FanPreset> valid;
    std::copy_if(presets.begin(), presets.end(), std::back_inserter(valid),
                 [](const FanPreset& preset) { return preset.isValidCustomConfiguration(); });
    auto encoded = encodeLibrary(valid);
    setAsideUnreadableLibrary();
    defaults_.setString(storageKey, encoded);
}

void FanCurveManager::setAsideUnreadableLibrary() {
    auto current = defaults_.value(storageKey);
    if (!current || readStoredLibrary(*current)) {
        return;
    }
    auto kept = defaults_.value(unreadableKey).value_or(nlohmann::json::array());
    if (!kept.is_array()) {
        kept = nlohmann::json::array({kept});
    }
    kept.push_back(*current);
    defaults_.setValue(unreadableKey, kept);
    logger.error("stored preset library could not be read; kept it under " + unreadableKey +
                 " before saving a new one");
}

} // namespace quorvane
