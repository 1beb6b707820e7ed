#pragma once

#include "Platform/FileDescriptor.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <systemd/sd-bus.h>
#include <thread>
#include <vector>

namespace quorvane {

// An sd-bus connection served on a thread of its own, since a connection is not safe to share
// between threads: other threads post work to it, and every callback on the bus runs there.
class BusThread {
public:
    using Task = std::function<void(sd_bus* bus)>;
    // Either the reply, or (reply null) the error: the peer's, a timeout, or why it was not sent.
    using ReplyHandler = std::function<void(sd_bus_message* reply, const sd_bus_error* error)>;

    // Connects: the system bus without an address (DBUS_SYSTEM_BUS_ADDRESS, else its standard
    // socket), else the bus at that address. Check connected() before use.
    explicit BusThread(const std::optional<std::string>& address = std::nullopt);
    // Stops the thread and closes the connection; pending replies are dropped unanswered.
    ~BusThread();
    BusThread(const BusThread&) = delete;
    BusThread& operator=(const BusThread&) = delete;

    bool connected() const { return bus_ != nullptr; }
    // Why the connection failed, as a negative errno.
    int connectionError() const { return connectionError_; }

    // Until start(), the connection belongs to the caller's thread for setting up matches.
    sd_bus* bus() const { return bus_.get(); }
    void start();
    // Runs the task on the bus thread, in the order posted. Once the connection is lost, tasks still
    // run and their calls fail at once.
    void post(Task task);

    // Sends the method call on the calling (bus) thread; the handler gets the answer there. A call
    // that cannot be sent is answered at once with the error.
    static void call(sd_bus* bus, sd_bus_message* method, ReplyHandler handler,
                     std::uint64_t timeoutMicroseconds = 0);

private:
    struct BusRelease {
        void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
    };

    void run();
    void wake();

    // Before the connection, which sets it.
    int connectionError_ = 0;
    std::unique_ptr<sd_bus, BusRelease> bus_;
    FileDescriptor wakeup_;
    std::mutex mutex_;
    std::vector<Task> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace quorvane
