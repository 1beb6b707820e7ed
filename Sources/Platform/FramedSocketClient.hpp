#pragma once

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvane {

// The asking end of a local stream connection that speaks length-prefixed frames: one request
// frame, one reply frame, each bounded by a timeout. Any failure drops the connection, so the next
// request starts from a fresh connect. Not synchronised: one thread at a time.
class FramedSocketClient {
public:
    FramedSocketClient(std::string path, std::chrono::milliseconds timeout, std::size_t maxPayload);
    ~FramedSocketClient();

    FramedSocketClient(const FramedSocketClient&) = delete;
    FramedSocketClient& operator=(const FramedSocketClient&) = delete;

    // Connects unless already connected; false when nothing answers at the path in time.
    bool connect();
    void disconnect();
    bool isConnected() const { return socket_.is_open(); }
    const std::string& path() const { return path_; }

    // Sends one frame and waits for the reply's payload. Nullopt when not connected, on an I/O
    // error, a malformed reply or a timeout; the connection is dropped in every such case.
    std::optional<std::vector<std::uint8_t>> request(std::span<const std::uint8_t> payload);

private:
    // Runs the pending operations until `done` or the timeout; on a timeout it drops the connection
    // and lets the aborted operations finish before returning false.
    bool runUntil(const bool& done);

    std::string path_;
    std::chrono::milliseconds timeout_;
    std::size_t maxPayload_;
    asio::io_context io_;
    asio::local::stream_protocol::socket socket_;
};

} // namespace quorvane
