#include "Helpers/FanControlProcessLock.hpp"

#include "Helpers/AppIdentity.hpp"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quorvane {

namespace {

// Closes a descriptor on every early exit of acquire; released once the lock is kept.
class DescriptorGuard {
public:
    explicit DescriptorGuard(int descriptor) : descriptor_(descriptor) {}
    ~DescriptorGuard() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    DescriptorGuard(const DescriptorGuard&) = delete;
    DescriptorGuard& operator=(const DescriptorGuard&) = delete;
    int get() const { return descriptor_; }
    int release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_;
};

std::string isoTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buffer;
}

bool isValidUTF8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t j = 1; j < length; ++j) {
            if ((static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::optional<std::string> readOwner(int descriptor) {
    if (::lseek(descriptor, 0, SEEK_SET) < 0) {
        return std::nullopt;
    }
    char buffer[512];
    ssize_t count;
    do {
        count = ::read(descriptor, buffer, sizeof buffer);
    } while (count < 0 && errno == EINTR);
    if (count <= 0) {
        return std::nullopt;
    }
    std::string text(buffer, static_cast<std::size_t>(count));
    if (!isValidUTF8(text)) {
        return std::nullopt;
    }
    const char* blanks = " \t\n\r\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

FanControlProcessLockError FanControlProcessLockError::alreadyOwned(std::optional<std::string> owner) {
    FanControlProcessLockError error(Kind::alreadyOwned,
                                     owner ? "Fan control is already owned by " + *owner
                                           : "Fan control is already owned by another Quorvane process");
    error.owner_ = std::move(owner);
    return error;
}

FanControlProcessLockError FanControlProcessLockError::systemError(int errorNumber) {
    FanControlProcessLockError error(Kind::systemError, "Unable to secure the Quorvane control lock (errno " +
                                                            std::to_string(errorNumber) + ")");
    error.errorNumber_ = errorNumber;
    return error;
}

FanControlProcessLockError FanControlProcessLockError::unsafeLockFile() {
    return FanControlProcessLockError(Kind::unsafeLockFile,
                                      "The Quorvane control lock file is not a safe regular file");
}

FanControlProcessLock::FanControlProcessLock(std::filesystem::path url,
                                             std::optional<std::uint32_t> requiredOwnerUID)
    : url_(std::move(url)), requiredOwnerUID_(requiredOwnerUID) {}

FanControlProcessLock::~FanControlProcessLock() {
    release();
}

std::filesystem::path FanControlProcessLock::defaultURL() {
    return "/var/run/" + AppBundleIdentifier + ".fan-control.lock";
}

void FanControlProcessLock::acquire(const std::string& ownerDescription) {
    std::lock_guard guard(stateLock_);
    if (descriptor_ >= 0) {
        return;
    }
    int opened;
    do {
        opened = ::open(url_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) {
        // A directory cannot be opened for writing; it is no more a lock file than a device node is.
        if (errno == EISDIR) {
            throw FanControlProcessLockError::unsafeLockFile();
        }
        throw FanControlProcessLockError::systemError(errno);
    }
    DescriptorGuard file(opened);

    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throw FanControlProcessLockError::systemError(errno);
    }
    if (!S_ISREG(status.st_mode) || status.st_nlink != 1 ||
        (requiredOwnerUID_ && status.st_uid != *requiredOwnerUID_)) {
        throw FanControlProcessLockError::unsafeLockFile();
    }
    if (::fchmod(file.get(), 0600) != 0) {
        throw FanControlProcessLockError::systemError(errno);
    }
    int locked;
    do {
        locked = ::flock(file.get(), LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int lockError = errno;
        auto owner = readOwner(file.get());
        if (lockError == EWOULDBLOCK) {
            throw FanControlProcessLockError::alreadyOwned(std::move(owner));
        }
        throw FanControlProcessLockError::systemError(lockError);
    }

    // Recording the owner is best effort: the lock is held even if this fails.
    const std::string line =
        ownerDescription + " pid=" + std::to_string(::getpid()) + " started=" + isoTimestamp() + "\n";
    [[maybe_unused]] const int truncated = ::ftruncate(file.get(), 0);
    [[maybe_unused]] const auto written = ::pwrite(file.get(), line.data(), line.size(), 0);
    ::fsync(file.get());
    descriptor_ = file.release();
}

void FanControlProcessLock::release() {
    std::lock_guard guard(stateLock_);
    if (descriptor_ >= 0) {
        ::flock(descriptor_, LOCK_UN);
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

bool FanControlProcessLock::isHeld() const {
    std::lock_guard guard(stateLock_);
    return descriptor_ >= 0;
}

} // namespace quorvane
