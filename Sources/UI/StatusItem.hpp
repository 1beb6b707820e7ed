#pragma once

#include "UI/AppModelAdapter.hpp"
#include "UI/DesktopActions.hpp"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

namespace quorvane {

// The menu-bar item's stand-in: a tray icon showing the hottest zone temperature, with the full
// menu-bar title as its tooltip, that toggles the panel. Without a system tray the panel is a small
// window of its own whose title is the menu-bar title.
class StatusItem final : public QObject {
    Q_OBJECT

public:
    StatusItem(AppModelAdapter& adapter, QWidget& panelWindow, DesktopActions actions, bool trayAvailable);
    ~StatusItem() override;

    bool hasTray() const { return tray_ != nullptr; }
    QString title() const { return title_; }
    QString iconText() const { return iconText_; }
    void togglePanel();

    // The hottest fan-zone input, else the display temperature.
    static std::optional<double> hottestZoneTemperature(const AppModel& model);
    static QIcon iconFor(const QString& text);

private:
    void refresh();

    AppModelAdapter& adapter_;
    QWidget& panel_;
    DesktopActions actions_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QMenu> menu_;
    QString title_;
    QString iconText_;
};

} // namespace quorvane
