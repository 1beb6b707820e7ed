#include "Simulator/PeerPolicy.hpp"

#include <unistd.h>

namespace quorvane {

PeerPolicy PeerPolicy::standard() {
    const uid_t serverUser = ::geteuid();
    return PeerPolicy{
        [](const PeerCredentials& peer) { return peer.isRoot(); },
        [serverUser](const PeerCredentials& peer) { return peer.isRoot() || peer.uid == serverUser; },
    };
}

} // namespace quorvane
