#include "Platform/ProcFSProcessTable.hpp"

#include <charconv>
#include <fstream>
#include <unistd.h>

namespace quorvane {

namespace {

// The kernel marks the link of a process whose file was replaced or removed since it started (a
// daemon whose package was upgraded); the process still runs that program.
constexpr std::string_view deletedMark = " (deleted)";

std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    // Enough for a command's first word; the rest is of no interest.
    std::string content(4096, '\0');
    file.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(file.gcount()));
    return content;
}

} // namespace

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
    std::string path = target.string();
    if (path.ends_with(deletedMark)) {
        path.resize(path.size() - deletedMark.size());
    }
    return path;
}

std::optional<std::string> ProcFSProcessTable::commandName(pid_t process) {
    auto arguments = readSmallFile(root_ / std::to_string(process) / "cmdline");
    if (!arguments) {
        return std::nullopt;
    }
    // Arguments are NUL-separated; kernel threads and zombies have none.
    std::string first = arguments->substr(0, arguments->find('\0'));
    if (first.empty()) {
        return std::nullopt;
    }
    return first;
}

std::optional<std::string> ProcFSProcessTable::processName(pid_t process) {
    auto name = readSmallFile(root_ / std::to_string(process) / "comm");
    if (!name) {
        return std::nullopt;
    }
    if (name->ends_with('\n')) {
        name->pop_back();
    }
    if (name->empty()) {
        return std::nullopt;
    }
    return name;
}

pid_t ProcFSProcessTable::ownProcessIdentifier() {
    return ::getpid();
}

} // namespace quorvane
