#pragma once

#include "Client/HelperTransport.hpp"
#include "XPC/XPCError.hpp"

#include <optional>
#include <string>

namespace quorvane {

// A failure of the connection itself rather than an answer of the helper: interrupted when the
// helper went away under a call, invalid when the connection was closed or never came up. `detail`
// says what the system reported.
inline XPCError helperConnectionError(long code, std::optional<std::string> detail = std::nullopt) {
    std::string description = code == helperConnectionInterrupted
                                  ? "The connection to the privileged helper was interrupted."
                                  : "The connection to the privileged helper was invalidated.";
    return XPCError(helperConnectionErrorDomain, code, std::move(description), std::move(detail));
}

} // namespace quorvane
