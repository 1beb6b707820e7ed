#pragma once

#include "Helpers/Clock.hpp"
#include "Platform/DaemonRegistration.hpp"

#include <ostream>

namespace quorvane {

// Scripted repair of a stale helper registration: unregister, then register with up to three
// attempts two seconds apart, reporting each outcome. Returns the exit status.
int refreshHelperRegistration(DaemonRegistration& registration, std::ostream& output, std::ostream& errors,
                              Clock& clock);

} // namespace quorvane
