#include "UI/StatusItem.hpp"

#include "App/MenuBarTitle.hpp"
#include "UI/SymbolIcon.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace quorvane {

StatusItem::StatusItem(AppModelAdapter& adapter, QWidget& panelWindow, DesktopActions actions,
                       bool trayAvailable)
    : adapter_(adapter), panel_(panelWindow), actions_(std::move(actions)) {
    if (trayAvailable) {
        tray_ = std::make_unique<QSystemTrayIcon>(iconFor({}));
        menu_ = std::make_unique<QMenu>();
        menu_->addAction(QStringLiteral("Show Panel"), this, &StatusItem::togglePanel);
        menu_->addAction(QStringLiteral("Open Dashboard"), this,
                         [this] { DesktopActions::run(actions_.openDashboard); });
        menu_->addAction(QStringLiteral("Temperature Sensors"), this,
                         [this] { DesktopActions::run(actions_.openSensors); });
        menu_->addAction(QStringLiteral("Settings && Helper…"), this,
                         [this] { DesktopActions::run(actions_.openSettings); });
        menu_->addAction(QStringLiteral("Check for Updates…"), this,
                         [this] { DesktopActions::run(actions_.checkForUpdates); });
        menu_->addSeparator();
        menu_->addAction(QStringLiteral("Quit"), this, [this] { DesktopActions::run(actions_.quit); });
        tray_->setContextMenu(menu_.get());
        connect(
            tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
                constexpr qint64 sameClickMilliseconds = 300;
                if (reason == QSystemTrayIcon::Trigger &&
                    !(closedFromOutside_.isValid() && closedFromOutside_.elapsed() < sameClickMilliseconds)) {
                    togglePanel();
                }
            });
        panel_.installEventFilter(this);
        qApp->installEventFilter(this);
    }
    connect(&adapter_, &AppModelAdapter::changed, this, [this](const AppModelAdapter::Changes& changes) {
        if (changes.containsAny({AppModel::Property::fans, AppModel::Property::fanControlTemperatures,
                                 AppModel::Property::displayTemperature})) {
            refresh();
        }
    });
    refresh();
    if (tray_) {
        tray_->show();
    }
}

StatusItem::~StatusItem() = default;

std::optional<double> StatusItem::hottestZoneTemperature(const AppModel& model) {
    const auto& zones = model.fanControlTemperatures();
    if (zones.empty()) {
        return model.displayTemperature();
    }
    return std::max_element(zones.begin(), zones.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->second;
}

QIcon StatusItem::iconFor(const QString& text) {
    if (text.isEmpty()) {
        // By name when installed, so the panel draws it in its own colours.
        return QIcon::fromTheme(QStringLiteral("com.orvalith.quorvane-symbolic"),
                                symbolIcon(QStringLiteral("fan")));
    }
    QPixmap pixmap(44, 44);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setBrush(QColor(40, 44, 52));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(pixmap.rect(), 9, 9);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(text.size() > 3 ? 15 : 19);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, text);
    return QIcon(pixmap);
}

void StatusItem::refresh() {
    const AppModel& model = adapter_.model();
    title_ = QString::fromStdString(
        menuBarTitle(model.fans(), model.fanControlTemperatures(), model.displayTemperature()));
    const auto hottest = hottestZoneTemperature(model);
    const QString text = hottest ? QStringLiteral("%1°").arg(std::llround(*hottest)) : QString();
    if (tray_) {
        tray_->setToolTip(title_);
        if (text != iconText_) {
            tray_->setIcon(iconFor(text));
        }
    } else {
        panel_.setWindowTitle(title_);
    }
    iconText_ = text;
}

void StatusItem::togglePanel() {
    if (panel_.isVisible()) {
        panel_.hide();
        return;
    }
    if (tray_) {
        // Under the icon where the tray reports its place, else at the top right of the screen.
        const QRect icon = tray_->geometry();
        const QScreen* screen = QGuiApplication::primaryScreen();
        QPoint corner = icon.isValid()
                            ? icon.bottomLeft()
                            : (screen ? screen->availableGeometry().topRight() - QPoint(panel_.width(), 0)
                                      : QPoint(0, 0));
        if (screen) {
            const QRect area = screen->availableGeometry();
            corner.setX(
                std::clamp(corner.x(), area.left(), std::max(area.left(), area.right() - panel_.width())));
            corner.setY(
                std::clamp(corner.y(), area.top(), std::max(area.top(), area.bottom() - panel_.height())));
        }
        panel_.move(corner);
    }
    panel_.show();
    panel_.raise();
    panel_.activateWindow();
}

bool StatusItem::belongsToPanel(const QWidget* widget) const {
    for (; widget; widget = widget->parentWidget()) {
        if (widget == &panel_) {
            return true;
        }
    }
    return false;
}

void StatusItem::hideFromOutside() {
    panel_.hide();
    closedFromOutside_.start();
}

bool StatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (panel_.isVisible()) {
        if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType() &&
            !belongsToPanel(static_cast<QWidget*>(watched))) {
            hideFromOutside();
        } else if (watched == &panel_ && event->type() == QEvent::WindowDeactivate &&
                   !belongsToPanel(QApplication::activeWindow()) &&
                   !belongsToPanel(QApplication::activePopupWidget())) {
            hideFromOutside();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace quorvane
