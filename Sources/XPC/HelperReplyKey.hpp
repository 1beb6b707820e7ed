#pragma once

namespace quorvane::HelperReplyKey {

inline constexpr const char* protocolVersion = "protocolVersion";
inline constexpr const char* fanCount = "fanCount";
inline constexpr const char* fans = "fans";
inline constexpr const char* fanTestMode = "fanTestMode";

inline constexpr const char* fanIndex = "index";
inline constexpr const char* fanMode = "mode";
inline constexpr const char* fanActual = "actual";
inline constexpr const char* fanMinimum = "minimum";
inline constexpr const char* fanMaximum = "maximum";
inline constexpr const char* fanTarget = "target";
inline constexpr const char* fanControllable = "controllable";

inline constexpr const char* fan0Mode = "fan0Mode";
inline constexpr const char* fan0Actual = "fan0Actual";
inline constexpr const char* fan0Minimum = "fan0Minimum";
inline constexpr const char* fan0Maximum = "fan0Maximum";
inline constexpr const char* fan0Target = "fan0Target";
inline constexpr const char* fan1Mode = "fan1Mode";
inline constexpr const char* fan1Actual = "fan1Actual";
inline constexpr const char* fan1Minimum = "fan1Minimum";
inline constexpr const char* fan1Maximum = "fan1Maximum";
inline constexpr const char* fan1Target = "fan1Target";

} // namespace quorvane::HelperReplyKey
