#include "Helpers/PresetLibraryError.hpp"

namespace quorvane {

PresetLibraryError PresetLibraryError::invalidData(const std::string& path, const std::string& problem) {
    return {Kind::invalidData,
            "The preset data is not valid: " + (path.empty() ? "the document" : path) + " " + problem + "."};
}

PresetLibraryError PresetLibraryError::encodingFailed(const std::string& detail) {
    return {Kind::encodingFailed, "The presets could not be encoded: " + detail};
}

PresetLibraryError PresetLibraryError::importFailed(const std::string& description) {
    return {Kind::importFailed, "Import failed: " + description};
}

PresetLibraryError PresetLibraryError::exportFailed(const std::string& description) {
    return {Kind::exportFailed, "Export failed: " + description};
}

PresetLibraryError PresetLibraryError::unsupportedFormatVersion() {
    return {Kind::unsupportedFormatVersion, "That preset file uses an unsupported format version."};
}

PresetLibraryError PresetLibraryError::noValidCustomPresets() {
    return {Kind::noValidCustomPresets, "No valid custom presets found in that file."};
}

} // namespace quorvane
