#include "SMC/SMCError.hpp"

#include <cstdio>

namespace quorvane {

std::string lowercaseHex(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", value);
    return buffer;
}

SMCError SMCError::connectionFailedWithCode(std::uint32_t code) {
    SMCError error(Kind::connectionFailedWithCode,
                   "Failed to open AppleSMC (IOKit 0x" + lowercaseHex(code) + ")");
    error.code_ = code;
    return error;
}

SMCError SMCError::keyNotFound(const std::string& key) {
    SMCError error(Kind::keyNotFound, "SMC key " + key + " was not found");
    error.key_ = key;
    error.text_ = key;
    return error;
}

SMCError SMCError::readFailed(const std::string& detail) {
    SMCError error(Kind::readFailed, "SMC read failed: " + detail);
    error.text_ = detail;
    return error;
}

SMCError SMCError::writeFailed(const std::string& detail) {
    SMCError error(Kind::writeFailed, "SMC write failed: " + detail);
    error.text_ = detail;
    return error;
}

SMCError SMCError::ioKitFailed(const std::string& operation, std::uint32_t code, const std::string& reason) {
    SMCError error(Kind::ioKitFailed,
                   reason.empty() ? operation + " failed (IOKit 0x" + lowercaseHex(code) + ")" : reason);
    error.text_ = operation;
    error.code_ = code;
    return error;
}

SMCError SMCError::firmwareFailed(const std::string& operation, const std::string& key, std::uint8_t result) {
    SMCError error(Kind::firmwareFailed,
                   operation + " failed for " + key + " (SMC result 0x" + lowercaseHex(result) + ")");
    error.text_ = operation;
    error.key_ = key;
    error.result_ = result;
    return error;
}

SMCError SMCError::unsupportedType(const std::string& type) {
    SMCError error(Kind::unsupportedType, "Unsupported SMC data type: " + type);
    error.text_ = type;
    return error;
}

SMCError SMCError::connectionFailed() {
    return SMCError(Kind::connectionFailed, "AppleSMC service was not found");
}

SMCError SMCError::notOpen() {
    return SMCError(Kind::notOpen, "The AppleSMC connection is not open");
}

SMCError SMCError::permissionDenied() {
    return SMCError(Kind::permissionDenied, "Permission denied by AppleSMC");
}

SMCError SMCError::keyCountMismatch() {
    return SMCError(Kind::keyCountMismatch, "SMC key enumeration count did not match #KEY");
}

} // namespace quorvane
