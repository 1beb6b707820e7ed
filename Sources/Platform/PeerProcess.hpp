#pragma once

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileIdentity.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace quorvane {

// The process at the other end of a local stream socket, as it was when it was first examined: its
// pid, a pidfd where the kernel gives one (SO_PEERPIDFD, else pidfd_open), its start time and the
// file it runs. isUnchanged() tells whether that is still so, so a connection whose process has
// exited, or has exec'd another program, can be told from the one that was admitted.
class PeerProcess {
public:
    // Nullopt when the descriptor is no connected local socket or the process is gone already.
    static std::optional<PeerProcess> ofSocket(int descriptor,
                                               const std::filesystem::path& procRoot = "/proc");
    // A process known by its pid and, when there is one, its pidfd (which then must refer to it).
    static std::optional<PeerProcess> ofProcess(pid_t pid, uid_t uid, FileDescriptor pidfd,
                                                const std::filesystem::path& procRoot = "/proc");

    // A pidfd for the process with this pid; empty where the kernel has none.
    static FileDescriptor openPidfd(pid_t pid);

    // SO_PEERPIDFD: 0 and the pidfd, or -errno.
    using PidfdQuery = int (*)(int socket, int* pidfd);
    static int querySocketPidfd(int socket, int* pidfd);
    // The pidfd of the socket's peer, opened by pid only where the kernel lacks SO_PEERPIDFD (empty
    // where it has no pidfds at all); none when the peer is gone.
    static std::optional<FileDescriptor> peerPidfd(int socket, pid_t pid,
                                                   PidfdQuery query = querySocketPidfd);

    pid_t pid() const { return pid_; }
    uid_t uid() const { return uid_; }
    bool hasPidfd() const { return static_cast<bool>(pidfd_); }
    // The pidfd's descriptor, -1 without one.
    int pidfd() const { return pidfd_.get(); }
    // The executable's file name as the kernel reports it (" (deleted)" appended once it is replaced).
    const std::string& executableName() const { return executableName_; }
    const FileIdentity& executable() const { return executable_; }
    std::uint64_t startTime() const { return startTime_; }
    // Opens the very file the process runs, even after the path it came from was replaced.
    std::filesystem::path executablePath() const;

    // Still alive, with the start time and the executable it had when examined.
    bool isUnchanged() const;

private:
    PeerProcess(pid_t pid, uid_t uid, FileDescriptor pidfd, std::filesystem::path procRoot)
        : pid_(pid), uid_(uid), pidfd_(std::move(pidfd)), procRoot_(std::move(procRoot)) {}

    std::filesystem::path procEntry() const { return procRoot_ / std::to_string(pid_); }
    std::optional<std::uint64_t> readStartTime() const;
    bool hasExited() const;

    pid_t pid_;
    uid_t uid_;
    FileDescriptor pidfd_;
    std::filesystem::path procRoot_;
    std::string executableName_;
    FileIdentity executable_;
    std::uint64_t startTime_ = 0;
};

} // namespace quorvane
