#include "Platform/SystemCommand.hpp"

#include "Platform/FileDescriptor.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorvane {

namespace {

// Owns the spawn file actions for the length of one start.
class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
};

std::string readAll(int descriptor) {
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return output;
        }
        output.append(buffer, static_cast<std::size_t>(count));
    }
}

} // namespace

SystemCommand::Result SystemCommand::run(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return {127, "no program to run\n"};
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return {127, arguments[0] + ": " + std::strerror(errno) + "\n"};
    }
    FileDescriptor readEnd(ends[0]);
    FileDescriptor writeEnd(ends[1]);

    SpawnActions actions;
    ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO);

    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, argv[0], actions.get(), nullptr, argv.data(), environ);
    writeEnd.reset();
    if (spawned != 0) {
        return {127, arguments[0] + ": " + std::strerror(spawned) + "\n"};
    }

    Result result;
    result.output = readAll(readEnd.get());
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace quorvane
