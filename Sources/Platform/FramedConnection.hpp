#pragma once

#include "Platform/SocketFrame.hpp"

#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace quorvane {

// The serving end of one local stream connection that speaks length-prefixed frames: read a frame,
// answer it, read the next. A frame with a bad length, a payload the handler refuses, a peer that
// hangs up mid-frame or any I/O error closes this connection and nothing else. With an idle
// timeout, a peer that has not sent a whole frame that long after the last answer is closed too.
//
// Runs on its socket's executor (a strand when the context has several threads: the idle timer and
// the reads must not run at once); the pending operations keep the connection alive until it closes.
class FramedConnection : public std::enable_shared_from_this<FramedConnection> {
public:
    using Socket = asio::local::stream_protocol::socket;
    using Payload = std::vector<std::uint8_t>;
    // The reply to one payload; nullopt when the payload is malformed and the connection must close.
    using FrameHandler = std::function<std::optional<Payload>(std::span<const std::uint8_t>)>;
    // Called once, after the socket has closed.
    using CloseHandler = std::function<void()>;

    static std::shared_ptr<FramedConnection> start(Socket socket, std::size_t maxPayload,
                                                   FrameHandler onFrame, CloseHandler onClose,
                                                   std::chrono::milliseconds idleTimeout = {});

    FramedConnection(const FramedConnection&) = delete;
    FramedConnection& operator=(const FramedConnection&) = delete;

    // Closes the socket; pending reads and writes end with an error and no further frame is served.
    // Call on the socket's executor.
    void close();
    bool isOpen() const { return socket_.is_open(); }

private:
    FramedConnection(Socket socket, std::size_t maxPayload, FrameHandler onFrame, CloseHandler onClose,
                     std::chrono::milliseconds idleTimeout);

    void awaitFrame();
    void readHeader();
    void readPayload(std::size_t size);
    void writeReply();

    Socket socket_;
    std::size_t maxPayload_;
    FrameHandler onFrame_;
    CloseHandler onClose_;
    std::chrono::milliseconds idleTimeout_;
    asio::steady_timer idle_;
    bool awaitingFrame_ = false;
    SocketFrame::Header header_{};
    Payload payload_;
    Payload reply_;
};

} // namespace quorvane
