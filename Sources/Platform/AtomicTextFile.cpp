#include "Platform/AtomicTextFile.hpp"

#include "Platform/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace quorvane {

namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

void AtomicTextFile::write(const std::filesystem::path& path, const std::string& contents) {
    std::error_code created;
    std::filesystem::create_directories(path.parent_path(), created);
    if (created) {
        fail(created.value(), "create " + path.parent_path().string());
    }
    const std::string temporary = path.string() + ".tmp-" + std::to_string(::getpid());
    FileDescriptor file(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!file) {
        fail(errno, "open " + temporary);
    }
    std::size_t written = 0;
    while (written < contents.size()) {
        const ssize_t count = ::write(file.get(), contents.data() + written, contents.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            fail(error, "write " + temporary);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(file.get()) != 0 || ::close(file.release()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error, "flush " + temporary);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error, "rename " + temporary);
    }
}

} // namespace quorvane
