#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// A setting that could not be stored. what() is the sentence the user sees.
class DefaultsStoreError : public std::runtime_error {
public:
    // The settings file at `location` could not be written; `reason` is the system's explanation.
    static DefaultsStoreError saveFailed(const std::string& location, const std::string& reason);
    // The value cannot be represented in the store (for instance text that is not UTF-8).
    static DefaultsStoreError unrepresentable(const std::string& key, const std::string& reason);

private:
    explicit DefaultsStoreError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quorvane
