// helper-call: a scripted client of the helper for end-to-end tests. Each argument is one step:
//   status | begin ID | mode FAN 0|1 ID | sleep MS
// Every answer is printed as one JSON line; a closed connection prints "closed" and exits 3.
#include "Platform/FramedSocketClient.hpp"
#include "XPC/HelperMessage.hpp"

#include <chrono>
#include <cstdlib>
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
        if (step == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(next().c_str())));
            continue;
        } else if (step == "status") {
            request.selector = HelperSelector::status;
        } else if (step == "begin") {
            request.selector = HelperSelector::beginSession;
            request.sessionID = next();
        } else if (step == "mode") {
            request.selector = HelperSelector::setFanMode;
            request.fanIndex = std::atol(next().c_str());
            request.manual = next() == "1";
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
