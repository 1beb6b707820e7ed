#pragma once

#include "Helpers/DefaultsStore.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace quorvane {

// The user's defaults as one JSON object in one file. Every change rewrites the file atomically
// (temporary file in the same folder, fsync, rename, fsync of the folder), so a crash leaves either
// the old or the new settings. A file that cannot be read or parsed is renamed aside
// ("defaults.json.corrupt-<UTC time>"), never overwritten, and the store starts empty.
class JSONFileDefaultsStore final : public DefaultsStore {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;
    // Looks up an environment variable; absent when unset.
    using Environment = std::function<std::optional<std::string>(const std::string&)>;

    explicit JSONFileDefaultsStore(std::filesystem::path path,
                                   WallClock wallClock = std::chrono::system_clock::now);

    // $XDG_CONFIG_HOME/quorvane/defaults.json, else ~/.config/quorvane/defaults.json. A relative
    // XDG_CONFIG_HOME is ignored, as the XDG rules ask. Throws DefaultsStoreError when no home folder
    // is known at all.
    static std::filesystem::path defaultPath(const Environment& environment);
    static std::filesystem::path defaultPath();

    std::optional<nlohmann::json> value(const std::string& key) const override;
    void setValue(const std::string& key, const nlohmann::json& value) override;
    void removeValue(const std::string& key) override;

    const std::filesystem::path& path() const { return path_; }
    // Where a damaged file found at start was moved, if one was.
    const std::optional<std::filesystem::path>& setAsidePath() const { return setAsidePath_; }

private:
    void load();
    // Moves the damaged file out of the way; false when even that failed.
    bool setAside(const std::string& reason);
    // Writes the whole document; throws DefaultsStoreError and leaves the file as it was on failure.
    void persist(const nlohmann::json& document) const;

    mutable std::mutex mutex_;
    std::filesystem::path path_;
    WallClock wallClock_;
    nlohmann::json values_ = nlohmann::json::object();
    std::optional<std::filesystem::path> setAsidePath_;
    // False when a damaged file could not be moved aside: writing would destroy it.
    bool writable_ = true;
};

} // namespace quorvane
