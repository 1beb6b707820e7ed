#pragma once

#include "Platform/SystemCommand.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <csignal>
#include <string>

namespace quorvane::testing {

// A private message bus daemon for the length of a test; not running without dbus-daemon.
class PrivateBus {
public:
    PrivateBus() {
        const auto started = SystemCommand::run(
            {"dbus-daemon", "--session", "--fork", "--nopidfile", "--address=" + address(), "--print-pid=1"});
        if (started.exitStatus == 0) {
            daemon_ = std::stoi(started.output);
        }
    }
    ~PrivateBus() {
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return daemon_ > 0; }
    std::string address() const { return "unix:path=" + (directory_.path() / "bus").string(); }

private:
    TemporaryDirectory directory_;
    pid_t daemon_ = 0;
};

} // namespace quorvane::testing
