#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace quorvane {

// A four-character SMC key packed big-endian: the first character is the most significant byte.
struct SMCKey {
    std::uint32_t rawValue = 0;

    constexpr SMCKey() = default;
    constexpr explicit SMCKey(std::uint32_t raw) : rawValue(raw) {}

    // Packs exactly four characters; a text of another length is a programming error.
    static constexpr SMCKey fromString(std::string_view text) {
        std::uint32_t raw = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            raw = (raw << 8) | static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
        }
        return SMCKey(raw);
    }

    // "F" + index + suffix, e.g. fan(1, "Tg") is "F1Tg". The index must lie in 0...9 and the suffix
    // must be two characters; callers validate the index first.
    static SMCKey fan(int index, std::string_view suffix);

    // The diagnostic unlock flag.
    static const SMCKey fanTestMode;

    friend constexpr bool operator==(SMCKey, SMCKey) = default;
    friend constexpr auto operator<=>(SMCKey, SMCKey) = default;
};

} // namespace quorvane

template <> struct std::hash<quorvane::SMCKey> {
    std::size_t operator()(quorvane::SMCKey key) const noexcept {
        return std::hash<std::uint32_t>{}(key.rawValue);
    }
};
