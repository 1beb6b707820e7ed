#include "Helpers/DefaultsStoreError.hpp"

namespace quorvane {

DefaultsStoreError DefaultsStoreError::saveFailed(const std::string& location, const std::string& reason) {
    return DefaultsStoreError("Settings could not be saved to " + location + ": " + reason);
}

DefaultsStoreError DefaultsStoreError::unrepresentable(const std::string& key, const std::string& reason) {
    return DefaultsStoreError("The setting " + key + " could not be saved: " + reason);
}

} // namespace quorvane
