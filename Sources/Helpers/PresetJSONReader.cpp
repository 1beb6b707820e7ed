#include "Helpers/PresetJSONReader.hpp"

#include "Helpers/PresetLibraryError.hpp"

#include <cmath>

namespace quorvane {

PresetJSONReader::PresetJSONReader(const nlohmann::json& object, std::string path)
    : object_(object), path_(std::move(path)) {
    if (!object_.is_object()) {
        throw PresetLibraryError::invalidData(path_, "is not an object");
    }
}

const nlohmann::json* PresetJSONReader::optionalValue(const std::string& key) const {
    auto found = object_.find(key);
    if (found == object_.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

const nlohmann::json& PresetJSONReader::required(const std::string& key) const {
    const auto* value = optionalValue(key);
    if (value == nullptr) {
        throw PresetLibraryError::invalidData(pathOf(key), "is missing");
    }
    return *value;
}

double PresetJSONReader::requiredNumber(const std::string& key) const {
    const auto& value = required(key);
    if (!value.is_number()) {
        throw PresetLibraryError::invalidData(pathOf(key), "is not a number");
    }
    return value.get<double>();
}

std::int64_t PresetJSONReader::integer(const nlohmann::json& value, const std::string& key) const {
    if (value.is_number_unsigned()) {
        auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(INT64_MAX)) {
            throw PresetLibraryError::invalidData(pathOf(key), "is out of range");
        }
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        // Some writers spell whole numbers as 3000.0; accept those, refuse fractions and huge values.
        double number = value.get<double>();
        if (std::isfinite(number) && number == std::trunc(number) && number >= -9.2e18 && number <= 9.2e18) {
            return static_cast<std::int64_t>(number);
        }
        throw PresetLibraryError::invalidData(pathOf(key), "is not a whole number in range");
    }
    throw PresetLibraryError::invalidData(pathOf(key), "is not an integer");
}

std::int64_t PresetJSONReader::requiredInteger(const std::string& key) const {
    return integer(required(key), key);
}

std::optional<std::int64_t> PresetJSONReader::optionalInteger(const std::string& key) const {
    const auto* value = optionalValue(key);
    if (value == nullptr) {
        return std::nullopt;
    }
    return integer(*value, key);
}

std::string PresetJSONReader::requiredString(const std::string& key) const {
    const auto& value = required(key);
    if (!value.is_string()) {
        throw PresetLibraryError::invalidData(pathOf(key), "is not a string");
    }
    return value.get<std::string>();
}

std::optional<std::string> PresetJSONReader::optionalString(const std::string& key) const {
    const auto* value = optionalValue(key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        throw PresetLibraryError::invalidData(pathOf(key), "is not a string");
    }
    return value->get<std::string>();
}

bool PresetJSONReader::requiredBool(const std::string& key) const {
    const auto& value = required(key);
    if (!value.is_boolean()) {
        throw PresetLibraryError::invalidData(pathOf(key), "is not a boolean");
    }
    return value.get<bool>();
}

double encodableNumber(double value, const std::string& field) {
    if (!std::isfinite(value)) {
        throw PresetLibraryError::encodingFailed(field + " is not a finite number");
    }
    return value;
}

} // namespace quorvane
