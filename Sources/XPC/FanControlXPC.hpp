#pragma once

#include "Helpers/AppIdentity.hpp"

#include <string>

namespace quorvane::FanControlXPC {

// Where the helper listens; also the error domain of everything it sends.
inline const std::string machServiceName = AppBundleIdentifier + ".helper";
// The name the daemon is registered under.
inline const std::string daemonPlistName = AppBundleIdentifier + ".helper.plist";
// The identity the helper requires of its client.
inline const std::string clientBundleIdentifier = AppBundleIdentifier;
inline constexpr int protocolVersion = 1;
// The lease: fans go back to the system when a session's client is silent for longer than this.
inline constexpr double watchdogSeconds = 12.0;
inline constexpr double heartbeatSeconds = 4.0;

} // namespace quorvane::FanControlXPC
