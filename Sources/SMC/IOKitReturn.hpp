#pragma once

#include <cstdint>

namespace quorvane {

// Kernel-style return codes a user-client transport answers with.
namespace IOKitReturn {
inline constexpr std::uint32_t success = 0;
inline constexpr std::uint32_t error = 0xe00002bc;
inline constexpr std::uint32_t notPrivileged = 0xe00002c1;
inline constexpr std::uint32_t badArgument = 0xe00002c2;
inline constexpr std::uint32_t notOpen = 0xe00002cd;
inline constexpr std::uint32_t notResponding = 0xe00002ed;
} // namespace IOKitReturn

} // namespace quorvane
