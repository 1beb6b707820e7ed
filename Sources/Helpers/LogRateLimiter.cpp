#include "Helpers/LogRateLimiter.hpp"

namespace quorvane {

std::optional<std::uint64_t> LogRateLimiter::permit() {
    const auto now = clock_.nowMilliseconds();
    if (lastLine_ && now - *lastLine_ < interval_.count()) {
        ++heldBack_;
        return std::nullopt;
    }
    lastLine_ = now;
    const auto heldBack = heldBack_;
    heldBack_ = 0;
    return heldBack;
}

} // namespace quorvane
