#pragma once

#include "Helpers/FanPreset.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// The document written by Export and read by Import: {"presets": [...], "version": 1}.
struct PresetExportFile {
    std::int64_t version = currentVersion;
    std::vector<FanPreset> presets;

    // The only version written and accepted.
    static constexpr std::int64_t currentVersion = 1;
    static inline const std::string defaultFileName = "Quorvane-Presets.json";

    // Pretty-printed with sorted keys. Throws PresetLibraryError ("Export failed: ...").
    std::string encoded() const;
    // Accepts compact or pretty text and ignores unknown keys. Throws PresetLibraryError
    // ("Import failed: ...") naming the position or field at fault.
    static PresetExportFile decode(std::string_view data);

    // What an import adds: every preset that passes validation, each under a fresh id so it can
    // never replace or collide with one already in the library. Throws PresetLibraryError for
    // another format version or when nothing passes.
    std::vector<FanPreset> importablePresets() const;
};

} // namespace quorvane
