#include "PrivilegedHelper/HelperError.hpp"

#include "XPC/HelperXPCError.hpp"

namespace quorvane {

HelperError HelperError::unsupportedHardware(const std::string& text) {
    return HelperError(Kind::unsupportedHardware, "Unsupported fan hardware: " + text);
}

HelperError HelperError::abnormalPreflight(const std::string& text) {
    return HelperError(Kind::abnormalPreflight, "Fan preflight is abnormal: " + text);
}

HelperError HelperError::controlUnavailable(const std::string& text) {
    return HelperError(Kind::controlUnavailable, text);
}

HelperError HelperError::unauthorizedClient() {
    return HelperError(Kind::unauthorizedClient, "The XPC client failed code-signature validation");
}

HelperError HelperError::busy() {
    return HelperError(Kind::busy, "Another control session is active");
}

HelperError HelperError::invalidSession() {
    return HelperError(Kind::invalidSession, "The helper control session is invalid or expired");
}

HelperError HelperError::invalidFan() {
    return HelperError(Kind::invalidFan, "The requested fan does not exist on this machine");
}

HelperError HelperError::notPermitted() {
    return HelperError(Kind::notPermitted, HelperXPCError::notPermittedSentence);
}

long HelperError::wireCode() const {
    using Code = HelperXPCError::Code;
    switch (kind_) {
    case Kind::unsupportedHardware:
        return static_cast<long>(Code::unsupportedHardware);
    case Kind::abnormalPreflight:
        return static_cast<long>(Code::abnormalPreflight);
    case Kind::controlUnavailable:
        return static_cast<long>(Code::controlUnavailable);
    case Kind::unauthorizedClient:
        return static_cast<long>(Code::unauthorizedClient);
    case Kind::busy:
        return static_cast<long>(Code::busy);
    case Kind::invalidSession:
        return static_cast<long>(Code::invalidSession);
    case Kind::invalidFan:
        return static_cast<long>(Code::invalidFan);
    case Kind::notPermitted:
        return static_cast<long>(Code::notPermitted);
    }
    return static_cast<long>(Code::internalFailure);
}

XPCError HelperError::xpcError() const {
    return XPCError(HelperXPCError::domain(), wireCode(), std::string(what()));
}

XPCError transportError(const std::exception& error) {
    if (const auto* helperError = dynamic_cast<const HelperError*>(&error)) {
        return helperError->xpcError();
    }
    return XPCError(HelperXPCError::domain(), static_cast<long>(HelperXPCError::Code::internalFailure),
                    std::string(error.what()));
}

} // namespace quorvane
