#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quorvane {

// A typed SMC value: a float, a byte, an unsigned 32-bit number or raw bytes of any other type.
class SMCValue {
public:
    enum class Kind { float32, uint8, uint32, bytes };

    static SMCValue float32(float value) { return SMCValue(Storage(std::in_place_index<0>, value)); }
    static SMCValue uint8(std::uint8_t value) { return SMCValue(Storage(std::in_place_index<1>, value)); }
    static SMCValue uint32(std::uint32_t value) { return SMCValue(Storage(std::in_place_index<2>, value)); }
    static SMCValue bytes(std::vector<std::uint8_t> value) {
        return SMCValue(Storage(std::in_place_index<3>, std::move(value)));
    }

    Kind kind() const { return static_cast<Kind>(storage_.index()); }

    std::optional<float> asFloat() const;
    std::optional<std::uint8_t> asUInt8() const;
    std::optional<std::uint32_t> asUInt32() const;
    std::optional<std::vector<std::uint8_t>> asBytes() const;

    // Same case and equal payload; floats compare numerically, so 0 equals -0.
    friend bool operator==(const SMCValue& lhs, const SMCValue& rhs) { return lhs.storage_ == rhs.storage_; }

private:
    using Storage = std::variant<float, std::uint8_t, std::uint32_t, std::vector<std::uint8_t>>;
    explicit SMCValue(Storage storage) : storage_(std::move(storage)) {}
    Storage storage_;
};

// Human-readable form for tests and diagnostics.
std::string debugDescription(const SMCValue& value);

} // namespace quorvane
