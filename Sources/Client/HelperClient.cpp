#include "Client/HelperClient.hpp"

#include "Client/HelperConnectionError.hpp"
#include "Helpers/UUID.hpp"
#include "XPC/FanControlXPC.hpp"
#include "XPC/HelperXPCError.hpp"

#include <atomic>
#include <system_error>
#include <utility>

namespace quorvane {

namespace {

std::optional<XPCError> readableError(const std::optional<XPCError>& error) {
    if (!error) {
        return std::nullopt;
    }
    return HelperXPCError::readable(*error);
}

// The system's registration failure as the completion carries it.
XPCError registrationError(std::exception_ptr failure) {
    try {
        std::rethrow_exception(std::move(failure));
    } catch (const XPCError& error) {
        return error;
    } catch (const std::system_error& error) {
        return XPCError(HelperClient::registrationErrorDomain, error.code().value(), error.what());
    } catch (const std::exception& error) {
        return XPCError(HelperClient::registrationErrorDomain, 1, error.what());
    } catch (...) {
        return XPCError(HelperClient::registrationErrorDomain, 1);
    }
}

} // namespace

// Lock order: heartbeatLock, then stateLock; never the reverse while holding both. Nothing calls
// out (transport, completions, executors' tasks) while holding stateLock.
struct HelperClient::State : std::enable_shared_from_this<State> {
    State(HelperTransportFactory connect, DaemonRegistration& registration, MainExecutor& heartbeatQueue,
          Executor& mainQueue)
        : connect(std::move(connect)), registration(registration), heartbeatQueue(heartbeatQueue),
          mainQueue(mainQueue) {}

    HelperTransportFactory connect;
    DaemonRegistration& registration;
    MainExecutor& heartbeatQueue;
    Executor& mainQueue;
    std::atomic<std::uint64_t> nextRequestID{1};

    mutable std::mutex stateLock;
    std::shared_ptr<HelperTransport> connection;
    // Tells a late invalidation of an old connection from one of the current connection.
    std::uint64_t connectionGeneration = 0;
    std::optional<std::string> sessionID;
    SessionErrorHandler sessionErrorHandler;

    std::mutex heartbeatLock;
    std::optional<MainExecutor::TimerID> heartbeatTimer;
    int consecutiveHeartbeatFailures = 0;

    // Reports whether a session is held, from the state itself, so that a begin answered on one
    // thread and an end on another cannot leave the report behind.
    std::mutex activityLock;
    std::function<void(bool)> activityHandler;
    bool activityReported = false;

    void syncControlActivity() {
        std::lock_guard activity(activityLock);
        const bool active = storedSession().has_value();
        if (activityHandler && active != activityReported) {
            activityReported = active;
            activityHandler(active);
        }
    }

    std::optional<std::string> storedSession() const {
        std::lock_guard lock(stateLock);
        return sessionID;
    }

    std::optional<std::string> takeSession() {
        std::lock_guard lock(stateLock);
        return std::exchange(sessionID, std::nullopt);
    }

    std::shared_ptr<HelperTransport> proxy() {
        std::lock_guard lock(stateLock);
        if (connection) {
            return connection;
        }
        auto made = connect ? connect() : nullptr;
        if (!made) {
            return nullptr;
        }
        const std::uint64_t generation = ++connectionGeneration;
        made->setInvalidationHandler([weak = weak_from_this(), generation] {
            if (auto state = weak.lock()) {
                state->handleInvalidation(generation);
            }
        });
        connection = std::move(made);
        return connection;
    }

    // The session stays stored: a helper that restarted answers the next heartbeat with an invalid
    // session, and the loss is reported from there.
    void handleInvalidation(std::uint64_t generation) {
        std::shared_ptr<HelperTransport> forgotten; // let go of outside the lock
        {
            std::lock_guard lock(stateLock);
            if (generation == connectionGeneration) {
                forgotten = std::move(connection);
            }
        }
    }

    // Every completion is called exactly once: with no connection to be had, as a connection error.
    void send(HelperRequest request, HelperTransport::ResponseHandler onResponse,
              HelperTransport::ConnectionErrorHandler onError) {
        auto transport = proxy();
        if (!transport) {
            onError(
                helperConnectionError(helperConnectionInvalid, "no connection to the helper could be made"));
            return;
        }
        request.id = nextRequestID++;
        transport->send(std::move(request), std::move(onResponse), std::move(onError));
    }

    void startHeartbeat(const std::string& id) {
        std::lock_guard heartbeat(heartbeatLock);
        if (storedSession() != id) {
            return;
        }
        if (heartbeatTimer) {
            heartbeatQueue.cancel(*heartbeatTimer);
        }
        consecutiveHeartbeatFailures = 0;
        const auto period = static_cast<std::int64_t>(FanControlXPC::heartbeatSeconds * 1000);
        heartbeatTimer = heartbeatQueue.scheduleRepeating(period, [weak = weak_from_this()] {
            if (auto state = weak.lock()) {
                state->heartbeatTick();
            }
        });
    }

    void stopHeartbeat() {
        std::lock_guard heartbeat(heartbeatLock);
        if (heartbeatTimer) {
            heartbeatQueue.cancel(*heartbeatTimer);
            heartbeatTimer.reset();
        }
    }

    void heartbeatTick() {
        const auto id = storedSession();
        if (!id) {
            return;
        }
        HelperRequest request;
        request.selector = HelperSelector::heartbeat;
        request.sessionID = *id;
        send(
            std::move(request),
            [weak = weak_from_this(), id = *id](const HelperResponse& response) {
                if (auto state = weak.lock()) {
                    state->heartbeatAnswered(id, readableError(response.error));
                }
            },
            [weak = weak_from_this(), id = *id](const XPCError& error) {
                if (auto state = weak.lock()) {
                    state->heartbeatAnswered(id, error);
                }
            });
    }

    void heartbeatAnswered(const std::string& sent, const std::optional<XPCError>& error) {
        std::lock_guard heartbeat(heartbeatLock);
        if (!error) {
            consecutiveHeartbeatFailures = 0;
            return;
        }
        ++consecutiveHeartbeatFailures;
        if (!HelperXPCError::isInvalidSession(*error) && consecutiveHeartbeatFailures < 2) {
            return;
        }
        SessionErrorHandler handler;
        {
            std::lock_guard lock(stateLock);
            if (sessionID != sent) {
                return;
            }
            handler = sessionErrorHandler;
        }
        if (handler) {
            mainQueue.post([handler = std::move(handler), error = *error] { handler(error); });
        }
    }

    void prepareForUninstall(ErrorCompletion completion) {
        HelperRequest request;
        request.selector = HelperSelector::prepareForUninstall;
        send(
            std::move(request),
            [weak = weak_from_this(), completion](const HelperResponse& response) {
                if (response.error) {
                    completion(*response.error);
                    return;
                }
                if (auto state = weak.lock()) {
                    state->registration.unregisterDaemon([completion](std::exception_ptr failure) {
                        completion(failure ? std::optional(registrationError(std::move(failure)))
                                           : std::nullopt);
                    });
                }
            },
            [completion](const XPCError& error) { completion(error); });
    }
};

HelperClient::HelperClient(HelperTransportFactory connect, DaemonRegistration& registration,
                           MainExecutor& heartbeatQueue, Executor& mainQueue)
    : state_(std::make_shared<State>(std::move(connect), registration, heartbeatQueue, mainQueue)) {}

HelperClient::~HelperClient() {
    {
        // Answers still in flight may outlive the client; what it reported to must not hear of them.
        std::lock_guard activity(state_->activityLock);
        state_->activityHandler = nullptr;
    }
    state_->stopHeartbeat();
    std::shared_ptr<HelperTransport> connection;
    {
        std::lock_guard lock(state_->stateLock);
        connection = std::move(state_->connection);
    }
    if (connection) {
        connection->invalidate();
    }
}

HelperInstallState HelperClient::installState() {
    return helperInstallStateFromStatus(state_->registration.status());
}

void HelperClient::install(ErrorCompletion completion) {
    state_->registration.registerDaemon([completion = std::move(completion)](std::exception_ptr failure) {
        completion(failure ? std::optional(registrationError(std::move(failure))) : std::nullopt);
    });
}

void HelperClient::uninstall(ErrorCompletion completion) {
    const auto id = state_->takeSession();
    if (!id) {
        state_->prepareForUninstall(std::move(completion));
        return;
    }
    state_->stopHeartbeat();
    state_->syncControlActivity();
    HelperRequest request;
    request.selector = HelperSelector::endSession;
    request.sessionID = *id;
    state_->send(
        std::move(request),
        [weak = std::weak_ptr<State>(state_), completion](const HelperResponse& response) {
            if (response.error) {
                completion(HelperXPCError::readable(*response.error));
                return;
            }
            if (auto state = weak.lock()) {
                state->prepareForUninstall(completion);
            }
        },
        [completion](const XPCError& error) { completion(HelperXPCError::readable(error)); });
}

void HelperClient::beginSession(ReplyCompletion completion) {
    const std::string id = UUID::generate().uuidString();
    HelperRequest request;
    request.selector = HelperSelector::beginSession;
    request.sessionID = id;
    state_->send(
        std::move(request),
        [weak = std::weak_ptr<State>(state_), id, completion](const HelperResponse& response) {
            if (response.error) {
                completion(response.reply, HelperXPCError::readable(*response.error));
                return;
            }
            if (auto state = weak.lock()) {
                {
                    std::lock_guard lock(state->stateLock);
                    state->sessionID = id;
                }
                state->syncControlActivity();
                state->startHeartbeat(id);
            }
            completion(response.reply, std::nullopt);
        },
        [completion](const XPCError& error) { completion(std::nullopt, error); });
}

void HelperClient::sendSessionWrite(HelperRequest request, ReplyCompletion completion) {
    const auto id = state_->storedSession();
    if (!id) {
        completion(std::nullopt, noSessionError());
        return;
    }
    request.sessionID = *id;
    state_->send(
        std::move(request),
        [completion](const HelperResponse& response) {
            completion(response.reply, readableError(response.error));
        },
        [completion](const XPCError& error) { completion(std::nullopt, error); });
}

void HelperClient::setMode(int fan, bool manual, ReplyCompletion completion) {
    HelperRequest request;
    request.selector = HelperSelector::setFanMode;
    request.fanIndex = fan;
    request.manual = manual;
    sendSessionWrite(std::move(request), std::move(completion));
}

void HelperClient::setTarget(int fan, std::int64_t rpm, ReplyCompletion completion) {
    HelperRequest request;
    request.selector = HelperSelector::setFanTargetRPM;
    request.fanIndex = fan;
    request.rpm = rpm;
    sendSessionWrite(std::move(request), std::move(completion));
}

void HelperClient::resetAll(ReplyCompletion completion) {
    const auto id = state_->storedSession();
    if (!id) {
        completion(std::nullopt, std::nullopt);
        return;
    }
    HelperRequest request;
    request.selector = HelperSelector::resetAll;
    request.sessionID = *id;
    state_->send(
        std::move(request),
        [completion](const HelperResponse& response) {
            completion(response.reply, readableError(response.error));
        },
        [completion](const XPCError& error) { completion(std::nullopt, error); });
}

void HelperClient::endSession(ErrorCompletion completion) {
    const auto id = state_->takeSession();
    if (!id) {
        completion(std::nullopt);
        return;
    }
    state_->stopHeartbeat();
    state_->syncControlActivity();
    HelperRequest request;
    request.selector = HelperSelector::endSession;
    request.sessionID = *id;
    state_->send(
        std::move(request),
        [completion](const HelperResponse& response) { completion(readableError(response.error)); },
        [completion](const XPCError& error) { completion(HelperXPCError::readable(error)); });
}

void HelperClient::invalidate() {
    std::shared_ptr<HelperTransport> connection;
    {
        std::lock_guard lock(state_->stateLock);
        connection = std::move(state_->connection);
        state_->sessionID.reset();
    }
    state_->stopHeartbeat();
    state_->syncControlActivity();
    if (connection) {
        connection->invalidate();
    }
}

std::optional<std::string> HelperClient::sessionID() const {
    return state_->storedSession();
}

void HelperClient::setSessionErrorHandler(SessionErrorHandler handler) {
    std::lock_guard lock(state_->stateLock);
    state_->sessionErrorHandler = std::move(handler);
}

void HelperClient::setControlActivityHandler(std::function<void(bool active)> handler) {
    std::lock_guard activity(state_->activityLock);
    state_->activityHandler = std::move(handler);
}

XPCError HelperClient::noSessionError() {
    return XPCError(clientErrorDomain, 0, std::string("No privileged fan-control session is active"));
}

} // namespace quorvane
