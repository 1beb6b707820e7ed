#pragma once

#include <string>

namespace quorvane {

// printf-style text for log lines and user messages, so the numbers read the same everywhere: a
// decimal point whatever the locale says.
std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace quorvane
