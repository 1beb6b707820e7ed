#include "Platform/PeerProcess.hpp"

#include <cerrno>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quorvane {

namespace {

// Linux 6.5 and later; older kernels answer ENOPROTOOPT.
constexpr int peerPidfdOption = 77;

} // namespace

int PeerProcess::querySocketPidfd(int socket, int* pidfd) {
    socklen_t length = sizeof *pidfd;
    return ::getsockopt(socket, SOL_SOCKET, peerPidfdOption, pidfd, &length) == 0 ? 0 : -errno;
}

// Only a kernel without SO_PEERPIDFD sends us to the pid: then it may have been reused since the
// connect, and the start time recorded after this and the executable check still tie what is
// admitted to what is examined. Any other failure means the peer is gone (a reaped peer on 6.5 to
// 6.15 answers EINVAL), and its pid may already be someone else's.
std::optional<FileDescriptor> PeerProcess::peerPidfd(int socket, pid_t pid, PidfdQuery query) {
    int pidfd = -1;
    const int result = query(socket, &pidfd);
    if (result == 0 && pidfd >= 0) {
        return FileDescriptor(pidfd);
    }
    if (result == -ENOPROTOOPT) {
        return openPidfd(pid);
    }
    return std::nullopt;
}

std::optional<PeerProcess> PeerProcess::ofSocket(int descriptor, const std::filesystem::path& procRoot) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials || credentials.pid <= 0) {
        return std::nullopt;
    }
    auto pidfd = peerPidfd(descriptor, credentials.pid);
    if (!pidfd) {
        return std::nullopt;
    }
    return ofProcess(credentials.pid, credentials.uid, std::move(*pidfd), procRoot);
}

std::optional<PeerProcess> PeerProcess::ofProcess(pid_t pid, uid_t uid, FileDescriptor pidfd,
                                                  const std::filesystem::path& procRoot) {
    PeerProcess peer(pid, uid, std::move(pidfd), procRoot);
    const auto started = peer.readStartTime();
    const auto executable = FileIdentity::of(peer.executablePath());
    std::error_code error;
    const auto target = std::filesystem::read_symlink(peer.executablePath(), error);
    // Read first, then make sure the pidfd's process was alive all along: what was read is its own.
    if (!started || !executable || error || peer.hasExited()) {
        return std::nullopt;
    }
    peer.startTime_ = *started;
    peer.executable_ = *executable;
    peer.executableName_ = target.filename().string();
    return peer;
}

// Through syscall(): glibc's declaration of pidfd_open does not link from C++ before 2.37.
FileDescriptor PeerProcess::openPidfd(pid_t pid) {
    return FileDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

std::filesystem::path PeerProcess::executablePath() const {
    return procEntry() / "exe";
}

bool PeerProcess::isUnchanged() const {
    if (hasExited()) {
        return false;
    }
    const auto started = readStartTime();
    const auto executable = FileIdentity::of(executablePath());
    return started == startTime_ && executable && executable->isSameFile(executable_) && !hasExited();
}

// Field 22 of /proc/<pid>/stat, counted after the command name, which may hold spaces and ')'.
std::optional<std::uint64_t> PeerProcess::readStartTime() const {
    std::ifstream file(procEntry() / "stat");
    std::string line;
    if (!std::getline(file, line)) {
        return std::nullopt;
    }
    const auto nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(line.substr(nameEnd + 1));
    std::string field;
    for (int index = 3; index < 22 && fields >> field; ++index) {
    }
    std::uint64_t startTime = 0;
    if (!(fields >> startTime)) {
        return std::nullopt;
    }
    return startTime;
}

bool PeerProcess::hasExited() const {
    if (!pidfd_) {
        return false;
    }
    pollfd watch{pidfd_.get(), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&watch, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
}

} // namespace quorvane
