#include "PrivilegedHelper/PeerCheckQueue.hpp"

#include "Platform/SignalFreeThread.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace quorvane {

struct PeerCheckQueue::State {
    State(Clock& clock, std::chrono::milliseconds deadline, Check check, std::function<void()> dropped)
        : clock(clock), deadline(deadline), check(std::move(check)), dropped(std::move(dropped)) {}

    struct Waiting {
        std::int64_t deadline;
        FileDescriptor connection;
    };

    // Under the mutex.
    void dropExpired() {
        const auto now = clock.nowMilliseconds();
        while (!waiting.empty() && waiting.front().deadline <= now) {
            waiting.pop_front();
            dropped();
        }
    }

    Clock& clock;
    const std::chrono::milliseconds deadline;
    const Check check;
    const std::function<void()> dropped;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Waiting> waiting;
    bool closed = false;
};

PeerCheckQueue::PeerCheckQueue(int threads, Clock& clock, std::chrono::milliseconds deadline, Check check,
                               std::function<void()> dropped)
    : state_(std::make_shared<State>(clock, deadline, std::move(check), std::move(dropped))) {
    for (int i = 0; i < threads; ++i) {
        // Each thread holds the state, so one that stalls in a check may outlive this queue.
        startSignalFreeThread([state = state_] { work(state); }).detach();
    }
}

PeerCheckQueue::~PeerCheckQueue() {
    close();
}

void PeerCheckQueue::submit(FileDescriptor connection) {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) {
        return;
    }
    state_->waiting.push_back(
        {state_->clock.nowMilliseconds() + state_->deadline.count(), std::move(connection)});
    state_->ready.notify_one();
}

void PeerCheckQueue::dropExpired() {
    std::lock_guard lock(state_->mutex);
    if (!state_->closed) {
        state_->dropExpired();
    }
}

void PeerCheckQueue::close() {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->waiting.clear();
    state_->ready.notify_all();
}

void PeerCheckQueue::work(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    while (true) {
        state->ready.wait(lock, [&] { return state->closed || !state->waiting.empty(); });
        if (state->closed) {
            return;
        }
        state->dropExpired();
        if (state->waiting.empty()) {
            continue;
        }
        auto connection = std::move(state->waiting.front().connection);
        state->waiting.pop_front();
        lock.unlock();
        auto verdict = state->check(std::move(connection));
        lock.lock();
        if (state->closed) {
            return;
        }
        if (verdict) {
            verdict();
        }
    }
}

} // namespace quorvane
