// OrvalithHelper: the privileged daemon, the only process that writes fan keys.
#include "Platform/ClientRequirement.hpp"
#include "Platform/PeerProcess.hpp"
#include "PrivilegedHelper/HelperDaemon.hpp"
#include "PrivilegedHelper/HelperError.hpp"
#include "SMC/SMCError.hpp"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// EX_UNAVAILABLE: this machine has no SMC. The unit lists it in RestartPreventExitStatus=, as
// restarting cannot make one appear.
constexpr int noSMCExitStatus = 69;

} // namespace

int main(int argc, char** argv) {
    using namespace quorvane;
    // systemd starts it without arguments; anything else is a person asking.
    if (argc > 1) {
        const std::string argument = argv[1];
        if (argc == 2 && argument == "--version") {
            std::printf("OrvalithHelper %s\n", QUORVANE_VERSION);
            return 0;
        }
        const char* usage = "usage: OrvalithHelper\n"
                            "       OrvalithHelper --help | --version\n"
                            "Quorvane's privileged fan-control helper, started as root by systemd through\n"
                            "com.orvalith.quorvane.helper.socket. See OrvalithHelper(8).\n";
        const bool help = argc == 2 && (argument == "--help" || argument == "-h");
        std::fputs(usage, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    // A stop that arrives while the app is hashed or the fans are recovered waits for the daemon's
    // handler, which takes it once serving starts; every thread started from here inherits the mask.
    sigset_t stops;
    sigemptyset(&stops);
    for (const int stop : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stops, stop);
    }
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
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
    } catch (const SMCError& error) {
        std::fprintf(stderr, "OrvalithHelper: %s\n", error.what());
        return error.kind() == SMCError::Kind::connectionFailed ? noSMCExitStatus : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "OrvalithHelper: %s\n", error.what());
        return 1;
    }
}
