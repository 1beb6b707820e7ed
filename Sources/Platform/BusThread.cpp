#include "Platform/BusThread.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/SignalFreeThread.hpp"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

namespace quorvane {

namespace {

const Logger logger(AppBundleIdentifier, "Bus");

sd_bus* connect(const std::optional<std::string>& address, int& result) {
    sd_bus* bus = nullptr;
    if (!address) {
        result = sd_bus_open_system(&bus);
        return result < 0 ? nullptr : bus;
    }
    if ((result = sd_bus_new(&bus)) < 0) {
        return nullptr;
    }
    if ((result = sd_bus_set_address(bus, address->c_str())) < 0 ||
        (result = sd_bus_set_bus_client(bus, 1)) < 0 || (result = sd_bus_start(bus)) < 0) {
        sd_bus_unref(bus);
        return nullptr;
    }
    return bus;
}

// Milliseconds until sd-bus wants to run again (a call's timeout), or -1 for no deadline.
int pollTimeout(sd_bus* bus) {
    std::uint64_t deadline = 0;
    if (sd_bus_get_timeout(bus, &deadline) < 0 || deadline == UINT64_MAX) {
        return -1;
    }
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t current =
        static_cast<std::uint64_t>(now.tv_sec) * 1000000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
    return deadline <= current ? 0 : static_cast<int>((deadline - current + 999) / 1000);
}

int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    const auto& handler = *static_cast<BusThread::ReplyHandler*>(userdata);
    if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
        handler(nullptr, error);
    } else {
        handler(reply, nullptr);
    }
    return 0;
}

void deleteHandler(void* userdata) {
    delete static_cast<BusThread::ReplyHandler*>(userdata);
}

} // namespace

BusThread::BusThread(const std::optional<std::string>& address)
    : bus_(connect(address, connectionError_)), wakeup_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (bus_ && !wakeup_) {
        connectionError_ = -errno;
        bus_.reset();
    }
}

BusThread::~BusThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable()) {
        wake();
        thread_.join();
    }
}

void BusThread::start() {
    if (bus_ && !thread_.joinable()) {
        thread_ = startSignalFreeThread([this] { run(); });
    }
}

void BusThread::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake();
}

void BusThread::wake() {
    const std::uint64_t one = 1;
    while (::write(wakeup_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void BusThread::call(sd_bus* bus, sd_bus_message* method, ReplyHandler handler,
                     std::uint64_t timeoutMicroseconds) {
    // The slot floats on the bus and frees the handler when it goes, answered or not.
    auto owned = std::make_unique<ReplyHandler>(std::move(handler));
    sd_bus_slot* slot = nullptr;
    const int result = sd_bus_call_async(bus, &slot, method, onReply, owned.get(), timeoutMicroseconds);
    if (result < 0) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_error_set_errno(&error, result);
        (*owned)(nullptr, &error);
        sd_bus_error_free(&error);
        return;
    }
    sd_bus_slot_set_destroy_callback(slot, deleteHandler);
    owned.release();
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
}

void BusThread::run() {
    bool lost = false;
    for (;;) {
        std::vector<Task> tasks;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            tasks.swap(tasks_);
        }
        for (auto& task : tasks) {
            task(bus_.get());
        }
        if (!lost) {
            const int processed = sd_bus_process(bus_.get(), nullptr);
            if (processed < 0) {
                logger.error("lost the bus: " + std::string(std::strerror(-processed)));
                lost = true;
            } else if (processed > 0) {
                continue;
            }
        }
        pollfd descriptors[2] = {
            {wakeup_.get(), POLLIN, 0},
            {lost ? -1 : sd_bus_get_fd(bus_.get()),
             lost ? short(0) : static_cast<short>(sd_bus_get_events(bus_.get())), 0},
        };
        if (::poll(descriptors, 2, lost ? -1 : pollTimeout(bus_.get())) < 0 && errno != EINTR) {
            logger.error("cannot wait on the bus: " + std::string(std::strerror(errno)));
            return;
        }
        if (descriptors[0].revents != 0) {
            std::uint64_t count = 0;
            while (::read(wakeup_.get(), &count, sizeof count) < 0 && errno == EINTR) {
            }
        }
    }
}

} // namespace quorvane
