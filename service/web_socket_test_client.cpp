#include "service/web_socket_test_client.h"

#include <stdexcept>

namespace kavenor::testing {

namespace asio = boost::asio;
using Tcp = asio::ip::tcp;

uint16_t FreePort() {
  asio::io_context io;
  Tcp::acceptor acceptor(io, Tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  return acceptor.local_endpoint().port();
}

std::string UpgradeRequest(const std::string& host, const std::string& extraHeaders, const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: " + host +
         "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
         extraHeaders + "\r\n";
}

std::string MaskedFrame(const std::string& payload, char opcode) {
  static const uint8_t kMask[4] = {0x37, 0xfa, 0x21, 0x3d};
  std::string f;
  f += static_cast<char>(0x80 | opcode);
  const uint64_t size = payload.size();
  if (size < 126) {
    f += static_cast<char>(0x80 | size);
  } else if (size < 65536) {
    f += static_cast<char>(0x80 | 126);
    for (int shift = 8; shift >= 0; shift -= 8) f += static_cast<char>(size >> shift);
  } else {
    f += static_cast<char>(0x80 | 127);
    for (int shift = 56; shift >= 0; shift -= 8) f += static_cast<char>(size >> shift);
  }
  f.append(reinterpret_cast<const char*>(kMask), 4);
  const size_t start = f.size();
  f += payload;
  for (size_t i = 0; i < payload.size(); ++i) f[start + i] = static_cast<char>(payload[i] ^ kMask[i % 4]);
  return f;
}

std::optional<FrameHeader> ParseFrameHeader(std::string_view bytes) {
  if (bytes.size() < 2) return std::nullopt;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  FrameHeader h;
  h.fin = (byte(0) & 0x80) != 0;
  h.opcode = byte(0) & 0x0F;
  h.masked = (byte(1) & 0x80) != 0;
  h.payload = byte(1) & 0x7F;
  const size_t lengthBytes = h.payload == 126 ? 2 : h.payload == 127 ? 8 : 0;
  h.size = 2 + lengthBytes + (h.masked ? 4 : 0);
  if (bytes.size() < h.size) return std::nullopt;
  if (lengthBytes > 0) h.payload = 0;
  for (size_t i = 0; i < lengthBytes; ++i) h.payload = h.payload << 8 | byte(2 + i);
  return h;
}

std::string ReadThrough(Tcp::socket& socket, std::string& in, const std::string& end) {
  const size_t n = asio::read_until(socket, asio::dynamic_buffer(in), end);
  std::string head = in.substr(0, n);
  in.erase(0, n);
  return head;
}

std::string OpeningHandshake(Tcp::socket& socket, std::string& in, const std::string& extraHeaders) {
  const Tcp::endpoint peer = socket.remote_endpoint();
  const std::string address = peer.address().to_string();
  const std::string host = (peer.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(peer.port());
  asio::write(socket, asio::buffer(UpgradeRequest(host, extraHeaders)));
  return ReadThrough(socket, in, "\r\n\r\n");
}

bool WebSocketTestClient::Connect(const asio::ip::address& address, uint16_t port) {
  boost::system::error_code ec;
  socket.connect(Tcp::endpoint(address, port), ec);
  if (!ec) return true;
  // Closed again, so that a retry starts afresh: Windows does not take a second connect on it.
  socket.close(ec);
  return false;
}

std::string WebSocketTestClient::ReadUntil(const std::string& end) { return ReadThrough(socket, in, end); }

std::string WebSocketTestClient::Handshake(const std::string& extraHeaders) {
  return OpeningHandshake(socket, in, extraHeaders);
}

void WebSocketTestClient::Send(const std::string& payload, char opcode) {
  asio::write(socket, asio::buffer(MaskedFrame(payload, opcode)));
}

std::string WebSocketTestClient::Receive() {
  auto readAtLeast = [&](size_t n) { asio::read(socket, asio::dynamic_buffer(in), asio::transfer_at_least(n)); };
  std::optional<FrameHeader> header;
  while (!(header = ParseFrameHeader(in))) readAtLeast(1);
  if (header->masked) throw std::runtime_error("a masked frame from the server");
  const size_t whole = header->size + static_cast<size_t>(header->payload);
  if (in.size() < whole) readAtLeast(whole - in.size());
  std::string frame = std::to_string(header->opcode) + ":" + in.substr(header->size, whole - header->size);
  in.erase(0, whole);
  return frame;
}

}  // namespace kavenor::testing
