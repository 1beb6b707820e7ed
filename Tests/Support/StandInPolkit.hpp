#pragma once

#include "Support/PrivateBus.hpp"

#include <cstdint>
#include <mutex>
#include <string>

namespace quorvane::testing {

// polkit's authority on a private bus: answers every CheckAuthorization with `authorized` and keeps
// the last question.
class StandInPolkit {
public:
    struct Question {
        std::string subjectKind;
        std::uint32_t pid = 0;
        std::uint64_t startTime = 0;
        bool byPidfd = false;
        std::string action;
        std::uint32_t flags = 0;
    };

    StandInPolkit(const PrivateBus& bus, bool authorized)
        : authorized_(authorized), service_(bus, "org.freedesktop.PolicyKit1") {
        service_.addObject("/org/freedesktop/PolicyKit1/Authority", "org.freedesktop.PolicyKit1.Authority",
                           vtable, this);
        service_.start();
    }

    bool ok() const { return service_.ok(); }
    Question lastQuestion() {
        std::lock_guard lock(mutex_);
        return last_;
    }

private:
    static int check(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& polkit = *static_cast<StandInPolkit*>(userdata);
        Question question;
        const char* text = nullptr;
        sd_bus_message_enter_container(message, 'r', "sa{sv}");
        sd_bus_message_read(message, "s", &text);
        question.subjectKind = text;
        sd_bus_message_enter_container(message, 'a', "{sv}");
        while (sd_bus_message_enter_container(message, 'e', "sv") > 0 &&
               sd_bus_message_read(message, "s", &text)) {
            const std::string key = text;
            int pidfd = -1;
            if (key == "pid") {
                sd_bus_message_read(message, "v", "u", &question.pid);
            } else if (key == "start-time") {
                sd_bus_message_read(message, "v", "t", &question.startTime);
            } else if (key == "pidfd") {
                question.byPidfd = sd_bus_message_read(message, "v", "h", &pidfd) > 0 && pidfd >= 0;
            } else {
                sd_bus_message_skip(message, "v");
            }
            sd_bus_message_exit_container(message);
        }
        sd_bus_message_exit_container(message);
        sd_bus_message_exit_container(message);
        sd_bus_message_read(message, "s", &text);
        question.action = text;
        sd_bus_message_skip(message, "a{ss}");
        sd_bus_message_read(message, "u", &question.flags);
        {
            std::lock_guard lock(polkit.mutex_);
            polkit.last_ = question;
        }
        return sd_bus_reply_method_return(message, "(bba{ss})", static_cast<int>(polkit.authorized_), 0, 0);
    }

    static constexpr sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("CheckAuthorization", "(sa{sv})sa{ss}us", "(bba{ss})", check,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };

    bool authorized_;
    std::mutex mutex_;
    Question last_;
    BusService service_;
};

} // namespace quorvane::testing
