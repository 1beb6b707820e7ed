#include "SMC/FanMode.hpp"

namespace quorvane {

std::optional<FanMode> fanModeFromRaw(int raw) {
    switch (raw) {
    case 0:
        return FanMode::automatic;
    case 1:
        return FanMode::manual;
    default:
        return std::nullopt;
    }
}

} // namespace quorvane
