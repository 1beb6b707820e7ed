#pragma once

#include "Client/TelemetrySnapshot.hpp"
#include "Platform/DaemonRegistration.hpp"
#include "Platform/Executor.hpp"
#include "SMC/SMCUserClient.hpp"

#include <exception>
#include <functional>
#include <memory>
#include <variant>

namespace quorvane {

// The app's own read-only view of the SMC: one snapshot per request, off the main thread. Its
// bridge cannot write, so even a programming error cannot drive a fan from the app process.
class TelemetryPoller {
public:
    using Result = std::variant<TelemetrySnapshot, std::exception_ptr>;
    using Completion = std::function<void(Result)>;

    // pollQueue runs every read, one at a time.
    TelemetryPoller(std::unique_ptr<SMCUserClient> transport, DaemonRegistration& registration,
                    Executor& pollQueue);
    ~TelemetryPoller();
    TelemetryPoller(const TelemetryPoller&) = delete;
    TelemetryPoller& operator=(const TelemetryPoller&) = delete;

    // Waits for a running read; throws the bridge's error.
    void open();
    void close();
    // Returns at once; the completion is called exactly once, on the poll queue.
    void read(Completion completion);

    HelperInstallState currentHelperState();

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace quorvane
