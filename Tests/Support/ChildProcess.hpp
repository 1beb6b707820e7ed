#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quorvane::testing {

// A program started for a test, its output in a file; killed and reaped when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 std::vector<std::string> environment, const std::filesystem::path& outputFile)
        : output_(outputFile) {
        std::vector<std::string> argv{program.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        for (char** entry = environ; *entry != nullptr; ++entry) {
            environment.emplace_back(*entry); // after the test's own, which win
        }
        const auto pointers = [](std::vector<std::string>& texts) {
            std::vector<char*> list;
            for (auto& text : texts) {
                list.push_back(text.data());
            }
            list.push_back(nullptr);
            return list;
        };
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        const int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, pointers(argv).data(),
                                       pointers(environment).data());
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) {
            throw std::runtime_error("cannot start " + program.string());
        }
    }
    ~ChildProcess() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number) { ::kill(pid_, number); }

    // The exit status once the process ended within the timeout; -signal when a signal ended it.
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (int status = 0; !status_; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            } else if (std::chrono::steady_clock::now() > end) {
                return std::nullopt;
            }
        }
        return status_;
    }

    std::string output() const {
        std::ifstream file(output_);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

private:
    pid_t pid_ = 0;
    std::optional<int> status_;
    std::filesystem::path output_;
};

} // namespace quorvane::testing
