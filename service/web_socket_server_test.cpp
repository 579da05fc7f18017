// The service on a real socket, in a scratch app folder with the simulated reader. The client
// blocks: a missing reply shows as the test's time-out, and silence is checked by what comes next.
#include "service/web_socket_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio.hpp>
#include <functional>
#include <thread>

#include "common/clock.h"
#include "common/device_model.h"
#include "common/settings.h"
#include "common/text.h"
#include "reader/reader_test_support.h"
#include "service/web_socket_test_client.h"

namespace kavenor {
namespace {

namespace asio = boost::asio;
using Tcp = asio::ip::tcp;
const asio::ip::address kLoopback = asio::ip::address_v4::loopback();

using Client = testing::WebSocketTestClient;

bool Ipv6Loopback() {
  asio::io_context io;
  Tcp::acceptor probe(io);
  boost::system::error_code ec;
  probe.open(Tcp::v6(), ec);
  if (!ec) probe.bind(Tcp::endpoint(asio::ip::address_v6::loopback(), 0), ec);
  return !ec;
}

class WebSocketServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (DriverKind kind : {DriverKind::k5A, DriverKind::k5U, DriverKind::k5ULN}) app_.SetScenario(kind, {{"ports", "1"}});
    asio::io_context io;
    port_ = Tcp::acceptor(io, Tcp::endpoint(kLoopback, 0)).local_endpoint().port();
    drivers_ = app_.MakeDrivers();
    server_ = std::make_unique<CWebSocketServer>(*drivers_, app_.configPath(), app_.moduleDir());
  }
  void TearDown() override { SetDeviceModel(0); }
  void WriteConfig(int64_t port, int model) {
    WriteSettingString(u"IP", u"port", Utf8ToUtf16(std::to_string(port)), app_.configPath());
    WriteSettingString(u"Device", u"ID", Utf8ToUtf16(std::to_string(model)), app_.configPath());
  }
  testing::SimulatedApp app_;
  uint16_t port_ = 0;
  std::unique_ptr<ReaderDrivers> drivers_;
  std::unique_ptr<CWebSocketServer> server_;
};

TEST_F(WebSocketServerTest, ServesPagesAndCommandsUntilDrained) {
  WriteConfig(port_ + 65536, 3);  // the low 16 bits are the port
  const std::string page("<html>03\0\r\n</html>", 18);
  testing::WriteFileBytes(app_.dir().Join(u"03_idcard.html"), page);
  std::atomic<bool> ended{false};
  std::thread service([&] {
    server_->Run();
    ended = true;
  });
  // Whatever fails below, the service is left drained so that Run returns (the clients, declared
  // later, are closed first).
  struct Joiner {
    std::function<void()> join;
    ~Joiner() { join(); }
  } joiner{[&] {
    Client last;
    if (!ended && last.Connect(kLoopback, port_) && !last.Handshake().empty()) last.Send("stop-listening");
    last.socket.close();
    if (service.joinable()) service.join();
  }};
  Client idle;  // connected first and left silent past the library's usual 5 s, within the service's 10 s
  for (int i = 0; i < 500 && !idle.Connect(kLoopback, port_); ++i) SleepMs(10);
  const uint64_t idleSince = TickCountMs();
  EXPECT_EQ(CurrentDeviceModel(), 3);

  Client http;
  ASSERT_TRUE(http.Connect(kLoopback, port_));
  asio::write(http.socket, asio::buffer(std::string("GET /favicon.ico HTTP/1.1\r\nHost: h\r\n\r\n")));
  std::string head = http.ReadUntil("\r\n\r\n");
  EXPECT_EQ(head, "HTTP/1.1 200 OK\r\nContent-Length: 18\r\nServer: WebSocket++/0.8.2\r\n\r\n");  // no type
  boost::system::error_code eof;
  asio::read(http.socket, asio::dynamic_buffer(http.in), eof);
  EXPECT_EQ(http.in, page);

  // A model chosen in the settings window counts from the next request.
  testing::WriteFileBytes(app_.dir().Join(u"idcardM1.html"), "M1 page");
  server_->RequestModel(2);
  for (int i = 0; i < 1000 && CurrentDeviceModel() != 2; ++i) SleepMs(10);
  Client http2;
  ASSERT_TRUE(http2.Connect(kLoopback, port_));
  asio::write(http2.socket, asio::buffer(std::string("GET / HTTP/1.1\r\nHost: h\r\n\r\n")));
  http2.ReadUntil("\r\n\r\n");
  asio::read(http2.socket, asio::dynamic_buffer(http2.in), eof);
  EXPECT_EQ(http2.in, "M1 page");
  server_->RequestModel(3);

  Client a;  // over IPv6 where the machine has it: the socket is dual-stack
  ASSERT_TRUE(a.Connect(Ipv6Loopback() ? asio::ip::address(asio::ip::address_v6::loopback()) : kLoopback, port_));
  // Any path is upgraded; an offered subprotocol is not taken up.
  asio::write(a.socket, asio::buffer(testing::UpgradeRequest(
                            "h", "Origin: http://example.invalid\r\nSec-WebSocket-Protocol: chat, superchat\r\n",
                            "/any/path?x=1")));
  head = a.ReadUntil("\r\n\r\n");
  EXPECT_EQ(head.rfind("HTTP/1.1 101", 0), 0u);
  EXPECT_EQ(head.find("Sec-WebSocket-Protocol"), std::string::npos);

  const std::string samId = "1:05.01-00002019-0000123456-0000000007", none = "1:" + Utf16ToUtf8(u"设备无此功能");
  a.Send("5");
  EXPECT_EQ(a.Receive(), samId);
  a.Send("5", 2);  // binary in, text out
  EXPECT_EQ(a.Receive(), samId);
  a.Send("1");  // no command, no reply: the next frame answers the "9"
  a.Send("9");
  EXPECT_EQ(a.Receive(), none);
  a.Send("9?" + std::string(300, 'x'));  // the 16-bit and the 64-bit length forms
  EXPECT_EQ(a.Receive(), none);
  a.Send("9?" + std::string(70000, 'x'));
  EXPECT_EQ(a.Receive(), none);
  a.Send("3");
  EXPECT_EQ(a.Receive().rfind("1:" + Utf16ToUtf8(u"ORV-5U-HID||身份证|"), 0), 0u);

  while (TickCountMs() - idleSince < 5500) SleepMs(50);
  EXPECT_EQ(idle.Handshake().rfind("HTTP/1.1 101", 0), 0u);

  // A page (it sent an Origin) cannot stop the service: an unknown command to it.
  a.Send("stop-listening");
  a.Send("9");
  EXPECT_EQ(a.Receive(), none);
  Client stillServed;
  EXPECT_TRUE(stillServed.Connect(kLoopback, port_));
  stillServed.socket.close();
  // A program on this computer can.
  idle.Send("stop-listening");
  idle.Send("9");
  EXPECT_EQ(idle.Receive(), none);
  Client refused;
  EXPECT_FALSE(refused.Connect(kLoopback, port_));
  idle.Send("stop-listening");  // a second one is ignored: the open connections are still served
  a.Send("9");
  EXPECT_EQ(a.Receive(), none);
  idle.Send("9");
  EXPECT_EQ(idle.Receive(), none);

  EXPECT_FALSE(ended);
  a.socket.close();
  idle.socket.close();
  service.join();  // the last connection gone, Run returns
  EXPECT_TRUE(ended);
}

TEST_F(WebSocketServerTest, APortThatCannotBeBoundEndsTheService) {
  asio::io_context io;
  Tcp::acceptor blocker(io, Tcp::endpoint(Tcp::v4(), port_), false);
  WriteConfig(port_, 2);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(server_->Run(), 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(CurrentDeviceModel(), 2);
  EXPECT_NE(out.find("Underlying Transport Error\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace kavenor
