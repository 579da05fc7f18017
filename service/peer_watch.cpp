#include "service/peer_watch.h"

#include <array>

namespace kavenor {

bool HoldsCloseFrame(const uint8_t* bytes, size_t size) {
  constexpr uint8_t kCloseOpcode = 0x8;
  size_t at = 0;
  while (size - at >= 2) {
    if ((bytes[at] & 0x0F) == kCloseOpcode) return true;
    uint64_t length = bytes[at + 1] & 0x7F;
    size_t header = 2;
    if (length == 126 || length == 127) {
      const size_t extended = length == 126 ? 2 : 8;
      if (size - at < header + extended) return false;
      length = 0;
      for (size_t i = 0; i < extended; ++i) length = (length << 8) | bytes[at + header + i];
      header += extended;
    }
    if (bytes[at + 1] & 0x80) header += 4;  // the masking key
    if (length > size - at || header + length > size - at) return false;
    at += header + static_cast<size_t>(length);
  }
  return false;
}

bool PeerGone(websocketpp::lib::asio::ip::tcp::socket& socket) {
  namespace asio = websocketpp::lib::asio;
  asio::error_code ec;
  const bool blocking = !socket.non_blocking();
  socket.non_blocking(true, ec);
  if (ec) return false;
  std::array<uint8_t, 4096> peeked;
  const size_t size = socket.receive(asio::buffer(peeked), asio::ip::tcp::socket::message_peek, ec);
  asio::error_code restore;
  if (blocking) socket.non_blocking(false, restore);
  if (ec == asio::error::would_block || ec == asio::error::try_again || ec == asio::error::interrupted) return false;
  // The end of the stream, a reset, or any other failure of the socket: nobody is there to answer.
  if (ec || size == 0) return true;
  return HoldsCloseFrame(peeked.data(), size);
}

}  // namespace kavenor
