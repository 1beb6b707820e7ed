#pragma once

#include <exception>
#include <string>

namespace quorvane::testing {

// The what() of the `Error` an operation throws, or "no error"; any other exception propagates.
template <typename Error = std::exception, typename Operation> std::string messageOf(Operation&& operation) {
    try {
        operation();
    } catch (const Error& error) {
        return error.what();
    }
    return "no error";
}

} // namespace quorvane::testing
