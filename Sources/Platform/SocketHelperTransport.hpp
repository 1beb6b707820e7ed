#pragma once

#include "Client/HelperTransport.hpp"

#include <memory>
#include <string>

namespace quorvane {

// One connection to the helper daemon's local socket, full duplex, with an I/O thread of its own.
// Requests may be sent from any thread and go out in sending order; each carries an id of this
// connection, and responses are matched by it. The connection is made on the first send.
//
// When the connection cannot be made, closes, breaks, or receives anything that is not a response
// to an outstanding request, every outstanding request is answered with a connection error
// (interrupted when the helper went away under it, invalid otherwise) and the invalidation
// handler is called once; later sends fail at once. No call has a time limit of its own.
class SocketHelperTransport final : public HelperTransport {
public:
    explicit SocketHelperTransport(std::string path);
    // Closes the connection, answering what is outstanding.
    ~SocketHelperTransport() override;
    SocketHelperTransport(const SocketHelperTransport&) = delete;
    SocketHelperTransport& operator=(const SocketHelperTransport&) = delete;

    void setInvalidationHandler(std::function<void()> handler) override;
    void send(HelperRequest request, ResponseHandler onResponse, ConnectionErrorHandler onError) override;
    void invalidate() override;

    // $QUORVANE_HELPER_SOCKET when set and not empty, else "/var/run/" + the service name + ".sock".
    static std::string defaultPath();
    // Fresh connections to `path`.
    static HelperTransportFactory factory(std::string path = defaultPath());

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

} // namespace quorvane
