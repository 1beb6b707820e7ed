#pragma once

#include "Helpers/DefaultsStore.hpp"
#include "Helpers/FanPreset.hpp"
#include "Helpers/UUID.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// Remembers which preset the user chose last, by id.
class PresetSelectionStore {
public:
    explicit PresetSelectionStore(DefaultsStore& defaults);

    // Throws DefaultsStoreError when the choice cannot be stored.
    void save(const FanPreset& preset);
    // Absent when nothing is stored or the stored text is not a UUID.
    std::optional<UUID> savedPresetID() const;
    // The remembered preset among `presets`, or Apple Default when there is none or it is gone.
    FanPreset load(const std::vector<FanPreset>& presets) const;

    DefaultsStore& defaults() const { return defaults_; }

    static inline const std::string storageKey = "lastSelectedFanPresetID.v1";

private:
    DefaultsStore& defaults_;
};

} // namespace quorvane
