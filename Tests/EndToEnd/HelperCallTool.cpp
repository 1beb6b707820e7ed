// helper-call: a scripted client of the helper for end-to-end tests. Each argument is one step:
//   status | begin ID | heartbeat ID | mode FAN 0|1 ID | target FAN RPM ID | reset ID | end ID | sleep MS
//   | await PATH (waits up to a minute for the file to appear)
// Every answer is printed as one JSON line; a closed connection prints "closed" and exits 3.
#include "Platform/FramedSocketClient.hpp"
#include "XPC/HelperMessage.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

using namespace quorvane;

int main(int argc, char** argv) {
    const char* path = std::getenv("QUORVANE_HELPER_SOCKET");
    FramedSocketClient connection(path != nullptr ? path : "/var/run/com.orvalith.quorvane.helper.sock",
                                  std::chrono::seconds(60), maxHelperMessageSize);
    if (!connection.connect()) {
        std::cout << "unreachable" << std::endl;
        return 2;
    }
    const std::vector<std::string> steps(argv + 1, argv + argc);
    std::uint64_t id = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto next = [&] {
            return i + 1 < steps.size() ? steps[++i] : std::string();
        };
        HelperRequest request;
        request.id = ++id;
        const std::string& step = steps[i];
        if (step == "await") {
            const std::string path = next();
            for (int waited = 0; waited < 6000 && !std::filesystem::exists(path); ++waited) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            continue;
        }
        if (step == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(next().c_str())));
            continue;
        } else if (step == "status") {
            request.selector = HelperSelector::status;
        } else if (step == "begin" || step == "heartbeat" || step == "reset" || step == "end") {
            request.selector = step == "begin"       ? HelperSelector::beginSession
                               : step == "heartbeat" ? HelperSelector::heartbeat
                               : step == "reset"     ? HelperSelector::resetAll
                                                     : HelperSelector::endSession;
            request.sessionID = next();
        } else if (step == "mode") {
            request.selector = HelperSelector::setFanMode;
            request.fanIndex = std::atol(next().c_str());
            request.manual = next() == "1";
            request.sessionID = next();
        } else if (step == "target") {
            request.selector = HelperSelector::setFanTargetRPM;
            request.fanIndex = std::atol(next().c_str());
            request.rpm = std::atol(next().c_str());
            request.sessionID = next();
        } else {
            std::cerr << "unknown step " << step << std::endl;
            return 64;
        }
        const auto answer = connection.request(encodeHelperMessage(request.toJSON()));
        if (!answer) {
            std::cout << "closed" << std::endl;
            return 3;
        }
        std::cout << decodeHelperMessage(*answer).dump() << std::endl;
    }
    return 0;
}
