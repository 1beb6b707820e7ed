#include "Platform/ProcFSProcessTable.hpp"

#include "Platform/FileDescriptor.hpp"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace quorvane {

namespace {

// The kernel marks the link of a process whose file was replaced or removed since it started (a
// daemon whose package was upgraded); the process still runs that program.
constexpr std::string_view deletedMark = " (deleted)";

// The start of a small file under /proc, read with plain calls: the scan reads one of these for
// every process on every pass, so it stays one open, one read and one close.
std::optional<std::string> readStart(const std::string& path, std::size_t limit) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file) {
        return std::nullopt;
    }
    std::string content(limit, '\0');
    ssize_t got = 0;
    do {
        got = ::read(file.get(), content.data(), content.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return std::nullopt;
    }
    content.resize(static_cast<std::size_t>(got));
    return content;
}

// The value of a "Key:\t..." line of /proc/<pid>/status.
std::string_view field(std::string_view status, std::string_view key) {
    for (std::size_t start = 0; start < status.size();) {
        const std::size_t end = std::min(status.find('\n', start), status.size());
        const std::string_view line = status.substr(start, end - start);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == ':') {
            return line.substr(key.size() + 1);
        }
        start = end + 1;
    }
    return {};
}

} // namespace

std::string ProcFSProcessTable::file(pid_t process, const char* name) const {
    return prefix_ + std::to_string(process) + "/" + name;
}

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
    auto target = std::filesystem::read_symlink(file(process, "exe"), error);
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
    // Enough for a command's first word; the rest is of no interest.
    auto arguments = readStart(file(process, "cmdline"), 4096);
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
    // At most 15 characters and a newline.
    auto name = readStart(file(process, "comm"), 64);
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

std::optional<ProcessStatus> ProcFSProcessTable::status(pid_t process) {
    // "State" and "Uid" come within the first lines.
    const auto text = readStart(file(process, "status"), 4096);
    if (!text) {
        return std::nullopt;
    }
    const std::string_view state = field(*text, "State");
    std::string_view uids = field(*text, "Uid");
    ProcessStatus status;
    const auto first = state.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    // Z: exited, not yet reaped; X: being torn down.
    status.zombie = state[first] == 'Z' || state[first] == 'X';
    for (uid_t* id : {&status.realUID, &status.effectiveUID, &status.savedUID}) {
        const auto start = uids.find_first_not_of(" \t");
        if (start == std::string_view::npos) {
            return std::nullopt;
        }
        uids.remove_prefix(start);
        auto [rest, parsed] = std::from_chars(uids.data(), uids.data() + uids.size(), *id);
        if (parsed != std::errc()) {
            return std::nullopt;
        }
        uids.remove_prefix(static_cast<std::size_t>(rest - uids.data()));
    }
    return status;
}

pid_t ProcFSProcessTable::ownProcessIdentifier() {
    return ::getpid();
}

} // namespace quorvane
