#pragma once

#include "Helpers/DefaultsStore.hpp"
#include "Helpers/FanPreset.hpp"

#include <string>
#include <vector>

namespace quorvane {

// Loads and saves the library of custom presets in the user's defaults, repairing it on load: the
// shipped presets are always there, and invalid, non-custom or repeated entries are dropped.
// Nothing is cached; every call reads or replaces the whole stored array.
class FanCurveManager {
public:
    explicit FanCurveManager(DefaultsStore& defaults);

    // Never fails: missing or unreadable data loads as the shipped presets alone.
    std::vector<FanPreset> loadCustomPresets() const;
    // Writes the presets that pass validation, in order. Throws PresetLibraryError when they cannot
    // be encoded, or DefaultsStoreError when they cannot be stored; the stored data then stays as it
    // was.
    void saveCustomPresets(const std::vector<FanPreset>& presets);

    DefaultsStore& defaults() const { return defaults_; }

    static inline const std::string storageKey = "customFanPresets.v1";
    // Library data that could not be read is moved here before a save replaces it, so a damaged or
    // newer library is never silently thrown away.
    static inline const std::string unreadableKey = "customFanPresets.v1.unreadable";

    // The stored form: the compact text of a JSON array of presets.
    static std::string encodeLibrary(const std::vector<FanPreset>& presets);
    // Throws PresetLibraryError when the text is not a JSON array of presets; one bad element fails all.
    static std::vector<FanPreset> decodeLibrary(const std::string& text);

private:
    void setAsideUnreadableLibrary();

    DefaultsStore& defaults_;
};

} // namespace quorvane
