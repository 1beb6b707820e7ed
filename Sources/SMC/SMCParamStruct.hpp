#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

namespace quorvane {

// The 80-byte user-client record, little-endian, shared by the bridge and every firmware that
// answers it. Fields are reached through accessors so the layout is stated once, by offset.
class SMCParamStruct {
public:
    static constexpr std::size_t size = 80;
    static constexpr std::size_t maxValueSize = 32;

    static constexpr std::size_t keyOffset = 0;
    static constexpr std::size_t dataSizeOffset = 28;
    static constexpr std::size_t dataTypeOffset = 32;
    static constexpr std::size_t dataAttributesOffset = 36;
    static constexpr std::size_t resultOffset = 40;
    static constexpr std::size_t statusOffset = 41;
    static constexpr std::size_t commandOffset = 42;
    static constexpr std::size_t keyIndexOffset = 44;
    static constexpr std::size_t bytesOffset = 48;

    enum Command : std::uint8_t { readBytes = 5, writeBytes = 6, keyByIndex = 8, keyInfo = 9 };

    // Result codes of real firmware.
    enum Result : std::uint8_t {
        success = 0x00,
        error = 0x01,
        badCommand = 0x82,
        badParameter = 0x83,
        keyNotFound = 0x84,
        notReadable = 0x85,
        notWritable = 0x86,
        keySizeMismatch = 0x87,
        keyIndexOutOfRange = 0xB8,
    };

    std::array<std::uint8_t, size> raw{};

    std::uint32_t key() const { return load32(keyOffset); }
    void setKey(std::uint32_t value) { store32(keyOffset, value); }
    std::uint32_t dataSize() const { return load32(dataSizeOffset); }
    void setDataSize(std::uint32_t value) { store32(dataSizeOffset, value); }
    std::uint32_t dataType() const { return load32(dataTypeOffset); }
    void setDataType(std::uint32_t value) { store32(dataTypeOffset, value); }
    std::uint8_t dataAttributes() const { return raw[dataAttributesOffset]; }
    void setDataAttributes(std::uint8_t value) { raw[dataAttributesOffset] = value; }
    std::uint8_t result() const { return raw[resultOffset]; }
    void setResult(std::uint8_t value) { raw[resultOffset] = value; }
    std::uint8_t command() const { return raw[commandOffset]; }
    void setCommand(std::uint8_t value) { raw[commandOffset] = value; }
    std::uint32_t keyIndex() const { return load32(keyIndexOffset); }
    void setKeyIndex(std::uint32_t value) { store32(keyIndexOffset, value); }

    std::span<std::uint8_t, maxValueSize> bytes() {
        return std::span<std::uint8_t, maxValueSize>(&raw[bytesOffset], maxValueSize);
    }
    std::span<const std::uint8_t, maxValueSize> bytes() const {
        return std::span<const std::uint8_t, maxValueSize>(&raw[bytesOffset], maxValueSize);
    }

private:
    std::uint32_t load32(std::size_t offset) const {
        return static_cast<std::uint32_t>(raw[offset]) | static_cast<std::uint32_t>(raw[offset + 1]) << 8 |
               static_cast<std::uint32_t>(raw[offset + 2]) << 16 |
               static_cast<std::uint32_t>(raw[offset + 3]) << 24;
    }
    void store32(std::size_t offset, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) {
            raw[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
};

static_assert(sizeof(SMCParamStruct) == SMCParamStruct::size);

} // namespace quorvane
