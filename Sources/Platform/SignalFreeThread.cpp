#include "Platform/SignalFreeThread.hpp"

#include <csignal>
#include <pthread.h>

namespace quorvane {

std::thread startSignalFreeThread(std::function<void()> body) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGHUP);
    sigset_t previous;
    // A new thread inherits the mask of the thread that starts it.
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

} // namespace quorvane
