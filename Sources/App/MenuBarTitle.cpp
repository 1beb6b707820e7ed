#include "App/MenuBarTitle.hpp"

#include "App/TextFormat.hpp"

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

std::string degrees(double temperature) {
    // A zone filter that has only seen unreadable samples has no number to show.
    if (!std::isfinite(temperature)) {
        return "--°";
    }
    return std::to_string(std::lround(temperature)) + "°";
}

std::string fanLetter(int index) {
    switch (index) {
    case 0:
        return "L";
    case 1:
        return "R";
    default:
        return "F" + std::to_string(index);
    }
}

std::string speed(std::int64_t rpm) {
    if (rpm < 1000) {
        return std::to_string(rpm);
    }
    return formatted("%.1fk", static_cast<double>(rpm) / 1000.0);
}

} // namespace

std::string menuBarTitle(const std::vector<FanInfo>& fans,
                         const std::map<int, double>& fanControlTemperatures,
                         std::optional<double> displayTemperature) {
    auto sorted = fans;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const FanInfo& lhs, const FanInfo& rhs) { return lhs.index < rhs.index; });

    std::string title;
    for (const auto& fan : sorted) {
        auto temperature = fanControlTemperatures.find(fan.index);
        if (temperature == fanControlTemperatures.end()) {
            continue;
        }
        if (!title.empty()) {
            title += " ";
        }
        title += fanLetter(fan.index) + degrees(temperature->second);
    }
    if (title.empty()) {
        title = displayTemperature ? degrees(*displayTemperature) : "Fan";
    }
    if (sorted.empty()) {
        return title;
    }
    std::string speeds;
    for (const auto& fan : sorted) {
        if (!speeds.empty()) {
            speeds += "·";
        }
        speeds += speed(fan.actualRPM);
    }
    return title + " " + speeds;
}

} // namespace quorvane
