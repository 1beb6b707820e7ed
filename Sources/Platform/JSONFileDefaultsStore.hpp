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
// what another writer stored since this store last read. A file that does not parse, or holds no
// object, is renamed aside ("defaults.json.corrupt-<UTC time>"), never overwritten: at start the store
// then starts empty, during a change the change is merged onto the last good document this store
// holds. A file that cannot be opened or read is not damage: the change fails and nothing moves. A
// symlinked file is written through to its target. The lock is waited for only briefly, so a caller
// (the UI thread) is never held by another process that keeps it.
class JSONFileDefaultsStore final : public DefaultsStore {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;
    // Looks up an environment variable; absent when unset.
    using Environment = std::function<std::optional<std::string>(const std::string&)>;
    // Waits between attempts to take the writer lock.
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    // Attempts to take the writer lock before a change fails, and the wait between two.
    static constexpr int lockAttempts = 25;
    static constexpr std::chrono::milliseconds lockRetryDelay{20};

    explicit JSONFileDefaultsStore(std::filesystem::path path,
                                   WallClock wallClock = std::chrono::system_clock::now, Sleep sleep = {});

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
    struct Contents;
    // The file as it is now. Throws DefaultsStoreError when it cannot be opened or read.
    Contents read() const;
    // The file the settings are written to: the target of a symlinked path.
    std::filesystem::path target() const;
    // Moves the damaged file that was read (and only that file) out of the way; false when that failed.
    bool setAside(const Contents& damaged);
    // Under the file lock: the file as it is now with `change` applied, written and kept.
    void update(const std::function<void(nlohmann::json&)>& change);
    // Writes the whole document to `target`; throws DefaultsStoreError and leaves it as it was on failure.
    void persist(const nlohmann::json& document, const std::filesystem::path& target) const;

    mutable std::mutex mutex_;
    std::filesystem::path path_;
    WallClock wallClock_;
    Sleep sleep_;
    nlohmann::json values_ = nlohmann::json::object();
    std::optional<std::filesystem::path> setAsidePath_;
};

} // namespace quorvane
