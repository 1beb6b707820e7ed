#pragma once

#include "Helpers/ProcessTable.hpp"

#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

namespace quorvane::testing {

// A process list the test writes; pid 1 is the test itself unless told otherwise. A process
// without a path is one whose executable cannot be read; it may still have a command and a name.
class FakeProcessTable final : public ProcessTable {
public:
    std::vector<std::pair<pid_t, std::optional<std::string>>> processes;
    std::map<pid_t, std::string> commands;
    std::map<pid_t, std::string> names;
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
    std::optional<std::string> commandName(pid_t process) override { return lookup(commands, process); }
    std::optional<std::string> processName(pid_t process) override { return lookup(names, process); }
    pid_t ownProcessIdentifier() override { return own; }

private:
    static std::optional<std::string> lookup(const std::map<pid_t, std::string>& table, pid_t process) {
        auto found = table.find(process);
        return found == table.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
};

} // namespace quorvane::testing
