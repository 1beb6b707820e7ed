#include "Platform/JSONFileDefaultsStore.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Helpers/DefaultsStoreError.hpp"
#include "Helpers/Logger.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quorvane {

namespace {

const Logger logger(AppBundleIdentifier, "Defaults");

std::string errnoText(int error) {
    return std::strerror(error);
}

// Settings nest a few levels at most. A deeper document is refused as unreadable (discarded), so no
// copy or dump of it can recurse deep enough to overflow the stack.
nlohmann::json parseSettings(const std::string& contents) {
    constexpr int maxDepth = 32;
    bool tooDeep = false;
    const nlohmann::json::parser_callback_t limitDepth =
        [&tooDeep](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
            if ((event == nlohmann::json::parse_event_t::object_start ||
                 event == nlohmann::json::parse_event_t::array_start) &&
                depth >= maxDepth) {
                tooDeep = true;
                return false;
            }
            return true;
        };
    auto document = nlohmann::json::parse(contents, limitDepth, false);
    if (tooDeep) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    return document;
}

// Owns one descriptor. close() is never retried: after EINTR the descriptor is already gone.
class OwnedDescriptor {
public:
    explicit OwnedDescriptor(int fd = -1) : fd_(fd) {}
    OwnedDescriptor(OwnedDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OwnedDescriptor& operator=(OwnedDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    OwnedDescriptor(const OwnedDescriptor&) = delete;
    OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;
    ~OwnedDescriptor() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the result; a failed close can mean lost buffered data.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    void reset() {
        if (fd_ >= 0) {
            ::close(std::exchange(fd_, -1));
        }
    }
    int fd_;
};

// A temporary file that is unlinked unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!committed_) {
            ::unlink(path_.c_str());
        }
    }
    const std::string& path() const { return path_; }
    void commit() { committed_ = true; }

private:
    std::string path_;
    bool committed_ = false;
};

int retryingOpen(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads the whole file; an errno value on failure.
int readAll(int fd, std::string& contents) {
    char buffer[16384];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (count == 0) {
            return 0;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
    }
}

int writeAll(int fd, const std::string& contents) {
    std::size_t written = 0;
    while (written < contents.size()) {
        ssize_t count = ::write(fd, contents.data() + written, contents.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        written += static_cast<std::size_t>(count);
    }
    return 0;
}

int retryingFsync(int fd) {
    int result;
    do {
        result = ::fsync(fd);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

std::string utcStamp(std::chrono::system_clock::time_point time) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

// Renames without ever replacing an existing file.
int renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // File systems without RENAME_NOREPLACE: a hard link fails rather than replace.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    ::unlink(from.c_str());
    return 0;
}

// An exclusive lock on the file beside the settings, held while one change is read, merged and
// written. The lock file is never replaced, unlike the settings file, so every writer locks the same one.
// Another process may keep it as long as it likes: this one tries a few times, then gives up.
class WriterLock {
public:
    WriterLock(const std::string& path, const JSONFileDefaultsStore::Sleep& sleep)
        : file_(retryingOpen(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR)) {
        if (!file_.valid()) {
            error_ = errno;
            return;
        }
        for (int attempt = 1;; ++attempt) {
            if (::flock(file_.get(), LOCK_EX | LOCK_NB) == 0) {
                error_ = 0;
                return;
            }
            error_ = errno;
            if (error_ == EINTR) {
                continue;
            }
            if (error_ != EWOULDBLOCK || attempt == JSONFileDefaultsStore::lockAttempts) {
                return;
            }
            sleep(JSONFileDefaultsStore::lockRetryDelay);
        }
    }
    // 0 once the lock is held.
    int error() const { return error_; }
    std::string reason() const {
        return error_ == EWOULDBLOCK ? "another program keeps it busy; try again"
                                     : "its lock could not be taken: " + errnoText(error_);
    }

private:
    OwnedDescriptor file_; // closing it releases the lock
    int error_ = 0;
};

std::optional<std::string> processEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::string> passwordDatabaseHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || result == nullptr ||
        result->pw_dir == nullptr || result->pw_dir[0] == '\0') {
        return std::nullopt;
    }
    return std::string(result->pw_dir);
}

} // namespace

struct JSONFileDefaultsStore::Contents {
    std::filesystem::path file;             // the file read: the target of a symlinked path
    std::optional<nlohmann::json> document; // absent when there is no file or it is damaged
    std::string damage;                     // why it is unusable; empty unless damaged
    dev_t device = 0;
    ino_t inode = 0;
};

JSONFileDefaultsStore::JSONFileDefaultsStore(std::filesystem::path path, WallClock wallClock, Sleep sleep)
    : path_(std::move(path)), wallClock_(std::move(wallClock)), sleep_(std::move(sleep)) {
    if (!sleep_) {
        sleep_ = [](std::chrono::milliseconds delay) {
            std::this_thread::sleep_for(delay);
        };
    }
    try {
        auto contents = read();
        if (contents.damage.empty()) {
            values_ = contents.document.value_or(nlohmann::json::object());
            return;
        }
        // Set aside under the writer lock, and only the file as it is then: another writer may have
        // replaced it meanwhile.
        WriterLock writers(path_.string() + ".lock", sleep_);
        if (writers.error() != 0) {
            logger.error("settings file " + path_.string() + " is unusable because " + contents.damage +
                         ", and it is left in place for now: " + writers.reason());
            return;
        }
        contents = read();
        if (contents.damage.empty()) {
            values_ = contents.document.value_or(nlohmann::json::object());
        } else if (setAside(contents)) {
            logger.error("started with default settings");
        }
    } catch (const DefaultsStoreError& error) {
        logger.error("settings file " + path_.string() + " is unreadable (" + error.what() +
                     "); started with default settings and left the file as it is");
    }
}

std::filesystem::path JSONFileDefaultsStore::defaultPath(const Environment& environment) {
    const std::filesystem::path relative = std::filesystem::path("quorvane") / "defaults.json";
    auto configHome = environment("XDG_CONFIG_HOME");
    if (configHome && !configHome->empty() && std::filesystem::path(*configHome).is_absolute()) {
        return std::filesystem::path(*configHome) / relative;
    }
    auto home = environment("HOME");
    if (!home || home->empty()) {
        home = passwordDatabaseHome();
    }
    if (!home) {
        throw DefaultsStoreError::saveFailed("the configuration folder",
                                             "no home folder is known for this user");
    }
    return std::filesystem::path(*home) / ".config" / relative;
}

std::filesystem::path JSONFileDefaultsStore::defaultPath() {
    return defaultPath(processEnvironment);
}

std::filesystem::path JSONFileDefaultsStore::target() const {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path_, error))) {
        return path_;
    }
    auto resolved = std::filesystem::weakly_canonical(path_, error);
    if (error) {
        throw DefaultsStoreError::saveFailed(path_.string(),
                                             "its link cannot be followed: " + error.message());
    }
    return resolved;
}

JSONFileDefaultsStore::Contents JSONFileDefaultsStore::read() const {
    Contents contents;
    contents.file = target();
    OwnedDescriptor file(retryingOpen(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return contents; // first run
        }
        throw DefaultsStoreError::saveFailed(path_.string(), "it could not be opened: " + errnoText(errno));
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throw DefaultsStoreError::saveFailed(path_.string(), "it could not be read: " + errnoText(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw DefaultsStoreError::saveFailed(path_.string(), "it is not a regular file");
    }
    contents.device = status.st_dev;
    contents.inode = status.st_ino;
    std::string text;
    if (int error = readAll(file.get(), text); error != 0) {
        throw DefaultsStoreError::saveFailed(path_.string(), "it could not be read: " + errnoText(error));
    }
    auto document = parseSettings(text);
    if (document.is_discarded()) {
        contents.damage = "it is not valid JSON";
    } else if (!document.is_object()) {
        contents.damage = "it does not hold a JSON object";
    } else {
        contents.document = std::move(document);
    }
    return contents;
}

bool JSONFileDefaultsStore::setAside(const Contents& damaged) {
    const std::string file = damaged.file.string();
    const std::string reason = damaged.damage;
    struct stat now {};
    if (::lstat(file.c_str(), &now) != 0 || now.st_dev != damaged.device || now.st_ino != damaged.inode) {
        logger.error("settings file " + file + " is unusable because " + reason +
                     ", and it was replaced while being set aside; settings will not be saved this time");
        return false;
    }
    const std::string base = file + ".corrupt-" + utcStamp(wallClock_());
    int error = EEXIST;
    std::string target;
    for (int attempt = 1; attempt <= 100 && error == EEXIST; ++attempt) {
        target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        error = renameWithoutReplacing(file, target);
    }
    if (error != 0) {
        logger.error("settings file " + file + " is unusable because " + reason +
                     ", and it could not be moved aside (" + errnoText(error) +
                     "); settings will not be saved so that it stays intact");
        return false;
    }
    setAsidePath_ = target;
    logger.error("settings file " + file + " is unusable because " + reason + "; moved it to " + target);
    return true;
}

std::optional<nlohmann::json> JSONFileDefaultsStore::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return *found;
}

void JSONFileDefaultsStore::setValue(const std::string& key, const nlohmann::json& value) {
    update([&](nlohmann::json& document) { document[key] = value; });
}

void JSONFileDefaultsStore::removeValue(const std::string& key) {
    update([&](nlohmann::json& document) { document.erase(key); });
}

void JSONFileDefaultsStore::update(const std::function<void(nlohmann::json&)>& change) {
    std::lock_guard lock(mutex_);
    const auto folder = path_.parent_path().empty() ? std::filesystem::path(".") : path_.parent_path();
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    if (folderError) {
        throw DefaultsStoreError::saveFailed(path_.string(), folderError.message());
    }
    WriterLock writers(path_.string() + ".lock", sleep_);
    if (writers.error() != 0) {
        throw DefaultsStoreError::saveFailed(path_.string(), writers.reason());
    }
    const auto contents = read();
    nlohmann::json current = nlohmann::json::object();
    if (contents.document) {
        current = *contents.document;
    } else if (!contents.damage.empty()) {
        // A damaged file is moved aside, never overwritten, and what it held is not known: the change
        // goes onto the settings this store last read intact.
        if (!setAside(contents)) {
            throw DefaultsStoreError::saveFailed(path_.string(),
                                                 "the existing file is damaged and could not be moved aside");
        }
        current = values_;
    }
    auto updated = current;
    change(updated);
    if (updated != current || !contents.damage.empty()) {
        persist(updated, contents.file);
    }
    values_ = std::move(updated);
}

void JSONFileDefaultsStore::persist(const nlohmann::json& document,
                                    const std::filesystem::path& target) const {
    const std::string location = target.string();
    std::string text;
    try {
        text = document.dump(2) + "\n";
    } catch (const nlohmann::json::exception&) {
        throw DefaultsStoreError::saveFailed(location, "a value contains text that is not valid UTF-8");
    }

    const auto folder = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();

    std::string pattern = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
    OwnedDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!file.valid()) {
        throw DefaultsStoreError::saveFailed(location, errnoText(errno));
    }
    TemporaryFile temporary(pattern);
    if (::fchmod(file.get(), S_IRUSR | S_IWUSR) != 0) {
        throw DefaultsStoreError::saveFailed(location, errnoText(errno));
    }
    if (int error = writeAll(file.get(), text); error != 0) {
        throw DefaultsStoreError::saveFailed(location, errnoText(error));
    }
    if (int error = retryingFsync(file.get()); error != 0) {
        throw DefaultsStoreError::saveFailed(location, errnoText(error));
    }
    if (file.close() != 0) {
        throw DefaultsStoreError::saveFailed(location, errnoText(errno));
    }
    if (::rename(temporary.path().c_str(), location.c_str()) != 0) {
        throw DefaultsStoreError::saveFailed(location, errnoText(errno));
    }
    temporary.commit();

    // Make the rename itself durable. The new file is already in place, so a failure here is only logged.
    OwnedDescriptor directory(retryingOpen(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid() || retryingFsync(directory.get()) != 0) {
        logger.error("could not flush the folder of " + location + ": " + errnoText(errno));
    }
}

} // namespace quorvane
