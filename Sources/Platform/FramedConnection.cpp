#include "Platform/FramedConnection.hpp"

#include <asio/read.hpp>
#include <asio/write.hpp>

namespace quorvane {

std::shared_ptr<FramedConnection> FramedConnection::start(Socket socket, std::size_t maxPayload,
                                                          FrameHandler onFrame, CloseHandler onClose,
                                                          std::chrono::milliseconds idleTimeout) {
    std::shared_ptr<FramedConnection> connection(new FramedConnection(
        std::move(socket), maxPayload, std::move(onFrame), std::move(onClose), idleTimeout));
    connection->awaitFrame();
    return connection;
}

FramedConnection::FramedConnection(Socket socket, std::size_t maxPayload, FrameHandler onFrame,
                                   CloseHandler onClose, std::chrono::milliseconds idleTimeout)
    : socket_(std::move(socket)), maxPayload_(maxPayload), onFrame_(std::move(onFrame)),
      onClose_(std::move(onClose)), idleTimeout_(idleTimeout), idle_(socket_.get_executor()) {}

void FramedConnection::close() {
    if (!socket_.is_open()) {
        return;
    }
    awaitingFrame_ = false;
    idle_.cancel();
    asio::error_code ignored;
    socket_.shutdown(Socket::shutdown_both, ignored);
    socket_.close(ignored);
    if (auto onClose = std::move(onClose_)) {
        onClose();
    }
}

// The idle clock runs only while waiting for the peer, never while its frame is being answered.
void FramedConnection::awaitFrame() {
    awaitingFrame_ = true;
    if (idleTimeout_.count() > 0) {
        idle_.expires_after(idleTimeout_);
        idle_.async_wait([weak = weak_from_this()](const asio::error_code& error) {
            const auto self = weak.lock();
            // A frame that completed just as the timer fired has already stopped the wait.
            if (!error && self && self->awaitingFrame_) {
                self->close();
            }
        });
    }
    readHeader();
}

void FramedConnection::readHeader() {
    asio::async_read(socket_, asio::buffer(header_),
                     [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                         if (error) {
                             self->close();
                             return;
                         }
                         const auto size = SocketFrame::payloadSize(self->header_, self->maxPayload_);
                         if (!size) {
                             self->close();
                             return;
                         }
                         self->readPayload(*size);
                     });
}

void FramedConnection::readPayload(std::size_t size) {
    payload_.resize(size);
    asio::async_read(socket_, asio::buffer(payload_),
                     [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                         if (error || !self->socket_.is_open()) {
                             self->close();
                             return;
                         }
                         self->awaitingFrame_ = false;
                         self->idle_.cancel();
                         auto reply = self->onFrame_(self->payload_);
                         if (!reply || reply->empty() || reply->size() > self->maxPayload_) {
                             self->close();
                             return;
                         }
                         self->reply_ = SocketFrame::encode(*reply);
                         self->writeReply();
                     });
}

void FramedConnection::writeReply() {
    asio::async_write(socket_, asio::buffer(reply_),
                      [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                          if (error) {
                              self->close();
                              return;
                          }
                          self->awaitFrame();
                      });
}

} // namespace quorvane
