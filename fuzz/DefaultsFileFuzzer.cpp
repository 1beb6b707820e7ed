// The defaults file as the app finds it at start: any bytes in defaults.json, loaded by the store
// (set aside when unusable), every setting read the way the app reads it, then one setting saved.
// Runs in a folder of its own, in memory where /dev/shm exists so the saves' fsyncs cost nothing.
#include "Helpers/FanControlOwnershipStore.hpp"
#include "Helpers/FanCurveManager.hpp"
#include "Helpers/Logger.hpp"
#include "Helpers/PresetSelectionStore.hpp"
#include "Platform/JSONFileDefaultsStore.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace quorvane;

namespace {

namespace fs = std::filesystem;

struct Silent final : LogSink {
    void write(const LogRecord&) override {}
};

struct Folder {
    Folder() {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        path = base / ("defaults-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
    fs::path path;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto silenced = Logger::setSink(std::make_shared<Silent>());
    static const Folder folder;
    for (const auto& entry : fs::directory_iterator(folder.path)) {
        fs::remove(entry.path());
    }
    const fs::path file = folder.path / "defaults.json";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    JSONFileDefaultsStore defaults(file);
    defaults.number("pollingInterval");
    defaults.number("overheatThreshold");
    defaults.boolean("overheatAlertsEnabled");
    defaults.integer("supervisedFanTestProtocolVersion");
    FanControlOwnershipStore(defaults).load();
    const auto presets = FanCurveManager(defaults).loadCustomPresets();
    PresetSelectionStore(defaults).load(presets);

    // A file the store set aside is kept byte for byte.
    if (const auto& aside = defaults.setAsidePath()) {
        std::ifstream kept(*aside, std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
        if (content != std::string_view(reinterpret_cast<const char*>(data), size)) {
            std::abort();
        }
    }
    defaults.setNumber("pollingInterval", 3);
    if (JSONFileDefaultsStore(file).number("pollingInterval") != 3.0) {
        std::abort();
    }
    return 0;
}
