#include "Helpers/PresetExportFile.hpp"

#include "Helpers/PresetJSONReader.hpp"
#include "Helpers/PresetLibraryError.hpp"

#include <algorithm>

namespace quorvane {

namespace {

// nlohmann reports a byte offset; people look for lines and columns.
std::string lineAndColumn(std::string_view data, std::size_t byte) {
    std::size_t end = std::min(byte == 0 ? 0 : byte - 1, data.size());
    std::size_t line = 1 + static_cast<std::size_t>(std::count(data.begin(), data.begin() + end, '\n'));
    auto lastBreak = data.substr(0, end).rfind('\n');
    std::size_t column = lastBreak == std::string_view::npos ? end + 1 : end - lastBreak;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

} // namespace

std::string PresetExportFile::encoded() const {
    try {
        nlohmann::json document{{"version", version}, {"presets", FanPreset::listToJSON(presets)}};
        return document.dump(2) + "\n";
    } catch (const PresetLibraryError& error) {
        throw PresetLibraryError::exportFailed(error.what());
    } catch (const nlohmann::json::exception&) {
        throw PresetLibraryError::exportFailed("a preset name is not valid UTF-8 text.");
    }
}

PresetExportFile PresetExportFile::decode(std::string_view data) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(data);
    } catch (const nlohmann::json::parse_error& error) {
        throw PresetLibraryError::importFailed("The file is not valid JSON (" +
                                               lineAndColumn(data, error.byte) + ").");
    } catch (const nlohmann::json::out_of_range&) {
        // A number beyond double's range ("1e400"): the parser stops without a position.
        throw PresetLibraryError::importFailed("The file is not valid JSON (a number is too large).");
    }
    try {
        PresetJSONReader reader(document, "");
        PresetExportFile file;
        file.version = reader.requiredInteger("version");
        const auto* presets = reader.optionalValue("presets");
        if (presets == nullptr) {
            throw PresetLibraryError::invalidData("presets", "is missing");
        }
        file.presets = FanPreset::listFromJSON(*presets, "presets");
        return file;
    } catch (const PresetLibraryError& error) {
        throw PresetLibraryError::importFailed(error.what());
    }
}

std::vector<FanPreset> PresetExportFile::importablePresets() const {
    if (version != currentVersion) {
        throw PresetLibraryError::unsupportedFormatVersion();
    }
    std::vector<FanPreset> accepted;
    for (const auto& preset : presets) {
        if (preset.isValidCustomConfiguration()) {
            auto copy = preset;
            copy.id = UUID::generate();
            accepted.push_back(std::move(copy));
        }
    }
    if (accepted.empty()) {
        throw PresetLibraryError::noValidCustomPresets();
    }
    return accepted;
}

} // namespace quorvane
