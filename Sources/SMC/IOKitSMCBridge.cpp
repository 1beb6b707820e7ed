#include "SMC/IOKitSMCBridge.hpp"

#include "SMC/IOKitReturn.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

namespace quorvane {

namespace {

std::string trimmed(const std::string& text) {
    const auto isSpace = [](unsigned char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    };
    auto begin = std::find_if_not(text.begin(), text.end(), isSpace);
    auto end = std::find_if_not(text.rbegin(), std::string::const_reverse_iterator(begin), isSpace).base();
    return std::string(begin, end);
}

void checkResult(const SMCParamStruct& output, const std::string& operation, const std::string& keyText) {
    const std::uint8_t result = output.result();
    if (result == SMCParamStruct::success) {
        return;
    }
    if (result == SMCParamStruct::keyNotFound) {
        throw SMCError::keyNotFound(keyText);
    }
    throw SMCError::firmwareFailed(operation, keyText, result);
}

float floatFromLittleEndian(const std::vector<std::uint8_t>& bytes) {
    const std::uint32_t bits =
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return std::bit_cast<float>(bits);
}

std::uint16_t bigEndian16(const std::vector<std::uint8_t>& bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::uint32_t bigEndian32(const std::vector<std::uint8_t>& bytes) {
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

SMCError fewerBytes(const std::string& keyText, const SMCKeyInfo& info) {
    return SMCError::readFailed(keyText + " returned fewer than " + std::to_string(info.dataSize) +
                                " bytes for " + IOKitSMCBridge::stringFromCode(info.dataType));
}

bool isFanKey(const std::string& keyName, const char* suffix) {
    return keyName.size() == 4 && keyName[0] == 'F' && keyName[1] >= '0' && keyName[1] <= '9' &&
           keyName.compare(2, 2, suffix) == 0;
}

bool isZeroOrOne(const SMCValue& value) {
    auto byte = value.asUInt8();
    return byte && *byte <= 1;
}

std::string fourCharacters(std::uint32_t raw) {
    std::string text(4, '\0');
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>(raw >> (8 * (3 - i)));
        if (byte > 0x7f) {
            return "????";
        }
        text[i] = static_cast<char>(byte);
    }
    return text;
}

} // namespace

IOKitSMCBridge::IOKitSMCBridge(std::unique_ptr<SMCUserClient> client, SMCWriteCapability writeCapability,
                               AuditHandler writeAuditHandler)
    : client_(std::move(client)), writeCapability_(writeCapability),
      writeAuditHandler_(std::move(writeAuditHandler)) {}

IOKitSMCBridge::~IOKitSMCBridge() {
    close();
}

void IOKitSMCBridge::open() {
    if (isOpen_) {
        return;
    }
    if (!client_ || !client_->serviceExists()) {
        throw SMCError::connectionFailed();
    }
    const std::uint32_t code = client_->open();
    if (code != IOKitReturn::success) {
        throw SMCError::connectionFailedWithCode(code);
    }
    // The transport hides the real handle; any non-zero value marks the connection as held.
    connection_ = 1;
    isOpen_ = true;
}

void IOKitSMCBridge::close() {
    if (isOpen_ && connection_ != 0) {
        client_->close();
        connection_ = 0;
    }
    isOpen_ = false;
}

SMCParamStruct IOKitSMCBridge::call(const SMCParamStruct& input, const std::string& operation,
                                    const std::optional<std::string>& keyText) {
    if (!isOpen_ || connection_ == 0) {
        throw SMCError::notOpen();
    }
    SMCParamStruct output;
    std::size_t outputSize = recordSize;
    const std::uint32_t code =
        client_->callStructMethod(SMCUserClient::smcSelector, input, output, outputSize);
    if (code != IOKitReturn::success) {
        throw SMCError::ioKitFailed(keyText ? operation + " for " + *keyText : operation, code,
                                    client_->failureReason());
    }
    if (outputSize != recordSize) {
        throw SMCError::readFailed(operation + " returned " + std::to_string(outputSize) +
                                   " bytes; expected " + std::to_string(recordSize));
    }
    return output;
}

SMCKeyInfo IOKitSMCBridge::getKeyInfo(SMCKey key) {
    const std::string keyText = stringFromKey(key);
    SMCParamStruct input;
    input.setKey(key.rawValue);
    input.setCommand(SMCParamStruct::keyInfo);
    const SMCParamStruct output = call(input, "read key info", keyText);
    checkResult(output, "read key info", keyText);
    return SMCKeyInfo{key, output.dataSize(), output.dataType(), output.dataAttributes(), keyText};
}

std::vector<std::uint8_t> IOKitSMCBridge::readBytes(SMCKey key, std::uint32_t size) {
    if (size > SMCParamStruct::maxValueSize) {
        throw SMCError::readFailed("SMC values larger than 32 bytes are unsupported");
    }
    const std::string keyText = stringFromKey(key);
    SMCParamStruct input;
    input.setKey(key.rawValue);
    input.setDataSize(size);
    input.setCommand(SMCParamStruct::readBytes);
    const SMCParamStruct output = call(input, "read bytes", keyText);
    checkResult(output, "read bytes", keyText);
    return std::vector<std::uint8_t>(output.bytes().begin(), output.bytes().begin() + size);
}

SMCKey IOKitSMCBridge::getKeyFromIndex(std::uint32_t index) {
    const std::string indexText = std::to_string(index);
    SMCParamStruct input;
    input.setCommand(SMCParamStruct::keyByIndex);
    input.setKeyIndex(index);
    const SMCParamStruct output = call(input, "read key index " + indexText, std::nullopt);
    checkResult(output, "read key index", "#" + indexText);
    return SMCKey(output.key());
}

std::uint32_t IOKitSMCBridge::getKeyCount() {
    const SMCKey countKey = SMCKey::fromString("#KEY");
    const SMCKeyInfo info = getKeyInfo(countKey);
    const auto bytes = readBytes(countKey, info.dataSize);
    if (bytes.size() < 4) {
        throw SMCError::keyCountMismatch();
    }
    return bigEndian32(bytes);
}

std::pair<SMCKeyInfo, std::vector<std::uint8_t>> IOKitSMCBridge::readRaw(SMCKey key) {
    SMCKeyInfo info = getKeyInfo(key);
    auto bytes = readBytes(key, info.dataSize);
    return {std::move(info), std::move(bytes)};
}

SMCValue IOKitSMCBridge::readKey(SMCKey key) {
    // Named references, not a structured binding: clang before 16 cannot capture one in a lambda.
    const auto raw = readRaw(key);
    const SMCKeyInfo& info = raw.first;
    const std::vector<std::uint8_t>& bytes = raw.second;
    const std::string type = trimmedStringFromCode(info.dataType);
    const auto require = [&](std::size_t count) {
        if (bytes.size() < count) {
            throw fewerBytes(info.keyName, info);
        }
    };
    if (type == "flt") {
        require(4);
        return SMCValue::float32(floatFromLittleEndian(bytes));
    }
    if (type == "sp78") {
        require(2);
        return SMCValue::float32(static_cast<float>(static_cast<std::int16_t>(bigEndian16(bytes)) / 256.0));
    }
    if (type == "fpe2" || type == "fp2e") {
        require(2);
        return SMCValue::float32(static_cast<float>(bigEndian16(bytes) / 4.0));
    }
    if (type == "ui8") {
        require(1);
        return SMCValue::uint8(bytes[0]);
    }
    if (type == "ui16") {
        require(2);
        return SMCValue::uint32(bigEndian16(bytes));
    }
    if (type == "ui32") {
        require(4);
        return SMCValue::uint32(bigEndian32(bytes));
    }
    return SMCValue::bytes(bytes);
}

double IOKitSMCBridge::readTemperature(SMCKey key) {
    const auto [info, bytes] = readRaw(key);
    const std::string type = trimmedStringFromCode(info.dataType);
    double value = 0;
    if (type == "flt") {
        if (bytes.size() < 4) {
            throw fewerBytes(info.keyName, info);
        }
        value = floatFromLittleEndian(bytes);
    } else if (type == "sp78") {
        if (bytes.size() < 2) {
            throw fewerBytes(info.keyName, info);
        }
        value = static_cast<std::int16_t>(bigEndian16(bytes)) / 256.0;
    } else {
        throw SMCError::unsupportedType(stringFromCode(info.dataType) + " for " + info.keyName);
    }
    if (!std::isfinite(value)) {
        throw SMCError::readFailed(info.keyName + " returned a non-finite temperature");
    }
    return value;
}

std::int64_t IOKitSMCBridge::readFanRPM(SMCKey key) {
    const auto [info, bytes] = readRaw(key);
    const std::string type = trimmedStringFromCode(info.dataType);
    double value = 0;
    if (type == "flt") {
        if (bytes.size() < 4) {
            throw fewerBytes(info.keyName, info);
        }
        value = floatFromLittleEndian(bytes);
    } else if (type == "fpe2" || type == "fp2e") {
        if (bytes.size() < 2) {
            throw fewerBytes(info.keyName, info);
        }
        value = bigEndian16(bytes) / 4.0;
    } else {
        throw SMCError::unsupportedType(stringFromCode(info.dataType) + " for " + info.keyName);
    }
    // 2^63 is the first double above the largest signed 64-bit integer.
    if (!std::isfinite(value) || value < 0 || value >= 9223372036854775808.0) {
        throw SMCError::readFailed(info.keyName + " returned an invalid RPM");
    }
    return static_cast<std::int64_t>(std::llround(value));
}

void IOKitSMCBridge::writeKey(SMCKey key, const SMCValue& value) {
    performWrite(key, value, true);
}

void IOKitSMCBridge::writeKeyUnverified(SMCKey key, const SMCValue& value) {
    performWrite(key, value, false);
}

void IOKitSMCBridge::performWrite(SMCKey key, const SMCValue& value, bool verifyImmediately) {
    if (writeCapability_ == SMCWriteCapability::disabled) {
        throw SMCError::writeFailed("capability gate is disabled");
    }
    const std::string keyText = stringFromKey(key);
    const std::string valueText = describe(value);
    try {
        const std::string detail = performCheckedWrite(key, keyText, value, verifyImmediately);
        if (writeAuditHandler_) {
            writeAuditHandler_(SMCWriteAuditEvent{keyText, valueText, true, detail});
        }
    } catch (const SMCError& error) {
        if (writeAuditHandler_) {
            writeAuditHandler_(SMCWriteAuditEvent{keyText, valueText, false, error.what()});
        }
        throw;
    }
}

std::string IOKitSMCBridge::performCheckedWrite(SMCKey key, const std::string& keyText, const SMCValue& value,
                                                bool verifyImmediately) {
    const SMCKeyInfo info = getKeyInfo(key);
    validateFanWrite(keyText, value, info, writeCapability_);
    const auto encoded = encodedBytes(value, info);
    if (encoded.size() != info.dataSize) {
        throw SMCError::writeFailed(keyText + " requires " + std::to_string(info.dataSize) +
                                    " bytes, encoder produced " + std::to_string(encoded.size()));
    }

    SMCParamStruct input;
    input.setKey(key.rawValue);
    input.setDataSize(info.dataSize);
    input.setCommand(SMCParamStruct::writeBytes);
    std::copy_n(encoded.begin(), std::min(encoded.size(), SMCParamStruct::maxValueSize),
                input.bytes().begin());
    const SMCParamStruct output = call(input, "write bytes", keyText);
    checkResult(output, "write bytes", keyText);

    if (!verifyImmediately) {
        return "write sent; async application expected";
    }
    const auto readBack = readBytes(key, info.dataSize);
    if (readBack != encoded) {
        throw SMCError::writeFailed(keyText + " readback mismatch: wrote " + hex(encoded) + ", read " +
                                    hex(readBack));
    }
    return "verified readback";
}

void IOKitSMCBridge::validateFanWrite(const std::string& keyName, const SMCValue& value,
                                      const SMCKeyInfo& info, SMCWriteCapability capability) {
    if (info.keyName != keyName || (info.dataAttributes & kSMCAttributeWritable) == 0) {
        throw SMCError::writeFailed(keyName + " metadata does not grant write access");
    }
    const std::string type = stringFromCode(info.dataType);
    if (keyName == "Ftst") {
        if (capability != SMCWriteCapability::privilegedHelper &&
            capability != SMCWriteCapability::ftstUnlockProbe) {
            throw SMCError::writeFailed("Ftst requires an explicit unlock-capable bridge");
        }
        if (info.dataSize != 1 || type != "ui8 " || !isZeroOrOne(value)) {
            throw SMCError::writeFailed("Ftst requires ui8 flag 0 or 1");
        }
        return;
    }
    if (isFanKey(keyName, "Md")) {
        if (info.dataSize != 1 || type != "ui8 " || !isZeroOrOne(value)) {
            throw SMCError::writeFailed(keyName + " requires ui8 mode 0 or 1");
        }
        return;
    }
    if (isFanKey(keyName, "Tg")) {
        auto number = value.asFloat();
        if (info.dataSize != 4 || type != "flt " || !number || !std::isfinite(*number)) {
            throw SMCError::writeFailed(keyName + " requires a finite native-endian flt value");
        }
        return;
    }
    throw SMCError::writeFailed(keyName + " is outside the fan-write allowlist");
}

std::vector<std::uint8_t> IOKitSMCBridge::encodedBytes(const SMCValue& value, const SMCKeyInfo& info) {
    const std::string untrimmedType = stringFromCode(info.dataType);
    const std::string type = trimmed(untrimmedType);
    const std::string& keyText = info.keyName;
    const auto requireSize = [&](std::uint32_t size) {
        if (info.dataSize != size) {
            throw SMCError::writeFailed(keyText + " has unexpected size " + std::to_string(info.dataSize) +
                                        " for " + untrimmedType);
        }
    };

    if (auto number = value.asFloat(); number && type == "flt") {
        requireSize(4);
        if (!std::isfinite(*number)) {
            throw SMCError::writeFailed(keyText + " cannot be written with a non-finite float");
        }
        const auto bits = std::bit_cast<std::uint32_t>(*number);
        return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    }
    if (auto byte = value.asUInt8(); byte && type == "ui8") {
        requireSize(1);
        return {*byte};
    }
    if (auto number = value.asUInt32(); number && type == "ui16") {
        if (info.dataSize != 2 || *number > 0xffff) {
            throw SMCError::writeFailed(keyText + " value does not fit ui16");
        }
        return {static_cast<std::uint8_t>(*number >> 8), static_cast<std::uint8_t>(*number)};
    }
    if (auto number = value.asUInt32(); number && type == "ui32") {
        requireSize(4);
        return {static_cast<std::uint8_t>(*number >> 24), static_cast<std::uint8_t>(*number >> 16),
                static_cast<std::uint8_t>(*number >> 8), static_cast<std::uint8_t>(*number)};
    }
    throw SMCError::writeFailed(keyText + " expects " + untrimmedType + "; incompatible typed value");
}

std::string IOKitSMCBridge::stringFromKey(SMCKey key) {
    return fourCharacters(key.rawValue);
}

std::string IOKitSMCBridge::stringFromCode(std::uint32_t code) {
    return fourCharacters(code);
}

std::string IOKitSMCBridge::trimmedStringFromCode(std::uint32_t code) {
    return trimmed(fourCharacters(code));
}

std::string IOKitSMCBridge::describe(const SMCValue& value) {
    switch (value.kind()) {
    case SMCValue::Kind::float32: {
        const float number = *value.asFloat();
        if (std::isnan(number)) {
            return "nan";
        }
        if (std::isinf(number)) {
            return number < 0 ? "-inf" : "inf";
        }
        // Shortest text that reads back as the same float, with ".0" on whole numbers.
        char buffer[64];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
        std::string text(buffer, ec == std::errc() ? end : buffer);
        if (text.find_first_of(".e") == std::string::npos) {
            text += ".0";
        }
        return text;
    }
    case SMCValue::Kind::uint8:
        return std::to_string(*value.asUInt8());
    case SMCValue::Kind::uint32:
        return std::to_string(*value.asUInt32());
    case SMCValue::Kind::bytes: {
        static const char digits[] = "0123456789ABCDEF";
        const auto bytes = *value.asBytes();
        std::string text;
        for (std::uint8_t byte : bytes) {
            text += digits[byte >> 4];
            text += digits[byte & 0xf];
        }
        return text;
    }
    }
    return "";
}

std::string IOKitSMCBridge::hex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xf];
    }
    return text;
}

} // namespace quorvane
