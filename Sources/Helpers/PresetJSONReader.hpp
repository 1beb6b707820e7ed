#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace quorvane {

// Reads one JSON object field by field with the exact types the preset formats allow, so that a
// boolean never passes for a number nor a fraction for an RPM. Every refusal is a
// PresetLibraryError that names the field's path. Unknown keys are ignored.
class PresetJSONReader {
public:
    // Throws unless `object` is a JSON object.
    PresetJSONReader(const nlohmann::json& object, std::string path);

    double requiredNumber(const std::string& key) const;
    std::int64_t requiredInteger(const std::string& key) const;
    std::optional<std::int64_t> optionalInteger(const std::string& key) const;
    std::string requiredString(const std::string& key) const;
    std::optional<std::string> optionalString(const std::string& key) const;
    bool requiredBool(const std::string& key) const;
    // The field's value when present and not null; null counts as absent, as for every optional.
    const nlohmann::json* optionalValue(const std::string& key) const;

    std::string pathOf(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }

private:
    const nlohmann::json& required(const std::string& key) const;
    std::int64_t integer(const nlohmann::json& value, const std::string& key) const;

    const nlohmann::json& object_;
    std::string path_;
};

// JSON has no NaN or infinity; writing one would silently turn into null and spoil the whole
// document, so encoding refuses it with PresetLibraryError instead.
double encodableNumber(double value, const std::string& field);

} // namespace quorvane
