#pragma once

#include "Client/HelperInstallState.hpp"
#include "Client/HelperTransport.hpp"
#include "Platform/DaemonRegistration.hpp"
#include "Platform/Executor.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace quorvane {

// The app's only door to the privileged helper: the connection, the current control session, and
// the heartbeat that keeps the helper's lease alive. Every helper error is turned into a user
// sentence before it is handed on.
//
// Completions run on transport threads unless stated; the session-error handler runs on the main
// executor. Callers may call from any thread.
class HelperClient {
public:
    using ReplyCompletion =
        std::function<void(std::optional<nlohmann::json> reply, std::optional<XPCError> error)>;
    using ErrorCompletion = std::function<void(std::optional<XPCError> error)>;
    using SessionErrorHandler = std::function<void(const XPCError& error)>;

    // heartbeatQueue runs the 4-second heartbeat timer; mainQueue receives session-loss reports.
    HelperClient(HelperTransportFactory connect, DaemonRegistration& registration,
                 MainExecutor& heartbeatQueue, Executor& mainQueue);
    ~HelperClient();
    HelperClient(const HelperClient&) = delete;
    HelperClient& operator=(const HelperClient&) = delete;

    // The last known registration state; cheap enough for every poll.
    HelperInstallState installState();
    // Registers the daemon without waiting for the system (or the person it asks); the completion
    // receives the system's error, on any thread.
    void install(ErrorCompletion completion);
    void uninstall(ErrorCompletion completion);

    void beginSession(ReplyCompletion completion);
    void setMode(int fan, bool manual, ReplyCompletion completion);
    void setTarget(int fan, std::int64_t rpm, ReplyCompletion completion);
    void resetAll(ReplyCompletion completion);
    void endSession(ErrorCompletion completion = [](std::optional<XPCError>) {});
    void invalidate();

    std::optional<std::string> sessionID() const;
    void setSessionErrorHandler(SessionErrorHandler handler);
    // Told true when a session is stored and false when it is given up (before the helper answers the
    // end), on the thread that made the change; the platform keeps the machine from sleeping in
    // between. Set once, before the first session.
    void setControlActivityHandler(std::function<void(bool active)> handler);

    // The error of a write attempted without a session.
    static XPCError noSessionError();
    static constexpr const char* clientErrorDomain = "Quorvane.HelperClient.ClientError";
    // The domain of a failed unregistration reported to uninstall's completion.
    static constexpr const char* registrationErrorDomain = "Quorvane.DaemonRegistration";

private:
    // A write of the current session; without one it fails at once and sends nothing.
    void sendSessionWrite(HelperRequest request, ReplyCompletion completion);

    struct State;
    std::shared_ptr<State> state_;
};

} // namespace quorvane
