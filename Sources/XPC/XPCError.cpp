#include "XPC/XPCError.hpp"

namespace quorvane {

XPCError::XPCError(std::string domain, long code, std::optional<std::string> localizedDescription,
                   std::optional<std::string> debugDescription)
    : std::runtime_error(localizedDescription ? *localizedDescription : genericDescription(domain, code)),
      domain_(std::move(domain)), code_(code), localizedDescription_(std::move(localizedDescription)),
      debugDescription_(std::move(debugDescription)) {}

std::string XPCError::genericDescription(const std::string& domain, long code) {
    return "The operation couldn’t be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

} // namespace quorvane
