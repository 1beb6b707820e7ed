#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quorvane {

// Every SMC failure. what() is the message a user sees.
class SMCError : public std::runtime_error {
public:
    enum class Kind {
        connectionFailedWithCode,
        keyNotFound,
        readFailed,
        writeFailed,
        ioKitFailed,
        firmwareFailed,
        unsupportedType,
        connectionFailed,
        notOpen,
        permissionDenied,
        keyCountMismatch,
    };

    static SMCError connectionFailedWithCode(std::uint32_t code);
    static SMCError keyNotFound(const std::string& key);
    static SMCError readFailed(const std::string& detail);
    static SMCError writeFailed(const std::string& detail);
    // With a reason, what() is that sentence.
    static SMCError ioKitFailed(const std::string& operation, std::uint32_t code,
                                const std::string& reason = {});
    static SMCError firmwareFailed(const std::string& operation, const std::string& key, std::uint8_t result);
    static SMCError unsupportedType(const std::string& type);
    static SMCError connectionFailed();
    static SMCError notOpen();
    static SMCError permissionDenied();
    static SMCError keyCountMismatch();

    Kind kind() const { return kind_; }
    // The IOKit code of connectionFailedWithCode and ioKitFailed.
    std::uint32_t code() const { return code_; }
    // The firmware result byte of firmwareFailed.
    std::uint8_t result() const { return result_; }
    // The key, detail, operation or type text the case carries.
    const std::string& text() const { return text_; }
    const std::string& key() const { return key_; }

private:
    SMCError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

    Kind kind_;
    std::uint32_t code_ = 0;
    std::uint8_t result_ = 0;
    std::string text_;
    std::string key_;
};

// Lowercase hexadecimal without leading zeros, as every code is printed.
std::string lowercaseHex(std::uint32_t value);

} // namespace quorvane
