#include "Platform/FileIdentity.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace quorvane {

namespace {

std::int64_t nanoseconds(const statx_timestamp& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

std::optional<FileIdentity> FileIdentity::of(const std::filesystem::path& path) {
    // Whatever the file system has at hand: a network or FUSE mount is not asked to revalidate,
    // so a peer whose executable lies on a hung one does not stall the check here.
    struct statx status {};
    constexpr unsigned wanted = STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;
    if (::statx(AT_FDCWD, path.c_str(), AT_STATX_DONT_SYNC, wanted, &status) != 0 ||
        (status.stx_mask & wanted) != wanted) {
        return std::nullopt;
    }
    return FileIdentity{makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino,
                        static_cast<off_t>(status.stx_size), nanoseconds(status.stx_mtime),
                        nanoseconds(status.stx_ctime)};
}

} // namespace quorvane
