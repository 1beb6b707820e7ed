#include "Helpers/UUID.hpp"

#include <random>

namespace quorvane {

namespace {

// Positions of the four dashes in the 36-character text.
constexpr bool isDashPosition(std::size_t position) {
    return position == 8 || position == 13 || position == 18 || position == 23;
}

std::optional<std::uint8_t> hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return std::nullopt;
}

std::mt19937_64& generator() {
    // One generator per thread, seeded from the system's entropy source.
    thread_local std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    return engine;
}

} // namespace

UUID UUID::generate() {
    Bytes bytes{};
    auto& engine = generator();
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t word = engine();
        for (std::size_t i = 0; i < 8; ++i) {
            bytes[half * 8 + i] = static_cast<std::uint8_t>(word >> (8 * i));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return UUID(bytes);
}

std::optional<UUID> UUID::parse(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Bytes bytes{};
    std::size_t byteIndex = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (isDashPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        auto high = hexDigit(text[i]);
        auto low = hexDigit(text[i + 1]);
        if (!high || !low || isDashPosition(i + 1)) {
            return std::nullopt;
        }
        bytes[byteIndex++] = static_cast<std::uint8_t>((*high << 4) | *low);
        i += 2;
    }
    return UUID(bytes);
}

std::string UUID::uuidString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(digits[bytes_[i] >> 4]);
        text.push_back(digits[bytes_[i] & 0x0F]);
    }
    return text;
}

} // namespace quorvane

std::size_t std::hash<quorvane::UUID>::operator()(const quorvane::UUID& uuid) const noexcept {
    std::uint64_t value = 1469598103934665603ULL; // FNV-1a
    for (auto byte : uuid.bytes()) {
        value = (value ^ byte) * 1099511628211ULL;
    }
    return static_cast<std::size_t>(value);
}
