#pragma once

#include "XPC/HelperMessage.hpp"

#include <functional>
#include <optional>
#include <string>

namespace quorvane {

class HelperControlEngine;

// One per client connection: turns a call into an engine operation and its one answer, and
// remembers the session this connection opened so its loss can end it.
class HelperService {
public:
    // `mayControl` tells whether the person behind this connection may open a session; without it
    // anyone admitted may.
    explicit HelperService(HelperControlEngine& engine, std::function<bool()> mayControl = {})
        : engine_(engine), mayControl_(std::move(mayControl)) {}

    HelperResponse handle(const HelperRequest& request);
    // The connection is gone: end its session, if it still owns one.
    void connectionInvalidated();

    const std::optional<std::string>& sessionID() const { return sessionID_; }

private:
    HelperControlEngine& engine_;
    std::function<bool()> mayControl_;
    std::optional<std::string> sessionID_;
};

} // namespace quorvane
