#pragma once

#include "Helpers/ProcessTable.hpp"

#include <stdexcept>
#include <utility>
#include <vector>

namespace quorvane::testing {

// A process list the test writes; pid 1 is the test itself unless told otherwise.
class FakeProcessTable final : public ProcessTable {
public:
    std::vector<std::pair<pid_t, std::optional<std::string>>> processes;
    pid_t own = 1;
    bool failListing = false;

    std::vector<pid_t> processIdentifiers() override {
        if (failListing) {
            throw std::runtime_error("listing failed");
        }
        std::vector<pid_t> ids;
        for (const auto& entry : processes) {
            ids.push_back(entry.first);
        }
        return ids;
    }
    std::optional<std::string> executablePath(pid_t process) override {
        for (const auto& [pid, path] : processes) {
            if (pid == process) {
                return path;
            }
        }
        return std::nullopt;
    }
    pid_t ownProcessIdentifier() override { return own; }
};

} // namespace quorvane::testing
