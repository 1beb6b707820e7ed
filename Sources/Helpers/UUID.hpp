#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// A 128-bit identifier for presets and control sessions. Text is the canonical 8-4-4-4-12 form,
// written in upper case and read in either case.
class UUID {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    // The nil UUID (all zero bits).
    constexpr UUID() = default;
    constexpr explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    // A fresh random (version 4) UUID.
    static UUID generate();
    // Absent unless the text is exactly 36 characters of canonical form.
    static std::optional<UUID> parse(std::string_view text);

    std::string uuidString() const;
    constexpr const Bytes& bytes() const { return bytes_; }

    friend constexpr bool operator==(const UUID&, const UUID&) = default;
    friend constexpr auto operator<=>(const UUID&, const UUID&) = default;

private:
    Bytes bytes_{};
};

} // namespace quorvane

template <> struct std::hash<quorvane::UUID> {
    std::size_t operator()(const quorvane::UUID& uuid) const noexcept;
};
