#include "Platform/InstanceLock.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Platform/AppInstanceError.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace quorvane {

std::filesystem::path InstanceLock::defaultPath(const UserDirectories& directories) {
    const std::string name = AppBundleIdentifier + ".lock";
    if (auto runtime = directories.runtimeDirectory()) {
        return *runtime / name;
    }
    return directories.configHome() / "quorvane" / name;
}

std::optional<InstanceLock> InstanceLock::take(const std::filesystem::path& file,
                                               std::optional<pid_t>& holder) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throw AppInstanceError("The instance lock " + file.string() + " could not be opened (" +
                               std::strerror(errno) + ").");
    }
    FileDescriptor descriptor(fd);
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (errno != EWOULDBLOCK) {
            throw AppInstanceError("The instance lock " + file.string() + " could not be taken (" +
                                   std::strerror(errno) + ").");
        }
        char text[32] = {};
        const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
        pid_t process = 0;
        if (length > 0 && std::from_chars(text, text + length, process).ec == std::errc() && process > 0) {
            holder = process;
        }
        return std::nullopt;
    }
    const std::string line = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, line.data(), line.size(), 0);
    }
    return InstanceLock(std::move(descriptor));
}

} // namespace quorvane
