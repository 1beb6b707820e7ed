#pragma once

#include <string>

namespace quorvane {

// Every service, log subsystem, queue label and lock-file name is derived from this.
inline const std::string AppBundleIdentifier = "com.orvalith.quorvane";

} // namespace quorvane
