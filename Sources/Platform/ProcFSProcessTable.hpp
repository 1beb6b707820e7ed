#pragma once

#include "Helpers/ProcessTable.hpp"

#include <filesystem>

namespace quorvane {

// Processes from /proc: numeric entries, each executable read through its "exe" link, which only
// root or the process's owner may follow; "cmdline", "comm" and "status" are readable by everyone.
class ProcFSProcessTable final : public ProcessTable {
public:
    explicit ProcFSProcessTable(std::filesystem::path root = "/proc")
        : root_(std::move(root)), prefix_(root_.string() + "/") {}

    std::vector<pid_t> processIdentifiers() override;
    std::optional<std::string> executablePath(pid_t process) override;
    std::optional<std::string> commandName(pid_t process) override;
    std::optional<std::string> processName(pid_t process) override;
    std::optional<ProcessStatus> status(pid_t process) override;
    pid_t ownProcessIdentifier() override;

private:
    std::string file(pid_t process, const char* name) const;

    std::filesystem::path root_;
    std::string prefix_;
};

} // namespace quorvane
