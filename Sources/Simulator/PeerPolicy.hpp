#pragma once

#include "Platform/PeerCredentials.hpp"

#include <functional>

namespace quorvane {

// Who may do what over the simulated Mac's socket, judged once per connection from the peer's
// credentials. Anyone may read the SMC and the machine's status.
struct PeerPolicy {
    using Rule = std::function<bool(const PeerCredentials&)>;

    // SMC writes; refused ones answer the kernel's not-privileged code.
    Rule maySMCWrite;
    // Workload and fault changes.
    Rule mayControl;

    // As the kernel allows SMC writes: root only. The simulator's own user may control it too.
    static PeerPolicy standard();
};

} // namespace quorvane
