#include "Helpers/FanControlOwnershipStore.hpp"

namespace quorvane {

FanControlOwnership FanControlOwnershipStore::load() const {
    auto stored = defaults_.get().string(storageKey);
    if (!stored) {
        return FanControlOwnership::quorvane;
    }
    return fanControlOwnershipFromRaw(*stored).value_or(FanControlOwnership::quorvane);
}

void FanControlOwnershipStore::save(FanControlOwnership ownership) {
    defaults_.get().setString(storageKey, std::string(rawValue(ownership)));
}

} // namespace quorvane
