#pragma once

#include "UI/AppModelAdapter.hpp"

#include <QObject>
#include <QString>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace quorvane {

// Pictures of every window for the documentation: once the model has some history and the requested
// preset is running, each shot's window is shown, given time to draw, saved as <name>.png, and closed.
class ScreenshotSession final : public QObject {
    Q_OBJECT

public:
    struct Shot {
        QString name;
        // Shows the window (or sheet) and returns it.
        std::function<QWidget*()> show;
    };

    ScreenshotSession(AppModelAdapter& adapter, std::filesystem::path directory,
                      std::optional<std::string> preset, std::deque<Shot> shots,
                      std::function<void(int status)> done);

    static constexpr std::size_t samplesBeforeShooting = 20;

private:
    bool ready() const;
    void takeNext();

    AppModelAdapter& adapter_;
    std::filesystem::path directory_;
    std::optional<std::string> preset_;
    std::deque<Shot> shots_;
    std::function<void(int)> done_;
    bool started_ = false;
};

} // namespace quorvane
