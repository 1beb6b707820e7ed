#include "Platform/PeerCredentials.hpp"

#include <sys/socket.h>

namespace quorvane {

std::optional<PeerCredentials> PeerCredentials::of(int descriptor) {
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof(credentials)) {
        return std::nullopt;
    }
    return PeerCredentials{credentials.pid, credentials.uid, credentials.gid};
}

} // namespace quorvane
