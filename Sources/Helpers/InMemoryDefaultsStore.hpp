#pragma once

#include "Helpers/DefaultsStore.hpp"

#include <map>

namespace quorvane {

// Defaults that live only as long as the object: for tests and for runs that must not touch the
// user's settings.
class InMemoryDefaultsStore final : public DefaultsStore {
public:
    std::optional<nlohmann::json> value(const std::string& key) const override;
    void setValue(const std::string& key, const nlohmann::json& value) override;
    void removeValue(const std::string& key) override;

    const std::map<std::string, nlohmann::json>& values() const { return values_; }

private:
    std::map<std::string, nlohmann::json> values_;
};

} // namespace quorvane
