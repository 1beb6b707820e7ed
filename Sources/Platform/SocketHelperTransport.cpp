#include "Platform/SocketHelperTransport.hpp"

#include "Client/HelperConnectionError.hpp"
#include "Platform/SignalFreeThread.hpp"
#include "Platform/SocketFrame.hpp"
#include "XPC/FanControlXPC.hpp"

#include <asio/connect.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <map>
#include <pthread.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

namespace quorvane {

// Everything but the thread handle is touched on the I/O thread only.
struct SocketHelperTransport::Core : std::enable_shared_from_this<Core> {
    struct Pending {
        ResponseHandler onResponse;
        ConnectionErrorHandler onError;
    };
    enum class Phase { idle, connecting, open, closed };

    explicit Core(std::string path)
        : path(std::move(path)), work(asio::make_work_guard(context)), socket(context) {}

    std::string path;
    asio::io_context context;
    asio::executor_work_guard<asio::io_context::executor_type> work;
    asio::local::stream_protocol::socket socket;
    std::thread thread;

    Phase phase = Phase::idle;
    std::string closeReason;
    std::uint64_t nextID = 1;
    std::map<std::uint64_t, Pending> pending;
    std::deque<std::vector<std::uint8_t>> outgoing;
    bool writing = false;
    SocketFrame::Header header{};
    std::vector<std::uint8_t> payload;
    std::function<void()> invalidationHandler;
    bool invalidated = false;

    void start() {
        // The thread keeps the core alive, so a transport released on this very thread (from one of
        // its own handlers) can let it finish on its own.
        thread = startSignalFreeThread([self = shared_from_this()] { self->context.run(); });
    }

    void stop() {
        asio::post(context, [self = shared_from_this()] {
            self->fail(helperConnectionInvalid, "The connection was closed by the app");
        });
        work.reset();
        if (std::this_thread::get_id() == thread.get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }

    void enqueue(HelperRequest request, Pending handlers) {
        if (phase == Phase::closed) {
            handlers.onError(helperConnectionError(helperConnectionInvalid, closeReason));
            return;
        }
        request.id = nextID++;
        std::vector<std::uint8_t> frame;
        try {
            frame = SocketFrame::encode(encodeHelperMessage(request.toJSON()));
        } catch (const std::exception& error) {
            handlers.onError(helperConnectionError(helperConnectionInvalid, error.what()));
            return;
        }
        pending.emplace(request.id, std::move(handlers));
        outgoing.push_back(std::move(frame));
        if (phase == Phase::idle) {
            connect();
        } else {
            writeNext();
        }
    }

    void connect() {
        phase = Phase::connecting;
        asio::local::stream_protocol::endpoint endpoint;
        try {
            endpoint = asio::local::stream_protocol::endpoint(path);
        } catch (const std::system_error&) {
            return fail(helperConnectionInvalid, "The helper socket path " + path + " is too long");
        }
        // Close-on-exec, which asio does not ask for: an admitted connection inherited by a program
        // the app starts would outlive a crashed app and hold off the hand-back to the lease.
        asio::error_code opened;
        socket.assign(asio::local::stream_protocol(), ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0),
                      opened);
        if (opened || socket.native_handle() < 0) {
            return fail(helperConnectionInvalid, "Cannot open a socket for the helper: " + opened.message());
        }
        socket.async_connect(endpoint, [self = shared_from_this()](const asio::error_code& error) {
            if (self->phase != Phase::connecting) {
                return;
            }
            if (error) {
                return self->fail(helperConnectionInvalid,
                                  "Cannot connect to the helper at " + self->path + ": " + error.message());
            }
            self->phase = Phase::open;
            self->readHeader();
            self->writeNext();
        });
    }

    void writeNext() {
        if (phase != Phase::open || writing || outgoing.empty()) {
            return;
        }
        writing = true;
        asio::async_write(socket, asio::buffer(outgoing.front()),
                          [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                              self->writing = false;
                              if (self->phase != Phase::open) {
                                  return;
                              }
                              if (error) {
                                  return self->fail(helperConnectionInterrupted,
                                                    "Sending to the helper failed: " + error.message());
                              }
                              self->outgoing.pop_front();
                              self->writeNext();
                          });
    }

    void readHeader() {
        asio::async_read(socket, asio::buffer(header),
                         [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                             if (self->phase != Phase::open) {
                                 return;
                             }
                             if (error) {
                                 return self->fail(helperConnectionInterrupted, self->readFailure(error));
                             }
                             const auto size = SocketFrame::payloadSize(self->header, maxHelperMessageSize);
                             if (!size) {
                                 return self->fail(helperConnectionInterrupted,
                                                   "The helper sent a frame of a bad length");
                             }
                             self->readPayload(*size);
                         });
    }

    void readPayload(std::size_t size) {
        payload.resize(size);
        asio::async_read(socket, asio::buffer(payload),
                         [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                             if (self->phase != Phase::open) {
                                 return;
                             }
                             if (error) {
                                 return self->fail(helperConnectionInterrupted, self->readFailure(error));
                             }
                             self->deliver();
                         });
    }

    void deliver() {
        HelperResponse response;
        try {
            response = HelperResponse::fromJSON(decodeHelperMessage(payload));
        } catch (const std::exception& error) {
            return fail(helperConnectionInterrupted,
                        std::string("The helper sent a malformed response: ") + error.what());
        }
        auto found = pending.find(response.id);
        if (found == pending.end()) {
            return fail(helperConnectionInterrupted, "The helper answered a call that was not made (id " +
                                                         std::to_string(response.id) + ")");
        }
        auto handlers = std::move(found->second);
        pending.erase(found);
        readHeader();
        handlers.onResponse(response);
    }

    std::string readFailure(const asio::error_code& error) const {
        if (error == asio::error::eof) {
            return "The helper closed the connection";
        }
        return "Receiving from the helper failed: " + error.message();
    }

    // The one way out: the socket closes, what is outstanding is answered, the handler runs once.
    void fail(long outstandingCode, const std::string& reason) {
        if (phase == Phase::closed) {
            return;
        }
        // Nothing was sent yet on a connection that never came up, so nothing was interrupted.
        const long code = phase == Phase::open ? outstandingCode : helperConnectionInvalid;
        phase = Phase::closed;
        closeReason = reason;
        asio::error_code ignored;
        socket.shutdown(asio::local::stream_protocol::socket::shutdown_both, ignored);
        socket.close(ignored);
        outgoing.clear();
        auto answered = std::move(pending);
        pending.clear();
        for (auto& [id, handlers] : answered) {
            handlers.onError(helperConnectionError(code, reason));
        }
        invalidated = true;
        if (auto handler = std::move(invalidationHandler)) {
            invalidationHandler = nullptr;
            handler();
        }
    }
};

SocketHelperTransport::SocketHelperTransport(std::string path)
    : core_(std::make_shared<Core>(std::move(path))) {
    core_->start();
}

SocketHelperTransport::~SocketHelperTransport() {
    core_->stop();
}

void SocketHelperTransport::setInvalidationHandler(std::function<void()> handler) {
    asio::post(core_->context, [core = core_, handler = std::move(handler)]() mutable {
        if (core->invalidated) {
            handler();
        } else {
            core->invalidationHandler = std::move(handler);
        }
    });
}

void SocketHelperTransport::send(HelperRequest request, ResponseHandler onResponse,
                                 ConnectionErrorHandler onError) {
    asio::post(core_->context,
               [core = core_, request = std::move(request),
                handlers = Core::Pending{std::move(onResponse), std::move(onError)}]() mutable {
                   core->enqueue(std::move(request), std::move(handlers));
               });
}

void SocketHelperTransport::invalidate() {
    asio::post(core_->context, [core = core_] {
        core->fail(helperConnectionInvalid, "The connection was invalidated by the app");
    });
}

std::string SocketHelperTransport::defaultPath() {
    if (const char* path = std::getenv("QUORVANE_HELPER_SOCKET"); path && *path) {
        return path;
    }
    return "/var/run/" + FanControlXPC::machServiceName + ".sock";
}

HelperTransportFactory SocketHelperTransport::factory(std::string path) {
    return [path = std::move(path)]() -> std::unique_ptr<HelperTransport> {
        return std::make_unique<SocketHelperTransport>(path);
    };
}

} // namespace quorvane
