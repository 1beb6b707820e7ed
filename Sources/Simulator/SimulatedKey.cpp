#include "Simulator/SimulatedKey.hpp"

#include <bit>
#include <cmath>
#include <stdexcept>
#include <string>

namespace quorvane {

namespace {

SimulatedKey make(std::string_view name, std::string_view typeText, std::vector<std::uint8_t> bytes,
                  std::uint8_t attributes) {
    if (name.size() != 4) {
        throw std::invalid_argument("SMC key names have four characters: \"" + std::string(name) + "\"");
    }
    if (bytes.size() > SimulatedKey::maxSize) {
        throw std::invalid_argument("SMC values hold at most 32 bytes: \"" + std::string(name) + "\"");
    }
    return SimulatedKey{SMCKey::fromString(name), SimulatedKey::typeCode(typeText), attributes,
                        std::move(bytes)};
}

std::vector<std::uint8_t> bigEndian(std::uint64_t value, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[size - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return bytes;
}

} // namespace

SimulatedKey SimulatedKey::flt(std::string_view name, float value, std::uint8_t attributes) {
    return make(name, "flt ", floatBytes(value), attributes);
}

SimulatedKey SimulatedKey::ui8(std::string_view name, std::uint8_t value, std::uint8_t attributes) {
    return make(name, "ui8 ", {value}, attributes);
}

SimulatedKey SimulatedKey::ui16(std::string_view name, std::uint16_t value, std::uint8_t attributes) {
    return make(name, "ui16", bigEndian(value, 2), attributes);
}

SimulatedKey SimulatedKey::ui32(std::string_view name, std::uint32_t value, std::uint8_t attributes) {
    return make(name, "ui32", bigEndian(value, 4), attributes);
}

SimulatedKey SimulatedKey::ioft(std::string_view name, double value, std::uint8_t attributes) {
    const auto fixed = static_cast<std::uint64_t>(std::llround(value * 65536.0));
    std::vector<std::uint8_t> bytes(8);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(fixed >> (8 * i));
    }
    return make(name, "ioft", std::move(bytes), attributes);
}

SimulatedKey SimulatedKey::raw(std::string_view name, std::string_view typeText,
                               std::vector<std::uint8_t> bytes, std::uint8_t attributes) {
    return make(name, typeText, std::move(bytes), attributes);
}

std::uint32_t SimulatedKey::typeCode(std::string_view typeText) {
    if (typeText.empty() || typeText.size() > 4) {
        throw std::invalid_argument("SMC type codes have one to four characters: \"" + std::string(typeText) +
                                    "\"");
    }
    return SMCKey::fromString(typeText).rawValue;
}

std::vector<std::uint8_t> SimulatedKey::floatBytes(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

std::optional<float> SimulatedKey::floatFromBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != 4) {
        return std::nullopt;
    }
    const std::uint32_t bits =
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return std::bit_cast<float>(bits);
}

} // namespace quorvane
