// Test-only: the client side of the WebSocket protocol over plain Asio sockets, for the service
// tests and benchmarks. A blocking client for tests that step through one conversation, and the
// pieces it is made of (upgrade request, client frames, frame headers) for clients of their own.
#pragma once

#include <boost/asio.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavenor::testing {

// A TCP port on the loopback address that nothing listens on at this moment (the kernel's choice).
uint16_t FreePort();

// The opening handshake request for `host` ("127.0.0.1:8080"); `extraHeaders` are whole lines, each
// ending in "\r\n". The key is fixed: no test checks the accept value against a fresh one.
std::string UpgradeRequest(const std::string& host, const std::string& extraHeaders = {},
                           const std::string& target = "/");

// One final client frame: opcode 1 text, 2 binary, 8 close, 9 ping. Masked with a fixed key (nothing
// here needs it secret); the length in the shortest of the 7-bit, 16-bit and 64-bit forms.
std::string MaskedFrame(const std::string& payload, char opcode = 1);

// The header of the frame that `bytes` begins with.
struct FrameHeader {
  bool fin = false;
  int opcode = 0;
  bool masked = false;
  size_t size = 0;       // header bytes, the mask key included
  uint64_t payload = 0;  // payload bytes after the header
};
// Empty while the header has not arrived whole.
std::optional<FrameHeader> ParseFrameHeader(std::string_view bytes);

// Blocking reads on `socket`: the bytes up to and including `end`; what came after them stays in `in`.
std::string ReadThrough(boost::asio::ip::tcp::socket& socket, std::string& in, const std::string& end);

// Sends the upgrade request (Host: the peer's address and port) and returns the response head;
// what came after it stays in `in`.
std::string OpeningHandshake(boost::asio::ip::tcp::socket& socket, std::string& in,
                             const std::string& extraHeaders = {});

// One connection whose every call blocks until done; a missing reply shows as the test's time-out.
class WebSocketTestClient {
 public:
  bool Connect(const boost::asio::ip::address& address, uint16_t port);  // false on failure
  std::string ReadUntil(const std::string& end);                          // up to and including `end`
  std::string Handshake(const std::string& extraHeaders = {});            // the response head
  void Send(const std::string& payload, char opcode = 1);                 // one masked frame
  std::string Receive();                                                  // "<opcode>:<payload>"
  boost::asio::io_context io;
  boost::asio::ip::tcp::socket socket{io};
  std::string in;
};

}  // namespace kavenor::testing
