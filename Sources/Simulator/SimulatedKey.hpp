#pragma once

#include "SMC/SMCKey.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace quorvane {

// One entry of a simulated key table: the key, its type and attributes as key info reports them,
// and the value's raw bytes (their count is the key's data size).
struct SimulatedKey {
    SMCKey key;
    std::uint32_t dataType = 0; // four-character code packed like a key, e.g. "flt "
    std::uint8_t attributes = 0;
    std::vector<std::uint8_t> bytes;

    static constexpr std::uint8_t readable = 0x80;
    static constexpr std::uint8_t writable = 0x40;
    static constexpr std::size_t maxSize = 32;

    // Names must be four characters; type texts shorter than four are padded with spaces.
    // Each maker throws std::invalid_argument for a bad name or an oversized value.
    static SimulatedKey flt(std::string_view name, float value, std::uint8_t attributes = readable);
    static SimulatedKey ui8(std::string_view name, std::uint8_t value, std::uint8_t attributes = readable);
    static SimulatedKey ui16(std::string_view name, std::uint16_t value, std::uint8_t attributes = readable);
    static SimulatedKey ui32(std::string_view name, std::uint32_t value, std::uint8_t attributes = readable);
    // 48.16 fixed point in eight little-endian bytes.
    static SimulatedKey ioft(std::string_view name, double value, std::uint8_t attributes = readable);
    static SimulatedKey raw(std::string_view name, std::string_view typeText, std::vector<std::uint8_t> bytes,
                            std::uint8_t attributes = readable);

    static std::uint32_t typeCode(std::string_view typeText);
    static std::vector<std::uint8_t> floatBytes(float value);
    // The float in four little-endian bytes; nullopt for any other size.
    static std::optional<float> floatFromBytes(std::span<const std::uint8_t> bytes);

    bool isReadable() const { return (attributes & readable) != 0; }
    bool isWritable() const { return (attributes & writable) != 0; }
    bool isFloat() const { return dataType == typeCode("flt ") && bytes.size() == 4; }
};

} // namespace quorvane
