#pragma once

#include "XPC/XPCError.hpp"

#include <optional>
#include <string>

namespace quorvane::HelperXPCError {

enum class Code : long {
    unauthorizedClient = 0,
    busy = 1,
    invalidSession = 2,
    invalidFan = 3,
    unsupportedHardware = 4,
    abnormalPreflight = 5,
    controlUnavailable = 6,
    notPermitted = 7,
    internalFailure = 99,
};

// The helper's error domain.
const std::string& domain();

// What a user who may not take the fans reads, from the helper and in the app alike.
inline constexpr const char* notPermittedSentence =
    "Only the person at this Mac's active desktop session can control its fans.";

// Accepts 0...7 and 99 only.
std::optional<Code> codeFromRaw(long raw);

// A helper error of this domain carrying the helper's own description.
XPCError make(Code code, const std::string& description);

// Turns an error received from the helper into one whose description is a sentence for the user.
XPCError readable(const XPCError& error);

// True for a helper error with the invalid-session code.
bool isInvalidSession(const XPCError& error);

} // namespace quorvane::HelperXPCError
