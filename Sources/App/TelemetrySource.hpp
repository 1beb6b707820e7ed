#pragma once

#include "Client/TelemetryPoller.hpp"

#include <memory>

namespace quorvane {

// Where the model's snapshots come from: the SMC poller in the product, scripted snapshots in tests.
class TelemetrySource {
public:
    using Result = TelemetryPoller::Result;
    using Completion = TelemetryPoller::Completion;

    virtual ~TelemetrySource() = default;
    // Throws when the SMC cannot be opened.
    virtual void open() = 0;
    virtual void close() = 0;
    // Returns at once; the completion is called exactly once, on any thread.
    virtual void read(Completion completion) = 0;
};

// The product's source: the app's read-only SMC poller.
class TelemetryPollerSource final : public TelemetrySource {
public:
    explicit TelemetryPollerSource(std::unique_ptr<TelemetryPoller> poller) : poller_(std::move(poller)) {}

    void open() override { poller_->open(); }
    void close() override { poller_->close(); }
    void read(Completion completion) override { poller_->read(std::move(completion)); }

    TelemetryPoller& poller() { return *poller_; }

private:
    std::unique_ptr<TelemetryPoller> poller_;
};

} // namespace quorvane
