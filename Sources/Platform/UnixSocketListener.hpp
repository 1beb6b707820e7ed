#pragma once

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <functional>
#include <string>
#include <sys/types.h>

namespace quorvane {

// A listening local stream socket at a file-system path. A socket file left behind by a process
// that died is replaced; a path another process still serves, or that is not a socket, is refused.
// The socket file is removed again when the listener closes.
class UnixSocketListener {
public:
    using Socket = asio::local::stream_protocol::socket;
    using AcceptHandler = std::function<void(Socket)>;

    // Binds and listens at once, so connections queue from here on; `permissions` apply to the
    // socket file. Throws SocketError with a message naming the path.
    UnixSocketListener(asio::io_context& io, std::string path, mode_t permissions = 0666);
    ~UnixSocketListener();

    UnixSocketListener(const UnixSocketListener&) = delete;
    UnixSocketListener& operator=(const UnixSocketListener&) = delete;

    // Accepts until closed, handing each connection over on the io context's thread.
    void start(AcceptHandler onAccept);
    // Stops accepting and removes the socket file. Call on the io context's thread.
    void close();
    const std::string& path() const { return path_; }

private:
    void acceptNext();

    std::string path_;
    asio::local::stream_protocol::acceptor acceptor_;
    AcceptHandler onAccept_;
    bool ownsFile_ = false;
};

} // namespace quorvane
