#include "Helpers/FanTargetWriteCoalescer.hpp"

namespace quorvane {

namespace {

std::optional<std::int64_t> take(std::map<int, std::int64_t>& map, int fan) {
    auto node = map.extract(fan);
    if (node.empty()) {
        return std::nullopt;
    }
    return node.mapped();
}

} // namespace

std::optional<std::int64_t> FanTargetWriteCoalescer::request(int fan, std::int64_t target) {
    if (inFlight_.contains(fan)) {
        pending_[fan] = target;
        return std::nullopt;
    }
    inFlight_[fan] = target;
    return target;
}

std::optional<std::int64_t> FanTargetWriteCoalescer::complete(int fan, bool succeeded) {
    auto finished = take(inFlight_, fan);
    auto next = take(pending_, fan);
    if (succeeded && next && next != finished) {
        inFlight_[fan] = *next;
        return next;
    }
    return std::nullopt;
}

std::optional<std::int64_t> FanTargetWriteCoalescer::latestTarget(int fan) const {
    if (auto found = pending_.find(fan); found != pending_.end()) {
        return found->second;
    }
    if (auto found = inFlight_.find(fan); found != inFlight_.end()) {
        return found->second;
    }
    return std::nullopt;
}

void FanTargetWriteCoalescer::reset() {
    inFlight_.clear();
    pending_.clear();
}

} // namespace quorvane
