#include "Platform/UnixSocketListener.hpp"

#include "Platform/SocketError.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quorvane {

namespace {

std::string reason(const asio::error_code& error) {
    return error.message();
}

// Failures of the accepting process, not of the connection: trying again at once fails again.
bool isShortOfResources(const asio::error_code& error) {
    if (error.category() != asio::system_category()) {
        return false;
    }
    const int number = error.value();
    return number == EMFILE || number == ENFILE || number == ENOBUFS || number == ENOMEM;
}

asio::local::stream_protocol::endpoint endpointFor(const std::string& path) {
    try {
        return asio::local::stream_protocol::endpoint(path);
    } catch (const std::system_error&) {
        throw SocketError("The socket path " + path + " is too long");
    }
}

// Makes the path free to bind: nothing there, or a dead socket that can go.
void clearStaleSocket(asio::io_context& io, const std::string& path,
                      const asio::local::stream_protocol::endpoint& endpoint) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return;
    }
    if (!S_ISSOCK(status.st_mode)) {
        throw SocketError(path + " exists and is not a socket");
    }
    asio::local::stream_protocol::socket probe(io);
    asio::error_code error;
    probe.connect(endpoint, error);
    if (!error) {
        throw SocketError("Another process is already serving " + path);
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw SocketError("Cannot remove the stale socket " + path + ": " + std::strerror(errno));
    }
}

} // namespace

UnixSocketListener::UnixSocketListener(asio::io_context& io, std::string path, mode_t permissions)
    : path_(std::move(path)), acceptor_(io), retry_(io) {
    const auto endpoint = endpointFor(path_);
    clearStaleSocket(io, path_, endpoint);
    asio::error_code error;
    acceptor_.open(endpoint.protocol(), error);
    if (!error) {
        acceptor_.bind(endpoint, error);
    }
    if (error) {
        throw SocketError("Cannot listen on " + path_ + ": " + reason(error));
    }
    ownsFile_ = true;
    acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (!error && ::chmod(path_.c_str(), permissions) != 0) {
        error = asio::error_code(errno, asio::system_category());
    }
    if (error) {
        close();
        throw SocketError("Cannot listen on " + path_ + ": " + reason(error));
    }
}

UnixSocketListener::UnixSocketListener(asio::io_context& io, int listeningDescriptor)
    : acceptor_(io), retry_(io) {
    asio::error_code error;
    acceptor_.assign(asio::local::stream_protocol(), listeningDescriptor, error);
    if (error) {
        throw SocketError("Cannot accept on the socket handed over by the service manager: " + reason(error));
    }
}

UnixSocketListener::~UnixSocketListener() {
    close();
}

void UnixSocketListener::start(AcceptHandler onAccept) {
    onAccept_ = std::move(onAccept);
    acceptNext();
}

void UnixSocketListener::close() {
    asio::error_code ignored;
    retry_.cancel();
    acceptor_.close(ignored);
    if (ownsFile_) {
        ::unlink(path_.c_str());
        ownsFile_ = false;
    }
}

void UnixSocketListener::acceptNext() {
    acceptor_.async_accept([this](const asio::error_code& error, Socket socket) {
        if (error == asio::error::operation_aborted || !acceptor_.is_open()) {
            return;
        }
        if (isShortOfResources(error)) {
            retryLater();
            return;
        }
        backoff_ = std::chrono::milliseconds(0);
        if (!error) {
            onAccept_(std::move(socket));
        }
        acceptNext();
    });
}

void UnixSocketListener::retryLater() {
    backoff_ = std::clamp(backoff_ * 2, std::chrono::milliseconds(50), std::chrono::milliseconds(2000));
    retry_.expires_after(backoff_);
    retry_.async_wait([this](const asio::error_code& error) {
        if (!error && acceptor_.is_open()) {
            acceptNext();
        }
    });
}

} // namespace quorvane
