#pragma once

#include "Platform/FileDescriptor.hpp"
#include "Platform/UserDirectories.hpp"

#include <filesystem>
#include <optional>
#include <sys/types.h>

namespace quorvane {

// One running app per user where no session bus can tell: an exclusive lock on a file that names
// the holder's process. The lock goes with the process, however it ends.
class InstanceLock {
public:
    // $XDG_RUNTIME_DIR/com.orvalith.quorvane.lock, else quorvane/com.orvalith.quorvane.lock in the
    // configuration folder.
    static std::filesystem::path defaultPath(const UserDirectories& directories = UserDirectories());

    // The lock, or absent while another process holds it; `holder` then names that process when
    // known. Throws AppInstanceError when the file cannot be made at all.
    static std::optional<InstanceLock> take(const std::filesystem::path& file, std::optional<pid_t>& holder);

private:
    explicit InstanceLock(FileDescriptor file) : file_(std::move(file)) {}

    FileDescriptor file_;
};

} // namespace quorvane
