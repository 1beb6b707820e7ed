#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// Every failure of the preset model, library and export file. what() is the sentence the user sees.
class PresetLibraryError : public std::runtime_error {
public:
    enum class Kind {
        invalidData,
        encodingFailed,
        importFailed,
        exportFailed,
        unsupportedFormatVersion,
        noValidCustomPresets,
    };

    // Preset data that does not have the expected shape; `path` locates the offending value.
    static PresetLibraryError invalidData(const std::string& path, const std::string& problem);
    static PresetLibraryError encodingFailed(const std::string& detail);
    // "Import failed: " or "Export failed: " followed by the cause's description.
    static PresetLibraryError importFailed(const std::string& description);
    static PresetLibraryError exportFailed(const std::string& description);
    static PresetLibraryError unsupportedFormatVersion();
    static PresetLibraryError noValidCustomPresets();

    Kind kind() const { return kind_; }

private:
    PresetLibraryError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

    Kind kind_;
};

} // namespace quorvane
