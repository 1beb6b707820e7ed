#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace quorvane {

// The app's user defaults: JSON values by key. Writes either take effect completely or throw
// DefaultsStoreError and leave the previous value in place.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    virtual std::optional<nlohmann::json> value(const std::string& key) const = 0;
    virtual void setValue(const std::string& key, const nlohmann::json& value) = 0;
    virtual void removeValue(const std::string& key) = 0;

    // Typed reads: absent when the key is missing or holds another type.
    std::optional<std::string> string(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<double> number(const std::string& key) const;
    // Whole numbers only; 2.0 counts, 2.5 does not.
    std::optional<std::int64_t> integer(const std::string& key) const;

    // Distinct names, so a string literal can never pick the boolean overload.
    void setString(const std::string& key, const std::string& value) { setValue(key, value); }
    void setBool(const std::string& key, bool value) { setValue(key, value); }
    void setNumber(const std::string& key, double value);
    void setInteger(const std::string& key, std::int64_t value) { setValue(key, value); }
};

} // namespace quorvane
