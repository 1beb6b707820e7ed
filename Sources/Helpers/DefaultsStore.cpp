#include "Helpers/DefaultsStore.hpp"

#include "Helpers/DefaultsStoreError.hpp"

#include <cmath>

namespace quorvane {

std::optional<std::string> DefaultsStore::string(const std::string& key) const {
    auto stored = value(key);
    if (!stored || !stored->is_string()) {
        return std::nullopt;
    }
    return stored->get<std::string>();
}

std::optional<bool> DefaultsStore::boolean(const std::string& key) const {
    auto stored = value(key);
    if (!stored || !stored->is_boolean()) {
        return std::nullopt;
    }
    return stored->get<bool>();
}

std::optional<double> DefaultsStore::number(const std::string& key) const {
    auto stored = value(key);
    if (!stored || !stored->is_number()) {
        return std::nullopt;
    }
    return stored->get<double>();
}

std::optional<std::int64_t> DefaultsStore::integer(const std::string& key) const {
    auto stored = value(key);
    if (!stored) {
        return std::nullopt;
    }
    if (stored->is_number_unsigned()) {
        auto unsignedValue = stored->get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(INT64_MAX)) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (stored->is_number_integer()) {
        return stored->get<std::int64_t>();
    }
    if (stored->is_number_float()) {
        double number = stored->get<double>();
        if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) <= 9.2e18) {
            return static_cast<std::int64_t>(number);
        }
    }
    return std::nullopt;
}

void DefaultsStore::setNumber(const std::string& key, double value) {
    // JSON would turn these into null.
    if (!std::isfinite(value)) {
        throw DefaultsStoreError::unrepresentable(key, "the number is not finite");
    }
    setValue(key, value);
}

} // namespace quorvane
