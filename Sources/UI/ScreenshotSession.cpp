#include "UI/ScreenshotSession.hpp"

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <iostream>

namespace quorvane {

namespace {
// Long enough for charts to lay out and the gauge to finish easing.
constexpr int settleMilliseconds = 2500;
} // namespace

ScreenshotSession::ScreenshotSession(AppModelAdapter& adapter, std::filesystem::path directory,
                                     std::optional<std::string> preset, std::deque<Shot> shots,
                                     std::function<void(int)> done)
    : QObject(&adapter), adapter_(adapter), directory_(std::move(directory)), preset_(std::move(preset)),
      shots_(std::move(shots)), done_(std::move(done)) {
    connect(&adapter_, &AppModelAdapter::changed, this, [this] {
        if (!started_ && ready()) {
            started_ = true;
            std::filesystem::create_directories(directory_);
            takeNext();
        }
    });
}

bool ScreenshotSession::ready() const {
    const AppModel& model = adapter_.model();
    if (model.history().size() < samplesBeforeShooting || model.isBusy()) {
        return false;
    }
    return !preset_ || model.activePreset().name == *preset_;
}

void ScreenshotSession::takeNext() {
    if (shots_.empty()) {
        done_(0);
        return;
    }
    Shot shot = std::move(shots_.front());
    shots_.pop_front();
    QWidget* window = shot.show();
    QTimer::singleShot(settleMilliseconds, this, [this, window, name = shot.name] {
        const auto file = directory_ / (name.toStdString() + ".png");
        if (!window->grab().save(QString::fromStdString(file.string()))) {
            std::cerr << "Quorvane: could not save " << file << "\n";
            done_(1);
            return;
        }
        std::cout << "Saved " << file.string() << std::endl;
        window->hide();
        takeNext();
    });
}

} // namespace quorvane
