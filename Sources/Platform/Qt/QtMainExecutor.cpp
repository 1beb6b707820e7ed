#include "Platform/Qt/QtMainExecutor.hpp"

#include <QMetaObject>
#include <algorithm>

namespace quorvane {

QtMainExecutor::QtMainExecutor() : context_(std::make_unique<QObject>()) {}

QtMainExecutor::~QtMainExecutor() = default;

void QtMainExecutor::post(std::function<void()> task) {
    QMetaObject::invokeMethod(context_.get(), std::move(task), Qt::QueuedConnection);
}

MainExecutor::TimerID QtMainExecutor::scheduleRepeating(std::int64_t periodMilliseconds,
                                                        std::function<void()> tick) {
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(std::clamp<std::int64_t>(periodMilliseconds, 1, 86'400'000)));
    QObject::connect(timer.get(), &QTimer::timeout, context_.get(), std::move(tick));
    timer->start();
    const TimerID id = nextTimer_++;
    timers_[id] = std::move(timer);
    return id;
}

void QtMainExecutor::cancel(TimerID id) {
    auto found = timers_.find(id);
    if (found == timers_.end()) {
        return;
    }
    // A tick may cancel its own timer: stop it now, free it once the tick has returned.
    found->second->stop();
    found->second.release()->deleteLater();
    timers_.erase(found);
}

} // namespace quorvane
