// Whether the client of a connection has gone, seen while the service thread is busy with that
// client's waiting read and cannot run the connection's own handlers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "service/service_endpoint.h"

namespace kavenor {

// Whether bytes that a client sent, read from the start of a frame, hold a close frame. Bytes that
// end inside a frame header or payload tell nothing more.
bool HoldsCloseFrame(const uint8_t* bytes, size_t size);

// Whether the socket's peer has gone: it has closed or reset the connection, or a close frame
// waits unread. Peeks without taking anything, so the connection reads it all later as usual.
bool PeerGone(websocketpp::lib::asio::ip::tcp::socket& socket);

}  // namespace kavenor
