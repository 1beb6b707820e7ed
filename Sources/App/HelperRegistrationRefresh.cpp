#include "App/HelperRegistrationRefresh.hpp"

#include <future>

namespace quorvane {

namespace {

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

int refreshHelperRegistration(DaemonRegistration& registration, std::ostream& output, std::ostream& errors,
                              Clock& clock) {
    std::promise<std::exception_ptr> unregistered;
    registration.unregisterDaemon(
        [&unregistered](std::exception_ptr error) { unregistered.set_value(error); });
    if (auto error = unregistered.get_future().get()) {
        errors << "Quorvane helper unregister failed: " << describe(error) << "\n";
        return 1;
    }
    for (int attempt = 1; attempt <= 3; ++attempt) {
        std::promise<std::exception_ptr> registered;
        registration.registerDaemon([&registered](std::exception_ptr error) { registered.set_value(error); });
        if (auto error = registered.get_future().get()) {
            errors << "Quorvane helper register failed (attempt " << attempt << "): " << describe(error)
                   << "\n";
        } else {
            output << "Quorvane helper registration refreshed: " << registration.status() << "\n";
            return 0;
        }
        if (attempt < 3) {
            clock.sleepFor(2000);
        }
    }
    return 1;
}

} // namespace quorvane
