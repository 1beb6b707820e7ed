#pragma once

#include "Helpers/Clock.hpp"
#include "Platform/FileDescriptor.hpp"

#include <chrono>
#include <functional>
#include <memory>

namespace quorvane {

// Connections waiting for their peer to be checked, and the threads that check them. A check can
// stall for ever (an executable on a hung mount never answers), so nothing here waits for one: a
// connection still queued at its deadline is dropped, and close() returns at once, leaving a stalled
// thread to finish on its own and throw its verdict away.
class PeerCheckQueue {
public:
    // What a check decided, run only while the queue is open and never two at once.
    using Verdict = std::function<void()>;
    // The slow part: examines the peer at the other end of the connection, which it takes over. It
    // runs on a checking thread and may outlive the queue's owner, so it must hold what it uses.
    using Check = std::function<Verdict(FileDescriptor connection)>;

    // `dropped` runs (serialised like verdicts) for each connection dropped at its deadline.
    PeerCheckQueue(int threads, Clock& clock, std::chrono::milliseconds deadline, Check check,
                   std::function<void()> dropped);
    ~PeerCheckQueue();
    PeerCheckQueue(const PeerCheckQueue&) = delete;
    PeerCheckQueue& operator=(const PeerCheckQueue&) = delete;

    void submit(FileDescriptor connection);
    // Drops the queued connections whose deadline has passed; checking threads do so as they go.
    void dropExpired();
    // No verdict runs once this returns; queued connections are closed unchecked.
    void close();

private:
    struct State;
    static void work(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
};

} // namespace quorvane
