#include "PrivilegedHelper/HelperService.hpp"

#include "PrivilegedHelper/HelperControlEngine.hpp"
#include "PrivilegedHelper/HelperError.hpp"

#include <limits>

namespace quorvane {

namespace {

// An index that does not fit is no fan at all, never a wrapped-around small one.
int fanIndex(std::int64_t requested) {
    if (requested < std::numeric_limits<int>::min() || requested > std::numeric_limits<int>::max()) {
        return -1;
    }
    return static_cast<int>(requested);
}

} // namespace

HelperResponse HelperService::handle(const HelperRequest& request) {
    HelperResponse response;
    response.id = request.id;
    try {
        std::optional<HelperReply> reply;
        switch (request.selector) {
        case HelperSelector::status:
            reply = engine_.status();
            break;
        case HelperSelector::beginSession:
            // Asked at every start: whoever sat at the machine when the connection opened may be
            // gone by now. The supervised test runs in a session too.
            if (mayControl_ && !mayControl_()) {
                throw HelperError::notPermitted();
            }
            reply = engine_.beginSession(request.sessionID);
            sessionID_ = request.sessionID;
            break;
        case HelperSelector::heartbeat:
            engine_.heartbeat(request.sessionID);
            break;
        case HelperSelector::setFanMode:
            reply = engine_.setMode(fanIndex(request.fanIndex), request.manual, request.sessionID);
            break;
        case HelperSelector::setFanTargetRPM:
            reply = engine_.setTarget(fanIndex(request.fanIndex), request.rpm, request.sessionID);
            break;
        case HelperSelector::resetAll:
            reply = engine_.resetAll(request.sessionID);
            break;
        case HelperSelector::endSession:
            engine_.endSession(request.sessionID);
            sessionID_.reset();
            break;
        case HelperSelector::prepareForUninstall:
            engine_.prepareForUninstall();
            sessionID_.reset();
            break;
        }
        if (reply) {
            response.reply = reply->dictionary();
        }
    } catch (const std::exception& error) {
        response.error = transportError(error);
    }
    return response;
}

void HelperService::connectionInvalidated() {
    engine_.clientDisconnected(sessionID_);
}

} // namespace quorvane
