#include "XPC/HelperXPCError.hpp"

#include "XPC/FanControlXPC.hpp"

namespace quorvane::HelperXPCError {

namespace {

bool isHelperDomain(const std::string& candidate) {
    static const std::string suffix = "HelperError";
    return candidate == domain() ||
           (candidate.size() >= suffix.size() &&
            candidate.compare(candidate.size() - suffix.size(), suffix.size(), suffix) == 0);
}

const char* sentence(Code code) {
    switch (code) {
    case Code::unauthorizedClient:
        return "Quorvane could not verify the privileged helper connection.";
    case Code::busy:
        return "Another fan-control session is active. Quit any other fan utility and try again.";
    case Code::invalidSession:
        return "The fan-control session expired. Quorvane returned the fans to Automatic; try the preset "
               "again.";
    case Code::invalidFan:
        return "The selected fan is no longer available.";
    case Code::unsupportedHardware:
        return "The helper found a fan that can be monitored but not safely controlled.";
    case Code::abnormalPreflight:
        return "Quorvane stopped because the preflight fan readings were abnormal.";
    case Code::controlUnavailable:
        return "macOS rejected manual fan control. Quorvane returned all fans to Apple Default. Close other "
               "fan-control utilities and select the preset again.";
    case Code::notPermitted:
        return notPermittedSentence;
    case Code::internalFailure:
        return "The privileged helper could not complete the fan-control request.";
    }
    return "";
}

} // namespace

const std::string& domain() {
    return FanControlXPC::machServiceName;
}

std::optional<Code> codeFromRaw(long raw) {
    if ((raw >= 0 && raw <= 7) || raw == 99) {
        return static_cast<Code>(raw);
    }
    return std::nullopt;
}

XPCError make(Code code, const std::string& description) {
    return XPCError(domain(), static_cast<long>(code), description);
}

XPCError readable(const XPCError& error) {
    if (!isHelperDomain(error.domain())) {
        return error;
    }
    const auto code = codeFromRaw(error.code());
    if (!code) {
        return error;
    }
    const auto& received = error.localizedDescription();
    const bool keepsOwnSentence = *code == Code::unsupportedHardware || *code == Code::abnormalPreflight ||
                                  *code == Code::controlUnavailable || *code == Code::internalFailure;
    if (keepsOwnSentence && received && received->find("HelperError error") == std::string::npos) {
        return error;
    }
    return XPCError(domain(), error.code(), std::string(sentence(*code)), received);
}

bool isInvalidSession(const XPCError& error) {
    return isHelperDomain(error.domain()) && error.code() == static_cast<long>(Code::invalidSession);
}

} // namespace quorvane::HelperXPCError
