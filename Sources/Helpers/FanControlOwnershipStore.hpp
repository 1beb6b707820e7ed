#pragma once

#include "Helpers/DefaultsStore.hpp"
#include "Helpers/FanControlOwnership.hpp"

#include <functional>
#include <string>

namespace quorvane {

// Keeps the user's fan-control ownership choice in the defaults.
class FanControlOwnershipStore {
public:
    explicit FanControlOwnershipStore(DefaultsStore& defaults) : defaults_(defaults) {}

    // Anything but an exact raw value, including one that differs only in case, loads as quorvane.
    FanControlOwnership load() const;
    // Throws DefaultsStoreError when the choice cannot be stored.
    void save(FanControlOwnership ownership);

    DefaultsStore& defaults() const { return defaults_.get(); }

    static inline const std::string storageKey = "fanControlOwnership.v1";

private:
    std::reference_wrapper<DefaultsStore> defaults_;
};

} // namespace quorvane
