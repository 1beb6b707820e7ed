#pragma once

#include "Helpers/ProcessTable.hpp"

#include <filesystem>

namespace quorvane {

// Processes from /proc: numeric entries, each executable read through its "exe" link, which only
// root or the process's owner may follow; "cmdline" and "comm" are readable by everyone.
class ProcFSProcessTable final : public ProcessTable {
public:
    explicit ProcFSProcessTable(std::filesystem::path root = "/proc") : root_(std::move(root)) {}

    std::vector<pid_t> processIdentifiers() override;
    std::optional<std::string> executablePath(pid_t process) override;
    std::optional<std::string> commandName(pid_t process) override;
    std::optional<std::string> processName(pid_t process) override;
    pid_t ownProcessIdentifier() override;

private:
    std::filesystem::path root_;
};

} // namespace quorvane
