#pragma once

#include <optional>
#include <sys/types.h>

namespace quorvane {

// Who is on the other end of a local stream socket, as the kernel recorded it at connect time.
struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;

    bool isRoot() const { return uid == 0; }

    // Nullopt when the descriptor is not a connected local socket.
    static std::optional<PeerCredentials> of(int descriptor);
};

} // namespace quorvane
