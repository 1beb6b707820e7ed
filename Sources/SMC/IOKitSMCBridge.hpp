#pragma once

#include "SMC/SMCError.hpp"
#include "SMC/SMCInterface.hpp"
#include "SMC/SMCParamStruct.hpp"
#include "SMC/SMCUserClient.hpp"
#include "SMC/SMCWriteCapability.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvane {

// The SMC over a user-client transport: 80-byte records, decoding by data type, and the write
// policy (capability gate, fan-key allow-list, read-back verification, audit).
class IOKitSMCBridge final : public SMCInterface {
public:
    using AuditHandler = std::function<void(const SMCWriteAuditEvent&)>;

    explicit IOKitSMCBridge(std::unique_ptr<SMCUserClient> client,
                            SMCWriteCapability writeCapability = SMCWriteCapability::disabled,
                            AuditHandler writeAuditHandler = {});
    ~IOKitSMCBridge() override;
    IOKitSMCBridge(const IOKitSMCBridge&) = delete;
    IOKitSMCBridge& operator=(const IOKitSMCBridge&) = delete;

    bool isOpen() const { return isOpen_; }
    std::uint32_t connection() const { return connection_; }
    SMCWriteCapability writeCapability() const { return writeCapability_; }

    void open() override;
    void close() override;
    SMCValue readKey(SMCKey key) override;
    void writeKey(SMCKey key, const SMCValue& value) override;
    void writeKeyUnverified(SMCKey key, const SMCValue& value) override;
    SMCKeyInfo getKeyInfo(SMCKey key) override;
    SMCKey getKeyFromIndex(std::uint32_t index) override;
    std::uint32_t getKeyCount() override;
    double readTemperature(SMCKey key) override;
    std::int64_t readFanRPM(SMCKey key) override;

    // Four bytes, most significant first, as ASCII; "????" when they are not ASCII.
    static std::string stringFromKey(SMCKey key);
    // The same for a data-type code; codes keep their trailing blank ("flt ").
    static std::string stringFromCode(std::uint32_t code);
    // The type text with surrounding white space removed ("flt"), as decoding compares it.
    static std::string trimmedStringFromCode(std::uint32_t code);
    // The allow-list on its own: which keys, types and values a bridge with this capability may write.
    static void validateFanWrite(const std::string& keyName, const SMCValue& value, const SMCKeyInfo& info,
                                 SMCWriteCapability capability);
    static std::vector<std::uint8_t> encodedBytes(const SMCValue& value, const SMCKeyInfo& info);
    // A value as the audit log shows it: decimal numbers, or uppercase hex bytes without separators.
    static std::string describe(const SMCValue& value);
    // Bytes as messages show them: uppercase hex pairs separated by blanks.
    static std::string hex(std::span<const std::uint8_t> bytes);

    static constexpr std::uint32_t recordSize = SMCParamStruct::size;

private:
    SMCParamStruct call(const SMCParamStruct& input, const std::string& operation,
                        const std::optional<std::string>& keyText);
    std::vector<std::uint8_t> readBytes(SMCKey key, std::uint32_t size);
    // Key info plus the raw value, as every typed read starts.
    std::pair<SMCKeyInfo, std::vector<std::uint8_t>> readRaw(SMCKey key);
    void performWrite(SMCKey key, const SMCValue& value, bool verifyImmediately);
    std::string performCheckedWrite(SMCKey key, const std::string& keyText, const SMCValue& value,
                                    bool verifyImmediately);

    std::unique_ptr<SMCUserClient> client_;
    std::uint32_t connection_ = 0;
    bool isOpen_ = false;
    SMCWriteCapability writeCapability_;
    AuditHandler writeAuditHandler_;
};

} // namespace quorvane
