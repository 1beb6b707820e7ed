#pragma once

#include <string>
#include <sys/types.h>

namespace quorvane {

// A running fan utility of another vendor.
struct CompetingFanController {
    std::string name;
    std::string executablePath;
    pid_t processIdentifier = 0;

    friend bool operator==(const CompetingFanController&, const CompetingFanController&) = default;
};

} // namespace quorvane
