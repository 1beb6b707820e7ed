#include "Platform/UserDirectories.hpp"

#include "Platform/PlatformServiceError.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

std::optional<std::string> passwordDatabaseHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir || !*found->pw_dir) {
        return std::nullopt;
    }
    return std::string(found->pw_dir);
}

} // namespace

UserDirectories::UserDirectories(Environment environment) : environment_(std::move(environment)) {}

std::optional<std::string> UserDirectories::processEnvironment(const std::string& name) {
    if (const char* value = std::getenv(name.c_str())) {
        return std::string(value);
    }
    return std::nullopt;
}

std::filesystem::path UserDirectories::configHome() const {
    return baseFolder("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path UserDirectories::stateHome() const {
    return baseFolder("XDG_STATE_HOME", std::filesystem::path(".local") / "state");
}

std::optional<std::filesystem::path> UserDirectories::runtimeDirectory() const {
    auto folder = environment_("XDG_RUNTIME_DIR");
    if (folder && std::filesystem::path(*folder).is_absolute()) {
        return std::filesystem::path(*folder);
    }
    return std::nullopt;
}

std::filesystem::path UserDirectories::baseFolder(const std::string& variable,
                                                  const std::filesystem::path& fallback) const {
    auto folder = environment_(variable);
    if (folder && !folder->empty() && std::filesystem::path(*folder).is_absolute()) {
        return *folder;
    }
    auto home = environment_("HOME");
    if (!home || home->empty()) {
        home = passwordDatabaseHome();
    }
    if (!home) {
        throw PlatformServiceError("No home folder is known for this user");
    }
    return std::filesystem::path(*home) / fallback;
}

} // namespace quorvane
