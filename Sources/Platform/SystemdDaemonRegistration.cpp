#include "Platform/SystemdDaemonRegistration.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/BusThread.hpp"
#include "Platform/PlatformServiceError.hpp"

#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

namespace quorvane {

namespace {

const Logger logger(AppBundleIdentifier, "Setup");

constexpr const char* systemd = "org.freedesktop.systemd1";
constexpr const char* managerPath = "/org/freedesktop/systemd1";
constexpr const char* managerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* unitInterface = "org.freedesktop.systemd1.Unit";
// Long enough for a person to answer polkit's password dialog.
constexpr std::uint64_t approvalTimeoutMicroseconds = 5ull * 60 * 1000 * 1000;
// The state is refreshed from systemd's signals; this only covers a signal that never came.
constexpr auto staleStatus = std::chrono::seconds(30);

struct MessageRelease {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageRelease>;
struct SlotRelease {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotRelease>;

std::string describe(const sd_bus_error* error) {
    if (error->message != nullptr && *error->message != '\0') {
        return error->message;
    }
    return error->name != nullptr ? error->name : "systemd did not answer";
}

// What the user can do about a refusal; systemd's own text where there is nothing better to say.
std::string refusalSentence(const sd_bus_error* error) {
    const std::string command = "sudo systemctl enable --now " + SystemdDaemonRegistration::socketUnit();
    if (sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired")) {
        return "Approving the helper needs an administrator's password, and no authentication agent is "
               "running to ask for it. Start your desktop's polkit agent and try again, or run: " +
               command;
    }
    if (sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.AccessDenied")) {
        return "You are not allowed to start the helper. Ask an administrator to run: " + command;
    }
    return describe(error);
}

std::string unitPath(const std::string& unit) {
    char* path = nullptr;
    if (sd_bus_path_encode("/org/freedesktop/systemd1/unit", unit.c_str(), &path) < 0) {
        return {};
    }
    std::string result(path);
    std::free(path);
    return result;
}

// One method call of an operation; append adds its arguments.
struct Step {
    std::string path;
    std::string interface;
    std::string member;
    std::function<int(sd_bus_message*)> append;
    std::uint64_t timeout = approvalTimeoutMicroseconds;
};

Step managerStep(std::string member, std::function<int(sd_bus_message*)> append) {
    return Step{managerPath, managerInterface, std::move(member), std::move(append)};
}

int appendUnits(sd_bus_message* message, std::vector<std::string> units) {
    std::vector<char*> list;
    for (auto& unit : units) {
        list.push_back(unit.data());
    }
    list.push_back(nullptr);
    return sd_bus_message_append_strv(message, list.data());
}

} // namespace

// Lives on the bus thread once started: only the atomics are read from other threads.
struct SystemdDaemonRegistration::Connection {
    explicit Connection(const std::optional<std::string>& address) : bus(address) {}

    std::string socketPath = unitPath(socketUnit());
    std::atomic<int> status{unknownStatus};
    std::atomic<std::chrono::steady_clock::rep> lastRefresh{0};
    std::atomic<bool> refreshing{false};
    bool refreshAgain = false;
    std::vector<std::function<void()>> afterRefresh;
    // The socket as last read; the bus thread's alone.
    UnitState unit;
    std::vector<Slot> matches;
    // Last, so its thread stops before anything it uses goes.
    BusThread bus;

    void start() {
        if (!bus.connected()) {
            logger.error("cannot reach systemd: " + std::string(std::strerror(-bus.connectionError())));
            return;
        }
        sd_bus_set_allow_interactive_authorization(bus.bus(), 1);
        // Enabling or disabling any unit, a reload, or the socket's own state moving.
        const std::vector<std::pair<std::string, std::string>> signals{
            {managerPath, "UnitFilesChanged"}, {managerPath, "Reloading"}, {socketPath, "PropertiesChanged"}};
        for (const auto& [path, member] : signals) {
            sd_bus_slot* slot = nullptr;
            const char* interface =
                member == "PropertiesChanged" ? "org.freedesktop.DBus.Properties" : managerInterface;
            if (sd_bus_match_signal(bus.bus(), &slot, systemd, path.c_str(), interface, member.c_str(),
                                    &Connection::onChange, this) >= 0) {
                matches.emplace_back(slot);
            }
        }
        bus.start();
        bus.post([this](sd_bus* connection) {
            // systemd sends its change signals only once someone has subscribed.
            run(connection, {managerStep("Subscribe", nullptr)}, 0, [](const sd_bus_error*) {});
            refresh(connection, nullptr);
        });
    }

    static int onChange(sd_bus_message* message, void* userdata, sd_bus_error*) {
        static_cast<Connection*>(userdata)->refresh(sd_bus_message_get_bus(message), nullptr);
        return 0;
    }

    // Runs steps[index...] in order; done gets the first error, or null.
    void run(sd_bus* connection, std::vector<Step> steps, std::size_t index,
             std::function<void(const sd_bus_error*)> done) {
        if (index == steps.size()) {
            done(nullptr);
            return;
        }
        const Step& step = steps[index];
        sd_bus_message* raw = nullptr;
        int result = sd_bus_message_new_method_call(connection, &raw, systemd, step.path.c_str(),
                                                    step.interface.c_str(), step.member.c_str());
        Message method(raw);
        if (result >= 0 && step.append) {
            result = step.append(raw);
        }
        if (result < 0) {
            sd_bus_error error = SD_BUS_ERROR_NULL;
            sd_bus_error_set_errno(&error, result);
            done(&error);
            sd_bus_error_free(&error);
            return;
        }
        const auto timeout = step.timeout;
        BusThread::call(
            connection, raw,
            [this, connection, steps = std::move(steps), index, done](sd_bus_message*,
                                                                      const sd_bus_error* error) mutable {
                if (error) {
                    done(error);
                    return;
                }
                run(connection, std::move(steps), index + 1, std::move(done));
            },
            timeout);
    }

    // Reads the socket's state again, then runs `then`. Refreshes asked for meanwhile are folded into
    // one more.
    void refresh(sd_bus* connection, std::function<void()> then) {
        if (then) {
            afterRefresh.push_back(std::move(then));
        }
        if (refreshing.exchange(true)) {
            refreshAgain = true;
            return;
        }
        refreshAgain = false;
        // Loading makes systemd answer for a unit nothing has loaded yet.
        const auto load = managerStep("LoadUnit", [](sd_bus_message* message) {
            return sd_bus_message_append(message, "s", socketUnit().c_str());
        });
        run(connection, {load}, 0, [this, connection](const sd_bus_error* error) {
            if (error) {
                logger.error("cannot find the helper's socket in systemd: " + describe(error));
                refreshed(connection, sd_bus_error_has_name(error, "org.freedesktop.systemd1.NoSuchUnit")
                                          ? 3
                                          : unknownStatus);
                return;
            }
            readState(connection);
        });
    }

    void readState(sd_bus* connection) {
        sd_bus_message* raw = nullptr;
        int result = sd_bus_message_new_method_call(connection, &raw, systemd, socketPath.c_str(),
                                                    "org.freedesktop.DBus.Properties", "GetAll");
        Message method(raw);
        if (result >= 0) {
            result = sd_bus_message_append(raw, "s", unitInterface);
        }
        if (result < 0) {
            refreshed(connection, unknownStatus);
            return;
        }
        BusThread::call(
            connection, raw, [this, connection](sd_bus_message* reply, const sd_bus_error* error) {
                if (error) {
                    logger.error("cannot read the helper's socket from systemd: " + describe(error));
                    refreshed(connection, unknownStatus);
                    return;
                }
                unit = {};
                parse(reply, unit);
                refreshed(connection, statusOf(unit));
            });
    }

    static void parse(sd_bus_message* reply, UnitState& unit) {
        if (sd_bus_message_enter_container(reply, 'a', "{sv}") < 0) {
            return;
        }
        while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(reply, "s", &name) < 0) {
                return;
            }
            std::string* field = std::strcmp(name, "LoadState") == 0       ? &unit.loadState
                                 : std::strcmp(name, "ActiveState") == 0   ? &unit.activeState
                                 : std::strcmp(name, "UnitFileState") == 0 ? &unit.unitFileState
                                                                           : nullptr;
            const char* value = nullptr;
            if (field != nullptr && sd_bus_message_read(reply, "v", "s", &value) >= 0) {
                *field = value;
            } else if (sd_bus_message_skip(reply, "v") < 0) {
                return;
            }
            if (sd_bus_message_exit_container(reply) < 0) {
                return;
            }
        }
        sd_bus_message_exit_container(reply);
    }

    void refreshed(sd_bus* connection, int value) {
        status = value;
        lastRefresh = std::chrono::steady_clock::now().time_since_epoch().count();
        refreshing = false;
        if (refreshAgain) {
            refresh(connection, nullptr);
            return;
        }
        auto waiting = std::move(afterRefresh);
        afterRefresh.clear();
        for (auto& then : waiting) {
            then();
        }
    }

    // Reads the socket's state first and runs only the steps `plan` says are missing from it; a plan
    // that throws is the operation's failure.
    void operateOnCurrent(std::string what, std::function<std::vector<Step>(const UnitState&)> plan,
                          Completion completion) {
        if (!bus.connected()) {
            operate(std::move(what), {}, std::move(completion));
            return;
        }
        bus.post([this, what = std::move(what), plan = std::move(plan),
                  completion = std::move(completion)](sd_bus* connection) mutable {
            refresh(connection, [this, what, plan, completion] {
                std::vector<Step> steps;
                try {
                    steps = plan(unit);
                } catch (const PlatformServiceError&) {
                    completion(std::current_exception());
                    return;
                }
                operate(what, std::move(steps), completion);
            });
        });
    }

    // Runs the steps, reads the state again and reports.
    void operate(std::string what, std::vector<Step> steps, Completion completion) {
        if (!bus.connected()) {
            completion(std::make_exception_ptr(PlatformServiceError(
                "Cannot reach systemd: " + std::string(std::strerror(-bus.connectionError())))));
            return;
        }
        bus.post([this, what = std::move(what), steps = std::move(steps),
                  completion = std::move(completion)](sd_bus* connection) mutable {
            run(connection, std::move(steps), 0,
                [this, connection, what, completion](const sd_bus_error* error) {
                    std::exception_ptr failure;
                    if (error) {
                        logger.notice(what + " refused by systemd: " + describe(error));
                        failure = std::make_exception_ptr(PlatformServiceError(refusalSentence(error)));
                    }
                    refresh(connection, [completion, failure] { completion(failure); });
                });
        });
    }
};

SystemdDaemonRegistration::SystemdDaemonRegistration(std::optional<std::string> busAddress)
    : connection_(std::make_shared<Connection>(busAddress)) {
    connection_->start();
}

SystemdDaemonRegistration::~SystemdDaemonRegistration() = default;

std::string SystemdDaemonRegistration::serviceUnit() {
    return AppBundleIdentifier + ".helper.service";
}

std::string SystemdDaemonRegistration::socketUnit() {
    return AppBundleIdentifier + ".helper.socket";
}

int SystemdDaemonRegistration::statusOf(const UnitState& unit) {
    if (unit.loadState == "not-found") {
        return 3;
    }
    if (unit.loadState == "masked" || unit.unitFileState.rfind("masked", 0) == 0) {
        return 2;
    }
    const bool enabled = unit.unitFileState == "enabled" || unit.unitFileState == "enabled-runtime";
    const bool listening = unit.activeState == "active" || unit.activeState == "reloading";
    if (enabled && listening) {
        return 1;
    }
    if (enabled || unit.unitFileState == "disabled") {
        return 0;
    }
    return unknownStatus;
}

int SystemdDaemonRegistration::status() {
    auto& connection = *connection_;
    const auto age = std::chrono::steady_clock::now().time_since_epoch() -
                     std::chrono::steady_clock::duration(connection.lastRefresh.load());
    if (connection.bus.connected() && age > staleStatus && !connection.refreshing) {
        connection.bus.post([&connection](sd_bus* bus) { connection.refresh(bus, nullptr); });
    }
    return connection.status;
}

// Each step is one polkit question, so only what is missing is asked: the package normally enabled
// the socket already, leaving only its start.
void SystemdDaemonRegistration::registerDaemon(Completion completion) {
    connection_->operateOnCurrent(
        "registering the helper",
        [](const UnitState& unit) {
            if (statusOf(unit) == 2) {
                throw PlatformServiceError("An administrator has masked the helper's socket. To use it, run: "
                                           "sudo systemctl unmask " +
                                           socketUnit() + " && sudo systemctl enable --now " + socketUnit());
            }
            std::vector<Step> steps;
            if (unit.unitFileState != "enabled" && unit.unitFileState != "enabled-runtime") {
                steps.push_back(managerStep("EnableUnitFiles", [](sd_bus_message* message) {
                    const int result = appendUnits(message, {socketUnit()});
                    return result < 0 ? result : sd_bus_message_append(message, "bb", 0, 0);
                }));
                steps.push_back(managerStep("Reload", nullptr));
            }
            if (unit.activeState != "active" && unit.activeState != "reloading") {
                steps.push_back(managerStep("StartUnit", [](sd_bus_message* message) {
                    return sd_bus_message_append(message, "ss", socketUnit().c_str(), "replace");
                }));
            }
            return steps;
        },
        std::move(completion));
}

void SystemdDaemonRegistration::unregisterDaemon(Completion completion) {
    const auto stop = [](std::string unit) {
        return managerStep("StopUnit", [unit](sd_bus_message* message) {
            return sd_bus_message_append(message, "ss", unit.c_str(), "replace");
        });
    };
    connection_->operate(
        "removing the helper",
        {managerStep("DisableUnitFiles",
                     [](sd_bus_message* message) {
                         const int result = appendUnits(message, {socketUnit(), serviceUnit()});
                         return result < 0 ? result : sd_bus_message_append(message, "b", 0);
                     }),
         managerStep("Reload", nullptr), stop(socketUnit()), stop(serviceUnit())},
        std::move(completion));
}

} // namespace quorvane
