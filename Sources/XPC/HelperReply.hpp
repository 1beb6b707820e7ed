#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace quorvane {

// One fan as the helper reports it.
struct HelperFanStatus {
    int index = 0;
    int mode = 0; // 0 automatic, 1 manual
    std::int64_t actual = 0;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::optional<std::int64_t> target;
    bool controllable = false;

    friend bool operator==(const HelperFanStatus&, const HelperFanStatus&) = default;
};

// The dictionary every status-returning operation answers with.
struct HelperReply {
    int protocolVersion = 1;
    std::vector<HelperFanStatus> fans;
    // Present exactly when the machine has the diagnostic key.
    std::optional<int> fanTestMode;

    friend bool operator==(const HelperReply&, const HelperReply&) = default;

    // The wire dictionary, flat "fan0..."/"fan1..." copies included.
    nlohmann::json dictionary() const;
    // Reads a dictionary back; nullopt when a required key is missing or of the wrong type.
    static std::optional<HelperReply> fromDictionary(const nlohmann::json& dictionary);
};

} // namespace quorvane
