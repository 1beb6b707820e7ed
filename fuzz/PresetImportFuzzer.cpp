// A preset file chosen for Import, read as the app model reads it, and the same text as a stored
// preset library. What an import accepts must survive export and be stored and loaded again
// unchanged; a stored library of any content loads with the shipped presets first.
#include "Helpers/FanCurveManager.hpp"
#include "Helpers/InMemoryDefaultsStore.hpp"
#include "Helpers/Logger.hpp"
#include "Helpers/PresetExportFile.hpp"
#include "Helpers/PresetLibraryError.hpp"

#include <cstdlib>
#include <string_view>

using namespace quorvane;

namespace {

struct Silent final : LogSink {
    void write(const LogRecord&) override {}
};

void importFile(std::string_view text) {
    std::vector<FanPreset> imported;
    try {
        imported = PresetExportFile::decode(text).importablePresets();
    } catch (const PresetLibraryError&) {
        return;
    }
    // Export, then import that file: the same presets under new identities.
    const auto again = PresetExportFile::decode(PresetExportFile{1, imported}.encoded()).importablePresets();
    if (again.size() != imported.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < again.size(); ++i) {
        auto copy = again[i];
        copy.id = imported[i].id;
        if (!(copy == imported[i])) {
            std::abort();
        }
    }
    // Added to the library, saved, loaded: all there, after the shipped two.
    InMemoryDefaultsStore defaults;
    FanCurveManager library(defaults);
    library.saveCustomPresets(imported);
    const auto loaded = library.loadCustomPresets();
    if (loaded.size() != FanPreset::bundledPresets.size() + imported.size()) {
        std::abort();
    }
}

void loadLibrary(std::string_view text) {
    InMemoryDefaultsStore defaults;
    defaults.setString(FanCurveManager::storageKey, std::string(text));
    const auto loaded = FanCurveManager(defaults).loadCustomPresets();
    if (loaded.size() < FanPreset::bundledPresets.size() || loaded[0].id != FanPreset::bundledPresets[0].id ||
        loaded[1].id != FanPreset::bundledPresets[1].id) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto silenced = Logger::setSink(std::make_shared<Silent>());
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    importFile(text);
    loadLibrary(text);
    return 0;
}
