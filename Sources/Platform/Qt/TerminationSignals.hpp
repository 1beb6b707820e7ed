#pragma once

#include "Platform/FileDescriptor.hpp"

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

namespace quorvane {

// SIGINT, SIGTERM and SIGHUP as a Qt signal on the main loop, through a signalfd: nothing runs
// inside a signal handler. The signals must be blocked in every thread, so block them at the start
// of main, before Qt or anything else starts a thread (threads inherit the mask).
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // The signals that quit the app, always through the hand-back.
    static sigset_t signalSet();

signals:
    void received(int signalNumber);

private:
    void readPending();

    sigset_t previousMask_{};
    FileDescriptor descriptor_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace quorvane
