#pragma once

#include <string>

namespace quorvane {

// What a bridge may write. The app reads only; the helper may also drive the diagnostic unlock.
enum class SMCWriteCapability { disabled, phase2HardwareTest, privilegedHelper, ftstUnlockProbe };

struct SMCWriteAuditEvent {
    std::string key;
    std::string value;
    bool succeeded = false;
    std::string detail;

    friend bool operator==(const SMCWriteAuditEvent&, const SMCWriteAuditEvent&) = default;
};

} // namespace quorvane
