#pragma once

#include "Platform/DaemonRegistration.hpp"

#include <filesystem>
#include <memory>

namespace quorvane {

// systemd's units when systemd runs this machine (its runtime folder exists), else the local
// registration record under the user's state folder.
std::unique_ptr<DaemonRegistration>
makeDaemonRegistration(const std::filesystem::path& systemdRuntime = "/run/systemd/system");

} // namespace quorvane
