#include "Helpers/PresetSelectionStore.hpp"

#include <algorithm>

namespace quorvane {

PresetSelectionStore::PresetSelectionStore(DefaultsStore& defaults) : defaults_(defaults) {}

void PresetSelectionStore::save(const FanPreset& preset) {
    defaults_.setString(storageKey, preset.id.uuidString());
}

std::optional<UUID> PresetSelectionStore::savedPresetID() const {
    auto text = defaults_.string(storageKey);
    if (!text) {
        return std::nullopt;
    }
    return UUID::parse(*text);
}

FanPreset PresetSelectionStore::load(const std::vector<FanPreset>& presets) const {
    auto id = savedPresetID();
    if (!id) {
        return FanPreset::systemDefault;
    }
    auto found = std::find_if(presets.begin(), presets.end(),
                              [&](const FanPreset& preset) { return preset.id == *id; });
    return found != presets.end() ? *found : FanPreset::systemDefault;
}

} // namespace quorvane
