#pragma once

#include <optional>

namespace quorvane {

// The machine's own fan policy while the system owns the fans: they stand still until the hottest
// die reaches the start temperature, then run from minimum toward maximum speed as it climbs, and
// stop again only once it has fallen below the stop temperature.
class SystemFanCurve {
public:
    struct Settings {
        double startCelsius = 75.0;
        double stopCelsius = 65.0;
        double fullCelsius = 110.0;
    };

    SystemFanCurve() = default;
    explicit SystemFanCurve(Settings settings) : settings_(settings) {}

    // The share of each fan's range to run at (0 is its minimum speed), or nullopt to stand still.
    std::optional<double> update(double hottestCelsius);
    bool isRunning() const { return running_; }

    static double rpmFor(std::optional<double> share, double minimumRPM, double maximumRPM);

private:
    Settings settings_;
    bool running_ = false;
};

} // namespace quorvane
