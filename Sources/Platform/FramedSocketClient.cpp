#include "Platform/FramedSocketClient.hpp"

#include "Platform/SocketFrame.hpp"

#include <asio/read.hpp>
#include <asio/write.hpp>
#include <sys/socket.h>
#include <system_error>

namespace quorvane {

FramedSocketClient::FramedSocketClient(std::string path, std::chrono::milliseconds timeout,
                                       std::size_t maxPayload)
    : path_(std::move(path)), timeout_(timeout), maxPayload_(maxPayload), socket_(io_) {}

FramedSocketClient::~FramedSocketClient() {
    disconnect();
}

bool FramedSocketClient::connect() {
    if (socket_.is_open()) {
        return true;
    }
    asio::local::stream_protocol::endpoint endpoint;
    try {
        endpoint = asio::local::stream_protocol::endpoint(path_);
    } catch (const std::system_error&) {
        return false; // a path too long for a socket address names no socket
    }
    // Close-on-exec, which asio does not ask for: a program started from here must not inherit the
    // connection.
    asio::error_code result;
    socket_.assign(asio::local::stream_protocol(), ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0), result);
    if (result || socket_.native_handle() < 0) {
        disconnect();
        return false;
    }
    bool done = false;
    socket_.async_connect(endpoint, [&](const asio::error_code& error) {
        result = error;
        done = true;
    });
    if (!runUntil(done)) {
        return false;
    }
    if (result) {
        disconnect();
        return false;
    }
    return true;
}

void FramedSocketClient::disconnect() {
    asio::error_code ignored;
    socket_.shutdown(asio::local::stream_protocol::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

std::optional<std::vector<std::uint8_t>> FramedSocketClient::request(std::span<const std::uint8_t> payload) {
    if (!socket_.is_open()) {
        return std::nullopt;
    }
    const auto frame = SocketFrame::encode(payload);
    SocketFrame::Header header{};
    std::vector<std::uint8_t> reply;
    bool done = false;
    bool failed = false;
    const auto fail = [&] {
        failed = true;
        done = true;
    };
    asio::async_write(socket_, asio::buffer(frame), [&](const asio::error_code& error, std::size_t) {
        if (error) {
            return fail();
        }
        asio::async_read(socket_, asio::buffer(header), [&](const asio::error_code& error, std::size_t) {
            const auto size = error ? std::nullopt : SocketFrame::payloadSize(header, maxPayload_);
            if (!size) {
                return fail();
            }
            reply.resize(*size);
            asio::async_read(socket_, asio::buffer(reply), [&](const asio::error_code& error, std::size_t) {
                failed = static_cast<bool>(error);
                done = true;
            });
        });
    });
    if (!runUntil(done) || failed) {
        disconnect();
        return std::nullopt;
    }
    return reply;
}

bool FramedSocketClient::runUntil(const bool& done) {
    io_.restart();
    io_.run_for(timeout_);
    if (done) {
        return true;
    }
    disconnect();
    io_.restart();
    io_.run();
    return false;
}

} // namespace quorvane
