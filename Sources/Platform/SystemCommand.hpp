#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quorvane {

// Runs a system program to its end and keeps what it printed. Tests put a fake in its place.
class SystemCommand {
public:
    struct Result {
        // The exit status; 128 + the signal for a program killed by one, 127 when it could not start.
        int exitStatus = 0;
        // Standard output and standard error, interleaved as written.
        std::string output;
    };
    using Runner = std::function<Result(const std::vector<std::string>& arguments)>;

    // arguments[0] is looked up on PATH. Standard input is /dev/null.
    static Result run(const std::vector<std::string>& arguments);
};

} // namespace quorvane
