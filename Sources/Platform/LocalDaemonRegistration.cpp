#include "Platform/LocalDaemonRegistration.hpp"

#include "Platform/AtomicTextFile.hpp"
#include "Platform/PlatformServiceError.hpp"
#include "XPC/FanControlXPC.hpp"

#include <system_error>

namespace quorvane {

LocalDaemonRegistration::LocalDaemonRegistration(std::filesystem::path record) : record_(std::move(record)) {}

std::filesystem::path LocalDaemonRegistration::defaultRecord(const UserDirectories& directories) {
    return directories.stateHome() / "quorvane" / "helper-registration";
}

int LocalDaemonRegistration::status() {
    std::error_code error;
    return std::filesystem::exists(record_, error) ? 1 : 0;
}

void LocalDaemonRegistration::registerDaemon(Completion completion) {
    const std::string contents =
        "service=" + FanControlXPC::machServiceName + "\n" + "plist=" + FanControlXPC::daemonPlistName + "\n";
    try {
        AtomicTextFile::write(record_, contents);
    } catch (const std::system_error& error) {
        completion(std::make_exception_ptr(PlatformServiceError(
            "Cannot record the helper registration at " + record_.string() + ": " + error.code().message())));
        return;
    }
    completion(nullptr);
}

void LocalDaemonRegistration::unregisterDaemon(Completion completion) {
    std::error_code error;
    std::filesystem::remove(record_, error);
    if (error) {
        completion(std::make_exception_ptr(PlatformServiceError("Cannot remove the helper registration at " +
                                                                record_.string() + ": " + error.message())));
        return;
    }
    completion(nullptr);
}

} // namespace quorvane
