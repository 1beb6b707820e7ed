#include "App/AppModel.hpp"
#include "Helpers/FanControlOwnershipStore.hpp"
#include "Helpers/FanCurveManager.hpp"
#include "Helpers/PresetExportFile.hpp"
#include "Helpers/PresetLibraryError.hpp"
#include "Helpers/PresetSelectionStore.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

// ---- files ----

std::string quoted(const std::filesystem::path& file) {
    return "“" + file.filename().string() + "”";
}

std::runtime_error fileError(const std::string& what, const std::filesystem::path& file, int code) {
    return std::runtime_error("The file " + quoted(file) + " could not be " + what + " (" +
                              std::strerror(code) + ").");
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now so that a failing close is seen; never retried.
    int release() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

std::string readFile(const std::filesystem::path& file) {
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throw fileError("opened", file, errno);
    }
    Descriptor descriptor(fd);
    std::string data;
    char buffer[8192];
    for (;;) {
        const ssize_t count = ::read(descriptor.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            throw fileError("read", file, errno);
        }
        if (count == 0) {
            return data;
        }
        data.append(buffer, static_cast<std::size_t>(count));
    }
}

// Write beside the target and rename over it, so a failed export never leaves half a file.
void writeFileAtomically(const std::filesystem::path& file, const std::string& data) {
    const auto directory = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    std::string pattern = (directory / ("." + file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        throw fileError("saved", file, errno);
    }
    Descriptor descriptor(fd);
    auto fail = [&](int code) {
        ::unlink(pattern.c_str());
        throw fileError("saved", file, code);
    };
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t count = ::write(descriptor.get(), data.data() + written, data.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            fail(errno);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fchmod(descriptor.get(), 0644) != 0 || ::fsync(descriptor.get()) != 0) {
        fail(errno);
    }
    if (descriptor.release() != 0) {
        fail(errno);
    }
    if (::rename(pattern.c_str(), file.c_str()) != 0) {
        fail(errno);
    }
}

// ---- names ----

bool isWhiteSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// The code point starting at `position` and its length; an invalid byte counts as one visible character.
std::pair<char32_t, std::size_t> decode(const std::string& text, std::size_t position) {
    const auto lead = static_cast<unsigned char>(text[position]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || position + length > text.size()) {
        return {0xFFFD, 1};
    }
    char32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto continuation = static_cast<unsigned char>(text[position + k]);
        if ((continuation & 0xC0) != 0x80) {
            return {0xFFFD, 1};
        }
        codePoint = (codePoint << 6) | (continuation & 0x3F);
    }
    return {codePoint, length};
}

std::string trimmedWhiteSpace(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool seenVisible = false;
    for (std::size_t position = 0; position < text.size();) {
        const auto [codePoint, length] = decode(text, position);
        if (!isWhiteSpace(codePoint)) {
            if (!seenVisible) {
                begin = position;
                seenVisible = true;
            }
            end = position + length;
        }
        position += length;
    }
    return seenVisible ? text.substr(begin, end - begin) : std::string();
}

std::size_t userPresetCount(const std::vector<FanPreset>& library) {
    return static_cast<std::size_t>(std::count_if(
        library.begin(), library.end(), [](const FanPreset& preset) { return !preset.isLocked(); }));
}

} // namespace

void AppModel::rememberSelection(const FanPreset& preset) {
    persist([&] { PresetSelectionStore(defaults_).save(preset); });
}

void AppModel::saveLibrary(const std::string& errorPrefix) {
    try {
        FanCurveManager(defaults_).saveCustomPresets(customPresets_);
    } catch (const std::exception& error) {
        setLastError(errorPrefix + error.what());
    }
}

void AppModel::createCustomPreset() {
    // Shipped presets live in the library too, but the user counts only their own.
    FanPreset preset{.id = UUID::generate(),
                     .name = "Custom " + std::to_string(userPresetCount(customPresets_) + 1),
                     .kind = PresetKind::custom,
                     .strategy = ControlStrategy::cpuCoreAverage,
                     .lowTemperature = 30.0,
                     .highTemperature = 50.0,
                     .hysteresis = 1.5,
                     .linkedFans = true};
    savePreset(preset);
    activate(preset, false);
}

void AppModel::duplicatePreset(const FanPreset& preset) {
    if (preset.kind != PresetKind::custom) {
        return;
    }
    auto copy = preset;
    copy.id = UUID::generate();
    copy.name = preset.name + " Copy";
    savePreset(copy);
}

void AppModel::renamePreset(const FanPreset& preset, const std::string& newName) {
    const auto name = trimmedWhiteSpace(newName);
    if (name.empty() || preset.isLocked()) {
        return;
    }
    auto renamed = preset;
    renamed.name = name;
    savePreset(renamed);
}

void AppModel::savePreset(const FanPreset& preset) {
    if (!preset.isValidCustomConfiguration()) {
        setLastError("That preset has an invalid name, temperature range, hysteresis, or RPM target.");
        return;
    }
    auto library = customPresets_;
    auto existing = std::find_if(library.begin(), library.end(),
                                 [&](const FanPreset& candidate) { return candidate.id == preset.id; });
    if (existing != library.end()) {
        *existing = preset;
    } else {
        library.push_back(preset);
    }
    publish(Property::customPresets, customPresets_, std::move(library));
    if (activePreset_.id == preset.id) {
        publish(Property::activePreset, activePreset_, preset);
    }
    if (presetPendingRestore_ && presetPendingRestore_->id == preset.id) {
        presetPendingRestore_ = preset;
    }
    saveLibrary("");
}

void AppModel::deletePreset(const FanPreset& preset) {
    if (preset.isLocked()) {
        return;
    }
    if (PresetSelectionStore(defaults_).savedPresetID() == preset.id) {
        presetPendingRestore_.reset();
        rememberSelection(FanPreset::systemDefault);
    }
    // A deleted preset must never come back through the restore path.
    if (presetPendingRestore_ && presetPendingRestore_->id == preset.id) {
        presetPendingRestore_.reset();
    }
    if (activePreset_.id == preset.id) {
        resetToAutomatic("deleted active preset", false, true);
    }
    auto library = customPresets_;
    std::erase_if(library, [&](const FanPreset& candidate) { return candidate.id == preset.id; });
    publish(Property::customPresets, customPresets_, std::move(library));
    saveLibrary("");
}

bool AppModel::exportCustomPresets(const std::filesystem::path& file) {
    try {
        const PresetExportFile document{.version = PresetExportFile::currentVersion,
                                        .presets = customPresets_};
        writeFileAtomically(file, document.encoded());
        return true;
    } catch (const PresetLibraryError& error) {
        setLastError(std::string(error.what()));
    } catch (const std::exception& error) {
        setLastError(std::string("Export failed: ") + error.what());
    }
    return false;
}

bool AppModel::importCustomPresets(const std::filesystem::path& file) {
    std::vector<FanPreset> imported;
    try {
        imported = PresetExportFile::decode(readFile(file)).importablePresets();
    } catch (const PresetLibraryError& error) {
        setLastError(std::string(error.what()));
        return false;
    } catch (const std::exception& error) {
        setLastError(std::string("Import failed: ") + error.what());
        return false;
    }
    auto library = customPresets_;
    library.insert(library.end(), imported.begin(), imported.end());
    publish(Property::customPresets, customPresets_, std::move(library));
    try {
        FanCurveManager(defaults_).saveCustomPresets(customPresets_);
    } catch (const std::exception& error) {
        setLastError(std::string("Import failed: ") + error.what());
        return false;
    }
    return true;
}

void AppModel::setLaunchAtLogin(bool enabled) {
    try {
        launchAtLoginService_.setEnabled(enabled);
    } catch (const std::exception& error) {
        setLastError(std::string(error.what()));
    }
    publish(Property::launchAtLogin, launchAtLogin_, launchAtLoginService_.isEnabled());
}

void AppModel::setFanControlOwnership(FanControlOwnership owner) {
    if (owner == fanControlOwnership_) {
        return;
    }
    publish(Property::fanControlOwnership, fanControlOwnership_, owner);
    persist([&] { FanControlOwnershipStore(defaults_).save(owner); });

    if (owner == FanControlOwnership::quorvane) {
        logger_.notice("fan-control ownership changed to Quorvane");
        nextRestoreAttempt_ = now() + 1.0;
        if (!competingController_) {
            if (activePreset_.kind != PresetKind::system) {
                presetPendingRestore_ = activePreset_;
            }
        } else {
            const auto message = conflictMessage(*competingController_);
            setActiveConflictMessage(message);
            setLastError(message);
            startConflictMonitor();
        }
        requestCompetingControllerScan();
        poll();
        return;
    }

    logger_.notice("fan-control ownership changed to another app; entering monitoring-only mode");
    stopConflictMonitor();
    const auto previousMessage = activeConflictMessage_;
    setActiveConflictMessage(std::nullopt);
    if (previousMessage && lastError_ == previousMessage) {
        setLastError(std::nullopt);
    }
    nextRestoreAttempt_ = std::numeric_limits<double>::infinity();
    resetToAutomatic("another app selected as fan controller", true, true);
}

} // namespace quorvane
