#pragma once

#include "Platform/PowerMonitor.hpp"

#include <QDBusConnection>
#include <QObject>

namespace quorvane {

// Sleep and wake from logind's PrepareForSleep signal on the system bus, received on the Qt main
// thread. Without a system bus (containers, CI) it does nothing.
class QtLogindPowerMonitor final : public QObject, public PowerMonitor {
    Q_OBJECT

public:
    explicit QtLogindPowerMonitor(QDBusConnection connection = QDBusConnection::systemBus());

    // A second start does nothing.
    void start(std::function<void()> willSleep, std::function<void()> didWake) override;
    bool isListening() const { return listening_; }

private slots:
    void prepareForSleep(bool sleeping);

private:
    QDBusConnection connection_;
    std::function<void()> willSleep_;
    std::function<void()> didWake_;
    bool listening_ = false;
};

} // namespace quorvane
