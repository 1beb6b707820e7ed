#include "Platform/ConsoleNotificationCenter.hpp"

namespace quorvane {

void ConsoleNotificationCenter::requestAuthorization(
    std::function<void(bool granted, std::optional<std::string> error)> answer) {
    answer(true, std::nullopt);
}

void ConsoleNotificationCenter::deliver(const std::string&, const std::string& title, const std::string& body,
                                        std::function<void(std::optional<std::string> error)> completion) {
    bool written = false;
    {
        std::lock_guard lock(mutex_);
        output_ << "Notification: " << title << ": " << body << std::endl;
        written = static_cast<bool>(output_);
    }
    if (completion) {
        completion(written ? std::nullopt : std::optional<std::string>("Standard output is not writable"));
    }
}

} // namespace quorvane
