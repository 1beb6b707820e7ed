#pragma once

#include "SMC/SMCKey.hpp"

#include <cstdint>
#include <string>

namespace quorvane {

inline constexpr std::uint8_t kSMCAttributeReadable = 0x80;
inline constexpr std::uint8_t kSMCAttributeWritable = 0x40;

struct SMCKeyInfo {
    SMCKey key;
    std::uint32_t dataSize = 0;
    std::uint32_t dataType = 0; // four-character code packed like a key, e.g. "flt "
    std::uint8_t dataAttributes = 0;
    std::string keyName;

    friend bool operator==(const SMCKeyInfo&, const SMCKeyInfo&) = default;
};

} // namespace quorvane
