#include "Platform/ClientRequirement.hpp"

#include "Platform/SHA256.hpp"

namespace quorvane {

namespace fs = std::filesystem;

ClientRequirement::ClientRequirement(std::string executableName, std::string sha256)
    : executableName_(std::move(executableName)), sha256_(std::move(sha256)) {}

std::optional<fs::path> ClientRequirement::appBeside(const fs::path& helperExecutable) {
    const fs::path directory = helperExecutable.parent_path();
    for (const fs::path& candidate :
         {directory / appExecutableName, directory / ".." / ".." / "bin" / appExecutableName}) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            return fs::weakly_canonical(candidate, error);
        }
    }
    return std::nullopt;
}

std::optional<ClientRequirement> ClientRequirement::forAppBeside(const fs::path& helperExecutable) {
    auto app = appBeside(helperExecutable);
    if (!app) {
        return std::nullopt;
    }
    auto hash = sha256OfFile(*app);
    if (!hash) {
        return std::nullopt;
    }
    return ClientRequirement(appExecutableName, *hash);
}

bool ClientRequirement::isSatisfiedBy(pid_t process, const fs::path& procRoot) const {
    const fs::path executable = procRoot / std::to_string(process) / "exe";
    std::error_code error;
    const fs::path target = fs::read_symlink(executable, error);
    if (error || target.filename() != executableName_) {
        return false;
    }
    // Hash what the process actually runs, even if the file at its path was replaced since.
    return sha256OfFile(executable) == sha256_;
}

} // namespace quorvane
