#include "Platform/ProcFSProcessTable.hpp"

#include <charconv>
#include <unistd.h>

namespace quorvane {

std::vector<pid_t> ProcFSProcessTable::processIdentifiers() {
    std::vector<pid_t> identifiers;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(root_, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        pid_t process = 0;
        auto [rest, parsed] = std::from_chars(name.data(), name.data() + name.size(), process);
        if (parsed == std::errc() && rest == name.data() + name.size() && process > 0) {
            identifiers.push_back(process);
        }
    }
    return identifiers;
}

std::optional<std::string> ProcFSProcessTable::executablePath(pid_t process) {
    std::error_code error;
    auto target = std::filesystem::read_symlink(root_ / std::to_string(process) / "exe", error);
    if (error || target.empty()) {
        return std::nullopt;
    }
    return target.string();
}

pid_t ProcFSProcessTable::ownProcessIdentifier() {
    return ::getpid();
}

} // namespace quorvane
