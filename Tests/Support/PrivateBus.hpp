#pragma once

#include "Platform/SystemCommand.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <systemd/sd-bus.h>
#include <thread>
#include <vector>

namespace quorvane::testing {

// A private message bus in the background for the length of a test; not running without
// dbus-daemon.
class PrivateBus {
public:
    PrivateBus() { start(); }
    ~PrivateBus() { stop(); }

    // A new daemon at the same address, as a session that replaces its bus.
    void start() {
        std::filesystem::remove(directory_.path() / "bus");
        const auto started = SystemCommand::run(
            {"dbus-daemon", "--session", "--fork", "--nopidfile", "--address=" + address(), "--print-pid=1"});
        if (started.exitStatus == 0) {
            daemon_ = std::stoi(started.output);
        }
    }
    // Ends the daemon and waits (bounded) until it has gone.
    void stop() {
        if (daemon_ <= 0) {
            return;
        }
        ::kill(daemon_, SIGTERM);
        for (int turn = 0; turn < 500 && ::kill(daemon_, 0) == 0; ++turn) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        daemon_ = 0;
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return daemon_ > 0; }
    std::string address() const { return "unix:path=" + (directory_.path() / "bus").string(); }

private:
    TemporaryDirectory directory_;
    pid_t daemon_ = 0;
};

// A system service stood in for on a private bus: it owns `name`, serves the objects added before
// start() from a thread of its own, and runs posted work (signals, late replies) on that thread.
class BusService {
public:
    BusService(const PrivateBus& bus, const char* name) {
        ok_ = sd_bus_new(&bus_) >= 0 && sd_bus_set_address(bus_, bus.address().c_str()) >= 0 &&
              sd_bus_set_bus_client(bus_, 1) >= 0 && sd_bus_start(bus_) >= 0 &&
              sd_bus_request_name(bus_, name, 0) >= 0;
    }
    ~BusService() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        sd_bus_flush_close_unref(bus_);
    }
    BusService(const BusService&) = delete;
    BusService& operator=(const BusService&) = delete;

    bool ok() const { return ok_; }
    void addObject(const std::string& path, const char* interface, const sd_bus_vtable* vtable,
                   void* userdata) {
        // A floating slot: the bus frees it.
        ok_ = ok_ && sd_bus_add_object_vtable(bus_, nullptr, path.c_str(), interface, vtable, userdata) >= 0;
    }
    void start() {
        thread_ = std::thread([this] {
            while (!stop_) {
                std::vector<std::function<void(sd_bus*)>> work;
                {
                    std::lock_guard lock(mutex_);
                    work.swap(work_);
                }
                for (auto& task : work) {
                    task(bus_);
                }
                if (sd_bus_process(bus_, nullptr) > 0) {
                    continue;
                }
                sd_bus_wait(bus_, 20'000);
            }
        });
    }
    void post(std::function<void(sd_bus*)> task) {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(task));
    }

private:
    sd_bus* bus_ = nullptr;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::function<void(sd_bus*)>> work_;
    std::thread thread_;
};

} // namespace quorvane::testing
