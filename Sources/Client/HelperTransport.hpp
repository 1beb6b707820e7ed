#pragma once

#include "XPC/HelperMessage.hpp"
#include "XPC/XPCError.hpp"

#include <functional>
#include <memory>

namespace quorvane {

// One connection to the helper. A sent request is answered exactly once, on a transport thread:
// by the helper's response, or by a connection error when the connection fails or was invalidated
// first. Once invalid (by invalidate() or a failure) the connection stays invalid; the invalidation
// handler is called once, on a transport thread.
class HelperTransport {
public:
    using ResponseHandler = std::function<void(const HelperResponse&)>;
    using ConnectionErrorHandler = std::function<void(const XPCError&)>;

    virtual ~HelperTransport() = default;
    virtual void setInvalidationHandler(std::function<void()> handler) = 0;
    virtual void send(HelperRequest request, ResponseHandler onResponse, ConnectionErrorHandler onError) = 0;
    virtual void invalidate() = 0;
};

// Makes a fresh connection whenever the client needs one (the first call, and after invalidation).
using HelperTransportFactory = std::function<std::unique_ptr<HelperTransport>()>;

// The domain of connection errors (the helper's own errors never use it).
inline constexpr const char* helperConnectionErrorDomain = "NSCocoaErrorDomain";
inline constexpr long helperConnectionInterrupted = 4097;
inline constexpr long helperConnectionInvalid = 4099;

} // namespace quorvane
