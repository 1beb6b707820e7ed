#pragma once

#include "Platform/Executor.hpp"

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

namespace quorvane {

// The desktop app's main thread: tasks and timers on Qt's event loop. post() is safe from any
// thread; timers are scheduled and cancelled on the main thread. Work still queued when the
// executor goes away is dropped.
class QtMainExecutor final : public MainExecutor {
public:
    QtMainExecutor();
    ~QtMainExecutor() override;
    QtMainExecutor(const QtMainExecutor&) = delete;
    QtMainExecutor& operator=(const QtMainExecutor&) = delete;

    void post(std::function<void()> task) override;
    TimerID scheduleRepeating(std::int64_t periodMilliseconds, std::function<void()> tick) override;
    void cancel(TimerID timer) override;

private:
    // Queued calls to a destroyed context are discarded by Qt.
    std::unique_ptr<QObject> context_;
    std::map<TimerID, std::unique_ptr<QTimer>> timers_;
    TimerID nextTimer_ = 1;
};

} // namespace quorvane
