#pragma once

#include "Helpers/ProcessTable.hpp"

#include <algorithm>
#include <map>
#include <ranges>
#include <stdexcept>
#include <utility>
#include <vector>

namespace quorvane::testing {

// A process list the test writes; pid 1 is the test itself unless told otherwise. A process
// without a path is one whose executable cannot be read; it may still have a command and a name.
// As the kernel does, a process is named after its executable's file name unless told otherwise,
// and runs as root unless given another status.
class FakeProcessTable final : public ProcessTable {
public:
    std::vector<std::pair<pid_t, std::optional<std::string>>> processes;
    std::map<pid_t, std::string> commands;
    std::map<pid_t, std::string> names;
    std::map<pid_t, ProcessStatus> statuses;
    pid_t own = 1;
    bool failListing = false;

    std::vector<pid_t> processIdentifiers() override {
        if (failListing) {
            throw std::runtime_error("listing failed");
        }
        const auto ids = processes | std::views::keys;
        return {ids.begin(), ids.end()};
    }
    std::optional<std::string> executablePath(pid_t process) override {
        const auto found = std::ranges::find(processes, process, &decltype(processes)::value_type::first);
        return found == processes.end() ? std::nullopt : found->second;
    }
    std::optional<std::string> commandName(pid_t process) override { return lookup(commands, process); }
    std::optional<std::string> processName(pid_t process) override {
        if (auto name = lookup(names, process)) {
            return name;
        }
        auto path = executablePath(process);
        return path ? std::optional<std::string>(path->substr(path->rfind('/') + 1).substr(0, 15))
                    : std::nullopt;
    }
    std::optional<ProcessStatus> status(pid_t process) override {
        auto found = statuses.find(process);
        return found == statuses.end() ? ProcessStatus{} : found->second;
    }
    pid_t ownProcessIdentifier() override { return own; }

private:
    static std::optional<std::string> lookup(const std::map<pid_t, std::string>& table, pid_t process) {
        auto found = table.find(process);
        return found == table.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
};

} // namespace quorvane::testing
