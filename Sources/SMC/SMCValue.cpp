#include "SMC/SMCValue.hpp"

#include "SMC/IOKitSMCBridge.hpp"

namespace quorvane {

std::optional<float> SMCValue::asFloat() const {
    if (auto* value = std::get_if<float>(&storage_)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<std::uint8_t> SMCValue::asUInt8() const {
    if (auto* value = std::get_if<std::uint8_t>(&storage_)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> SMCValue::asUInt32() const {
    if (auto* value = std::get_if<std::uint32_t>(&storage_)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> SMCValue::asBytes() const {
    if (auto* value = std::get_if<std::vector<std::uint8_t>>(&storage_)) {
        return *value;
    }
    return std::nullopt;
}

std::string debugDescription(const SMCValue& value) {
    switch (value.kind()) {
    case SMCValue::Kind::float32:
        return "float(" + IOKitSMCBridge::describe(value) + ")";
    case SMCValue::Kind::uint8:
        return "uint8(" + IOKitSMCBridge::describe(value) + ")";
    case SMCValue::Kind::uint32:
        return "uint32(" + IOKitSMCBridge::describe(value) + ")";
    case SMCValue::Kind::bytes:
        return "bytes(" + IOKitSMCBridge::describe(value) + ")";
    }
    return "";
}

} // namespace quorvane
