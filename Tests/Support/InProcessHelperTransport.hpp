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

// A helper "process" for tests: hands out in-process connections to its engine, each with a
// HelperService of its own as the daemon gives each connection, and keeps every request that reached
// it. A request is handled as soon as it is sent; its answer travels by a task posted to `replies`, so
// the test decides when it arrives, and a connection that became invalid meanwhile delivers a
// connection error instead, as a real one would. Copies of the factory share the helper's state.
class InProcessHelper {
public:
    InProcessHelper(HelperControlEngine& engine, Executor& replies)
        : shared_(std::make_shared<Shared>(engine, replies)) {}

    HelperTransportFactory factory() const {
        return [shared = shared_]() -> std::unique_ptr<HelperTransport> {
            std::lock_guard lock(shared->mutex);
            auto channel = std::make_shared<Channel>(*shared->engine);
            if (!shared->reachable) {
                channel->failure = helperConnectionInvalid;
            }
            shared->channels.push_back(channel);
            return std::make_unique<Transport>(shared, std::move(channel));
        };
    }

    // The helper closes every open connection; each service ends the session it opened.
    void disconnectAll() { failAll(true); }
    // While unreachable (no helper runs), open connections break and new ones are born invalid.
    void setReachable(bool reachable) {
        if (!reachable) {
            failAll(false);
        }
        std::lock_guard lock(shared_->mutex);
        shared_->reachable = reachable;
    }
    // A helper of another build: changes its answers before they travel.
    void rewriteAnswers(std::function<void(const HelperRequest&, HelperResponse&)> rewrite) {
        std::lock_guard lock(shared_->mutex);
        shared_->rewrite = std::move(rewrite);
    }

    std::vector<HelperRequest> requests() const {
        std::lock_guard lock(shared_->mutex);
        return shared_->requests;
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
    struct Channel {
        explicit Channel(HelperControlEngine& engine) : service(engine) {}
        HelperService service;
        std::optional<long> failure; // set once the connection is invalid
        std::function<void()> invalidationHandler;
    };

    // Everything below is guarded by `mutex`; work for the replies executor is posted unlocked.
    struct Shared {
        Shared(HelperControlEngine& engine, Executor& replies) : engine(&engine), replies(replies) {}
        std::mutex mutex;
        HelperControlEngine* engine;
        Executor& replies;
        bool reachable = true;
        std::vector<std::shared_ptr<Channel>> channels;
        std::vector<HelperRequest> requests;
        std::function<void(const HelperRequest&, HelperResponse&)> rewrite;

        // Ends the connection with `code`; `helperNotices` runs the service's disconnect path.
        void fail(Channel& channel, long code, bool helperNotices) {
            std::function<void()> handler;
            {
                std::lock_guard lock(mutex);
                if (channel.failure) {
                    return;
                }
                channel.failure = code;
                if (helperNotices) {
                    channel.service.connectionInvalidated();
                }
                handler = std::move(channel.invalidationHandler);
            }
            if (handler) {
                replies.post(std::move(handler));
            }
        }
    };

    class Transport final : public HelperTransport {
    public:
        Transport(std::shared_ptr<Shared> shared, std::shared_ptr<Channel> channel)
            : shared_(std::move(shared)), channel_(std::move(channel)) {}
        // Like a process dropping its end of a socket: the helper ends the connection's session.
        ~Transport() override { invalidate(); }

        void setInvalidationHandler(std::function<void()> handler) override {
            {
                std::lock_guard lock(shared_->mutex);
                if (!channel_->failure) {
                    channel_->invalidationHandler = std::move(handler);
                    return;
                }
            }
            shared_->replies.post(std::move(handler));
        }

        void send(HelperRequest request, ResponseHandler onResponse,
                  ConnectionErrorHandler onError) override {
            std::optional<HelperResponse> response;
            {
                std::lock_guard lock(shared_->mutex);
                if (!channel_->failure) {
                    shared_->requests.push_back(request);
                    response = channel_->service.handle(request);
                    if (shared_->rewrite) {
                        shared_->rewrite(request, *response);
                    }
                }
            }
            shared_->replies.post([shared = shared_, channel = channel_, response = std::move(response),
                                   onResponse = std::move(onResponse), onError = std::move(onError)] {
                std::unique_lock lock(shared->mutex);
                const auto failure = channel->failure;
                lock.unlock();
                if (failure || !response) {
                    onError(helperConnectionError(failure.value_or(helperConnectionInvalid)));
                } else {
                    onResponse(*response);
                }
            });
        }

        void invalidate() override { shared_->fail(*channel_, helperConnectionInvalid, true); }

    private:
        std::shared_ptr<Shared> shared_;
        std::shared_ptr<Channel> channel_;
    };

    void failAll(bool helperNotices) {
        std::vector<std::shared_ptr<Channel>> channels;
        {
            std::lock_guard lock(shared_->mutex);
            channels = shared_->channels;
        }
        for (const auto& channel : channels) {
            shared_->fail(*channel, helperConnectionInterrupted, helperNotices);
        }
    }

    std::shared_ptr<Shared> shared_;
};

} // namespace quorvane::testing
