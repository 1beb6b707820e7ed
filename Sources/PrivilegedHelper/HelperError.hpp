#pragma once

#include "XPC/XPCError.hpp"

#include <exception>
#include <stdexcept>
#include <string>

namespace quorvane {

// Every refusal of the helper engine. what() is the description the client receives.
class HelperError : public std::runtime_error {
public:
    enum class Kind {
        unsupportedHardware,
        abnormalPreflight,
        controlUnavailable,
        unauthorizedClient,
        busy,
        invalidSession,
        invalidFan,
        notPermitted,
    };

    static HelperError unsupportedHardware(const std::string& text);
    static HelperError abnormalPreflight(const std::string& text);
    static HelperError controlUnavailable(const std::string& text);
    static HelperError unauthorizedClient();
    static HelperError busy();
    static HelperError invalidSession();
    static HelperError invalidFan();
    // The person behind the client may not take the fans of this shared machine.
    static HelperError notPermitted();

    Kind kind() const { return kind_; }
    // The code the error carries on the wire.
    long wireCode() const;
    XPCError xpcError() const;

private:
    HelperError(Kind kind, const std::string& description) : std::runtime_error(description), kind_(kind) {}
    Kind kind_;
};

// What the client receives for any failure: a helper error as itself, anything else as an internal
// failure carrying the error's own message.
XPCError transportError(const std::exception& error);

} // namespace quorvane
