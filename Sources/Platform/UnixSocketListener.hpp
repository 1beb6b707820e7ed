#pragma once

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>

namespace quorvane {

// A listening local stream socket at a file-system path. A socket file left behind by a process
// that died is replaced; a path another process still serves, or that is not a socket, is refused.
// The socket file is removed again when the listener closes.
//
// When the process runs out of descriptors or memory, accepting pauses (50 ms, doubling up to 2 s)
// instead of failing again at once: the waiting connection stays queued and would otherwise make
// every retry fail straight away.
class UnixSocketListener {
public:
    using Socket = asio::local::stream_protocol::socket;
    using AcceptHandler = std::function<void(Socket)>;

    // Binds and listens at once, so connections queue from here on; `permissions` apply to the
    // socket file. Throws SocketError with a message naming the path.
    UnixSocketListener(asio::io_context& io, std::string path, mode_t permissions = 0666);
    // Adopts a socket that already listens (handed over by the service manager); its file stays.
    UnixSocketListener(asio::io_context& io, int listeningDescriptor);
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
    void retryLater();

    std::string path_;
    asio::local::stream_protocol::acceptor acceptor_;
    asio::steady_timer retry_;
    std::chrono::milliseconds backoff_{0};
    AcceptHandler onAccept_;
    bool ownsFile_ = false;
};

} // namespace quorvane
