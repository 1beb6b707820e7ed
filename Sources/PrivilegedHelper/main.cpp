// OrvalithHelper: the privileged daemon, the only process that writes fan keys.
#include "Platform/ClientRequirement.hpp"
#include "Platform/PeerProcess.hpp"
#include "PrivilegedHelper/HelperDaemon.hpp"
#include "PrivilegedHelper/HelperError.hpp"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

int main() {
    using namespace quorvane;
    try {
        if (::geteuid() != 0) {
            throw HelperError::abnormalPreflight("helper must run as root");
        }
        // Pinned now, and again whenever that file changes: a client must run exactly the app that
        // is installed beside this helper.
        const auto requirement =
            ClientRequirement::forAppBeside(std::filesystem::read_symlink("/proc/self/exe"));
        if (!requirement) {
            throw HelperError::unauthorizedClient();
        }
        auto options = HelperDaemonOptions::fromEnvironment();
        options.isAuthorizedClient = [requirement = *requirement](const PeerProcess& peer) {
            return requirement.admits(peer);
        };
        HelperDaemon daemon(std::move(options));
        return daemon.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "OrvalithHelper: %s\n", error.what());
        return 1;
    }
}
