#pragma once

namespace quorvane {

class PeerProcess;

// Whether the person behind a client process may drive the fans of this shared machine. Asked off
// the accept path; may wait on the system bus.
class ControlAuthorization {
public:
    virtual ~ControlAuthorization() = default;
    virtual bool mayControl(const PeerProcess& peer) = 0;
};

} // namespace quorvane
