#pragma once

#include "XPC/HelperMessage.hpp"

#include <optional>
#include <string>

namespace quorvane {

class HelperControlEngine;

// One per client connection: turns a call into an engine operation and its one answer, and
// remembers the session this connection opened so its loss can end it.
class HelperService {
public:
    explicit HelperService(HelperControlEngine& engine) : engine_(engine) {}

    HelperResponse handle(const HelperRequest& request);
    // The connection is gone: end its session, if it still owns one.
    void connectionInvalidated();

    const std::optional<std::string>& sessionID() const { return sessionID_; }

private:
    HelperControlEngine& engine_;
    std::optional<std::string> sessionID_;
};

} // namespace quorvane
