#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace quorvane {

// An error as it crosses the helper connection: a domain, a numeric code and the two descriptions
// a user-info dictionary carries. what() is the localized description, or a generic text without one.
class XPCError : public std::runtime_error {
public:
    XPCError(std::string domain, long code, std::optional<std::string> localizedDescription = std::nullopt,
             std::optional<std::string> debugDescription = std::nullopt);

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const std::optional<std::string>& localizedDescription() const { return localizedDescription_; }
    const std::optional<std::string>& debugDescription() const { return debugDescription_; }

    friend bool operator==(const XPCError& lhs, const XPCError& rhs) {
        return lhs.domain_ == rhs.domain_ && lhs.code_ == rhs.code_ &&
               lhs.localizedDescription_ == rhs.localizedDescription_ &&
               lhs.debugDescription_ == rhs.debugDescription_;
    }

    // The text shown when no description came with the error, as the platform words it.
    static std::string genericDescription(const std::string& domain, long code);

private:
    std::string domain_;
    long code_;
    std::optional<std::string> localizedDescription_;
    std::optional<std::string> debugDescription_;
};

} // namespace quorvane
