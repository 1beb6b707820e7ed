#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace quorvane {

class FanControlProcessLockError : public std::runtime_error {
public:
    enum class Kind { alreadyOwned, systemError, unsafeLockFile };

    static FanControlProcessLockError alreadyOwned(std::optional<std::string> owner);
    static FanControlProcessLockError systemError(int errorNumber);
    static FanControlProcessLockError unsafeLockFile();

    Kind kind() const { return kind_; }
    const std::optional<std::string>& owner() const { return owner_; }
    int errorNumber() const { return errorNumber_; }

    friend bool operator==(const FanControlProcessLockError& lhs, const FanControlProcessLockError& rhs) {
        return lhs.kind_ == rhs.kind_ && lhs.owner_ == rhs.owner_ && lhs.errorNumber_ == rhs.errorNumber_;
    }

private:
    FanControlProcessLockError(Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind_;
    std::optional<std::string> owner_;
    int errorNumber_ = 0;
};

// At most one process drives the fans: an advisory exclusive lock on a root-owned file that also
// records who holds it, so a refused process can say who owns fan control.
class FanControlProcessLock {
public:
    explicit FanControlProcessLock(std::filesystem::path url = defaultURL(),
                                   std::optional<std::uint32_t> requiredOwnerUID = std::nullopt);
    ~FanControlProcessLock();
    FanControlProcessLock(const FanControlProcessLock&) = delete;
    FanControlProcessLock& operator=(const FanControlProcessLock&) = delete;

    // Does nothing while this object already holds the lock.
    void acquire(const std::string& ownerDescription);
    void release();
    bool isHeld() const;

    const std::filesystem::path& url() const { return url_; }

    static std::filesystem::path defaultURL();

private:
    std::filesystem::path url_;
    std::optional<std::uint32_t> requiredOwnerUID_;
    mutable std::mutex stateLock_;
    int descriptor_ = -1;
};

} // namespace quorvane
