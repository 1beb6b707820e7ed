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
                 const std::vector<std::string>& extraEnvironment, const std::filesystem::path& outputFile)
        : output_(outputFile) {
        std::vector<std::string> argv{program.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<std::string> envp(extraEnvironment);
        for (char** entry = environ; *entry != nullptr; ++entry) {
            envp.emplace_back(*entry);
        }
        std::vector<char*> argvPointers;
        for (auto& text : argv) {
            argvPointers.push_back(text.data());
        }
        argvPointers.push_back(nullptr);
        std::vector<char*> envPointers;
        for (auto& text : envp) {
            envPointers.push_back(text.data());
        }
        envPointers.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        const int failed =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argvPointers.data(), envPointers.data());
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) {
            throw std::runtime_error("cannot start " + program.string());
        }
    }
    ~ChildProcess() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            int ignored;
            ::waitpid(pid_, &ignored, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number) { ::kill(pid_, number); }

    // The exit status once the process ended within the timeout; -signal when a signal ended it.
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!status_) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > end) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
