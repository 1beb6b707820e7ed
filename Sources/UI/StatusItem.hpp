#pragma once

#include "UI/AppModelAdapter.hpp"
#include "UI/DesktopActions.hpp"

#include <QElapsedTimer>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

namespace quorvane {

// The menu-bar item's stand-in: a tray icon showing the hottest zone temperature, with the full
// menu-bar title as its tooltip, that toggles the panel. Without a system tray the panel is a small
// window of its own whose title is the menu-bar title. With a tray, the panel behaves like a menu: a
// click anywhere outside it, or another window taking the focus, closes it.
class StatusItem final : public QObject {
    Q_OBJECT

public:
    StatusItem(AppModelAdapter& adapter, QWidget& panelWindow, DesktopActions actions, bool trayAvailable);
    ~StatusItem() override;

    bool hasTray() const { return tray_ != nullptr; }
    QString title() const { return title_; }
    QString iconText() const { return iconText_; }
    void togglePanel();
    QMenu* menu() const { return menu_.get(); }

    // The hottest fan-zone input, else the display temperature.
    static std::optional<double> hottestZoneTemperature(const AppModel& model);
    static QIcon iconFor(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    // Whether the widget is the panel or opened from it (its dialogs, pop-ups and drop-downs).
    bool belongsToPanel(const QWidget* widget) const;
    void hideFromOutside();

    AppModelAdapter& adapter_;
    QWidget& panel_;
    DesktopActions actions_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QMenu> menu_;
    QString title_;
    QString iconText_;
    // When a click outside last closed the panel: the click on the tray icon that closes it must
    // not open it again at once.
    QElapsedTimer closedFromOutside_;
};

} // namespace quorvane
