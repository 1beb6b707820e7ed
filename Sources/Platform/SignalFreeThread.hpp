#pragma once

#include <functional>
#include <thread>

namespace quorvane {

// A worker thread that never takes SIGTERM, SIGINT or SIGHUP: those belong to the main loop, which
// turns them into an orderly shutdown.
std::thread startSignalFreeThread(std::function<void()> body);

} // namespace quorvane
