#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <sys/types.h>

namespace quorvane {

// Which file a path leads to and whether it changed: device and inode name the file, size and the
// modification and change times tell a rewrite (any write moves the change time).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedNanoseconds = 0;

    bool isSameFile(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;

    // Follows symbolic links (so /proc/<pid>/exe gives the file a process runs, even a deleted one).
    // Takes the attributes the file system has cached (statx with AT_STATX_DONT_SYNC). None when the
    // path cannot be examined.
    static std::optional<FileIdentity> of(const std::filesystem::path& path);
};

} // namespace quorvane
