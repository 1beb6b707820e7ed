#pragma once

#include "Platform/FileDescriptor.hpp"

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace quorvane {

// SIGINT and SIGTERM as a Qt signal on the main loop, through a signalfd: nothing runs inside a
// signal handler. Create it on the main thread before other threads start (they inherit the mask).
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPending();

    FileDescriptor descriptor_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace quorvane
