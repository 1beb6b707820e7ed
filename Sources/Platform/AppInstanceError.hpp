#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// The running app refused or failed a request, or could not be reached. what() is the sentence
// the user sees.
class AppInstanceError : public std::runtime_error {
public:
    explicit AppInstanceError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quorvane
