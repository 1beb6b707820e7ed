#pragma once

#include "Platform/DaemonRegistration.hpp"
#include "Platform/UserDirectories.hpp"

#include <filesystem>

namespace quorvane {

// Where systemd does not run (containers, CI, the embedded demo) the helper is started by hand, and
// its registration is a record file: registering writes it and reports enabled, unregistering
// removes it. Status 1 while the record exists, else 0. Both complete before they return.
class LocalDaemonRegistration final : public DaemonRegistration {
public:
    explicit LocalDaemonRegistration(std::filesystem::path record);

    int status() override;
    // Fails with PlatformServiceError naming the record when it cannot be written.
    void registerDaemon(Completion completion) override;
    // Removing a record that is not there succeeds.
    void unregisterDaemon(Completion completion) override;

    const std::filesystem::path& record() const { return record_; }
    // <state home>/quorvane/helper-registration.
    static std::filesystem::path defaultRecord(const UserDirectories& directories = UserDirectories());

private:
    std::filesystem::path record_;
};

} // namespace quorvane
