#pragma once

#include "Client/HelperConnectionError.hpp"
#include "Client/HelperTransport.hpp"
#include "Platform/Executor.hpp"
#include "PrivilegedHelper/HelperService.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quorvane::testing {

// One in-process connection to a helper engine, with a HelperService of its own as the daemon gives
// each connection. The helper handles a request as soon as it is sent; the answer travels by a task
// posted to the replies executor, so the test decides when it arrives. A connection that became
// invalid before the answer is delivered delivers a connection error instead, as a real one would.
class InProcessHelperTransport final : public HelperTransport {
public:
    // What the connection shares with the test's helper (below).
    struct Channel {
        // Every request that reached the helper, over all its connections.
        struct Log {
            std::mutex mutex;
            std::vector<HelperRequest> requests;
            // A helper of another build: changes its answers before they travel.
            std::function<void(const HelperRequest&, HelperResponse&)> rewrite;
        };

        Channel(HelperControlEngine& engine, Executor& replies, std::shared_ptr<Log> log)
            : service(engine), replies(replies), log(std::move(log)) {}

        std::mutex mutex;
        HelperService service;
        Executor& replies;
        std::shared_ptr<Log> log;
        std::optional<long> failure; // set once the connection is invalid
        std::function<void()> invalidationHandler;

        // Ends the connection with `code`; `helperNotices` runs the service's disconnect path.
        void fail(long code, bool helperNotices) {
            std::function<void()> handler;
            {
                std::lock_guard lock(mutex);
                if (failure) {
                    return;
                }
                failure = code;
                if (helperNotices) {
                    service.connectionInvalidated();
                }
                handler = std::move(invalidationHandler);
            }
            if (handler) {
                replies.post(std::move(handler));
            }
        }
    };

    explicit InProcessHelperTransport(std::shared_ptr<Channel> channel) : channel_(std::move(channel)) {}
    // Like a process dropping its end of a socket: the helper ends the connection's session.
    ~InProcessHelperTransport() override { invalidate(); }

    void setInvalidationHandler(std::function<void()> handler) override {
        {
            std::lock_guard lock(channel_->mutex);
            if (!channel_->failure) {
                channel_->invalidationHandler = std::move(handler);
                return;
            }
        }
        channel_->replies.post(std::move(handler));
    }

    void send(HelperRequest request, ResponseHandler onResponse, ConnectionErrorHandler onError) override {
        std::optional<HelperResponse> response;
        {
            std::lock_guard lock(channel_->mutex);
            if (!channel_->failure) {
                {
                    std::lock_guard logged(channel_->log->mutex);
                    channel_->log->requests.push_back(request);
                }
                response = channel_->service.handle(request);
                std::lock_guard logged(channel_->log->mutex);
                if (channel_->log->rewrite) {
                    channel_->log->rewrite(request, *response);
                }
            }
        }
        channel_->replies.post([channel = channel_, response = std::move(response),
                                onResponse = std::move(onResponse), onError = std::move(onError)] {
            std::optional<long> failure;
            {
                std::lock_guard lock(channel->mutex);
                failure = channel->failure;
            }
            if (failure || !response) {
                onError(helperConnectionError(failure.value_or(helperConnectionInvalid)));
            } else {
                onResponse(*response);
            }
        });
    }

    void invalidate() override { channel_->fail(helperConnectionInvalid, true); }

private:
    std::shared_ptr<Channel> channel_;
};

// A helper "process" for tests: hands out in-process connections to its current engine and keeps
// every request that reached it. Copies of its factory share its state.
class InProcessHelper {
public:
    InProcessHelper(HelperControlEngine& engine, Executor& replies)
        : shared_(std::make_shared<Shared>(engine, replies)) {}

    HelperTransportFactory factory() const {
        return [shared = shared_]() -> std::unique_ptr<HelperTransport> {
            std::lock_guard lock(shared->mutex);
            auto channel = std::make_shared<InProcessHelperTransport::Channel>(*shared->engine,
                                                                               shared->replies, shared->log);
            if (!shared->reachable) {
                channel->failure = helperConnectionInvalid;
            }
            shared->channels.push_back(channel);
            return std::make_unique<InProcessHelperTransport>(std::move(channel));
        };
    }

    // The helper closes every open connection; each service ends the session it opened.
    void disconnectAll() { failAll(true); }
    // Open connections break without the helper noticing (its sessions stay active).
    void dropConnections() { failAll(false); }
    // While unreachable (no helper runs), open connections break and new ones are born invalid.
    void setReachable(bool reachable) {
        if (!reachable) {
            dropConnections();
        }
        std::lock_guard lock(shared_->mutex);
        shared_->reachable = reachable;
    }
    // The helper process died and a new one runs `engine`: open connections break without the old
    // engine hearing of it (it may already be gone), and new connections reach the new one.
    void restart(HelperControlEngine& engine) {
        dropConnections();
        std::lock_guard lock(shared_->mutex);
        shared_->engine = &engine;
    }

    void rewriteAnswers(std::function<void(const HelperRequest&, HelperResponse&)> rewrite) {
        std::lock_guard lock(shared_->log->mutex);
        shared_->log->rewrite = std::move(rewrite);
    }

    std::vector<HelperRequest> requests() const {
        std::lock_guard lock(shared_->log->mutex);
        return shared_->log->requests;
    }
    std::vector<HelperSelector> selectors() const {
        std::vector<HelperSelector> result;
        for (const auto& request : requests()) {
            result.push_back(request.selector);
        }
        return result;
    }
    int connectionCount() const {
        std::lock_guard lock(shared_->mutex);
        return static_cast<int>(shared_->channels.size());
    }

private:
    struct Shared {
        Shared(HelperControlEngine& engine, Executor& replies) : engine(&engine), replies(replies) {}
        std::mutex mutex;
        HelperControlEngine* engine;
        Executor& replies;
        bool reachable = true;
        std::shared_ptr<InProcessHelperTransport::Channel::Log> log =
            std::make_shared<InProcessHelperTransport::Channel::Log>();
        std::vector<std::shared_ptr<InProcessHelperTransport::Channel>> channels;
    };

    void failAll(bool helperNotices) {
        std::vector<std::shared_ptr<InProcessHelperTransport::Channel>> channels;
        {
            std::lock_guard lock(shared_->mutex);
            channels = shared_->channels;
        }
        for (const auto& channel : channels) {
            channel->fail(helperConnectionInterrupted, helperNotices);
        }
    }

    std::shared_ptr<Shared> shared_;
};

} // namespace quorvane::testing
