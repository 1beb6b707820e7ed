#include "Helpers/InMemoryDefaultsStore.hpp"

namespace quorvane {

std::optional<nlohmann::json> InMemoryDefaultsStore::value(const std::string& key) const {
    auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void InMemoryDefaultsStore::setValue(const std::string& key, const nlohmann::json& value) {
    values_[key] = value;
}

void InMemoryDefaultsStore::removeValue(const std::string& key) {
    values_.erase(key);
}

} // namespace quorvane
