#include "Client/TelemetryPoller.hpp"

#include "Helpers/SensorReader.hpp"
#include "SMC/FanController.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "SMC/SMCError.hpp"

#include <mutex>

namespace quorvane {

// smcMutex is what makes the poll queue the only door to the SMC: reads run on the queue holding it,
// and open/close take it on the caller's thread, so they wait for a running read.
struct TelemetryPoller::State {
    State(std::unique_ptr<SMCUserClient> transport, DaemonRegistration& registration, Executor& pollQueue)
        : registration(registration), queue(pollQueue),
          smc(std::make_shared<IOKitSMCBridge>(std::move(transport), SMCWriteCapability::disabled)) {}

    DaemonRegistration& registration;
    Executor& queue;
    std::mutex smcMutex;
    std::shared_ptr<IOKitSMCBridge> smc;
    std::unique_ptr<SensorReader> reader;
    std::unique_ptr<FanController> controller;

    TelemetrySnapshot readSnapshot() {
        std::lock_guard lock(smcMutex);
        // The controller keeps its first probe for good; one taken on a closed bridge would find no
        // fans and leave the app believing the machine has none.
        if (!smc->isOpen()) {
            throw SMCError::notOpen();
        }
        if (!controller) {
            controller = std::make_unique<FanController>(smc);
        }
        if (!reader) {
            reader = std::make_unique<SensorReader>(*smc);
        }

        const auto probed = controller->probeCapabilities().fanIndices();
        TelemetrySnapshot snapshot;
        for (int index : probed) {
            try {
                snapshot.fans.push_back(controller->getFanInfo(index));
            } catch (const std::exception&) {
                // Counted below: a partial set of fans fails the whole snapshot.
            }
        }
        if (snapshot.fans.size() < probed.size()) {
            throw SMCError::readFailed("Fan telemetry is incomplete (" +
                                       std::to_string(snapshot.fans.size()) + " of " +
                                       std::to_string(probed.size()) + " fans)");
        }
        try {
            snapshot.average = reader->readCPUCoreAverage();
        } catch (const SMCError& error) {
            // Too few channels for the composite: the fans and channels still make a snapshot.
            if (error.kind() != SMCError::Kind::readFailed) {
                throw;
            }
            snapshot.compositeUnavailable = error.text();
        }
        snapshot.readings = reader->readAllTemperatures();
        snapshot.electricalReadings = reader->readAllElectrical();
        snapshot.helperState = helperState();
        return snapshot;
    }

    HelperInstallState helperState() { return helperInstallStateFromStatus(registration.status()); }
};

TelemetryPoller::TelemetryPoller(std::unique_ptr<SMCUserClient> transport, DaemonRegistration& registration,
                                 Executor& pollQueue)
    : state_(std::make_shared<State>(std::move(transport), registration, pollQueue)) {}

TelemetryPoller::~TelemetryPoller() = default;

void TelemetryPoller::open() {
    std::lock_guard lock(state_->smcMutex);
    state_->smc->open();
}

void TelemetryPoller::close() {
    std::lock_guard lock(state_->smcMutex);
    state_->smc->close();
}

void TelemetryPoller::read(Completion completion) {
    state_->queue.post([state = state_, completion = std::move(completion)] {
        Result result;
        try {
            result = state->readSnapshot();
        } catch (...) {
            result = std::current_exception();
        }
        completion(std::move(result));
    });
}

HelperInstallState TelemetryPoller::currentHelperState() {
    return state_->helperState();
}

} // namespace quorvane
