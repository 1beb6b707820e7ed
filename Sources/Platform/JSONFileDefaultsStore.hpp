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
// the old or the new settings. Several processes may share the file: a change takes an exclusive
// lock on "defaults.json.lock", reads the file again and alters only its own key, so it never undoes
// what another writer stored since this store last read. A file that cannot be read or parsed is
// renamed aside ("defaults.json.corrupt-<UTC time>"), never overwritten, and the store starts empty.
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
    // The file's document: empty when there is none yet or it was damaged (and set aside).
    // `writing` makes a path that is not a regular file an error instead of damage.
    nlohmann::json read(bool writing);
    // Moves the damaged file out of the way; false when even that failed.
    bool setAside(const std::string& reason);
    // Under the file lock: the file as it is now with `change` applied, written and kept.
    void update(const std::function<void(nlohmann::json&)>& change);
    // Writes the whole document; throws DefaultsStoreError and leaves the file as it was on failure.
    void persist(const nlohmann::json& document) const;

    mutable std::mutex mutex_;
    std::filesystem::path path_;
    WallClock wallClock_;
    nlohmann::json values_ = nlohmann::json::object();
    std::optional<std::filesystem::path> setAsidePath_;
};

} // namespace quorvane
