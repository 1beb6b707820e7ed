#include "Platform/FramedConnection.hpp"

#include <asio/read.hpp>
#include <asio/write.hpp>

namespace quorvane {

std::shared_ptr<FramedConnection> FramedConnection::start(Socket socket, std::size_t maxPayload,
                                                          FrameHandler onFrame, CloseHandler onClose) {
    std::shared_ptr<FramedConnection> connection(
        new FramedConnection(std::move(socket), maxPayload, std::move(onFrame), std::move(onClose)));
    connection->readHeader();
    return connection;
}

FramedConnection::FramedConnection(Socket socket, std::size_t maxPayload, FrameHandler onFrame,
                                   CloseHandler onClose)
    : socket_(std::move(socket)), maxPayload_(maxPayload), onFrame_(std::move(onFrame)),
      onClose_(std::move(onClose)) {}

void FramedConnection::close() {
    if (!socket_.is_open()) {
        return;
    }
    asio::error_code ignored;
    socket_.shutdown(Socket::shutdown_both, ignored);
    socket_.close(ignored);
    if (auto onClose = std::move(onClose_)) {
        onClose();
    }
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
                          self->readHeader();
                      });
}

} // namespace quorvane
