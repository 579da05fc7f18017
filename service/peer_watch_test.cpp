#include "service/peer_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/message_budget.h"

namespace kavenor {
namespace {

namespace asio = websocketpp::lib::asio;
using Tcp = asio::ip::tcp;

std::vector<uint8_t> Frame(uint8_t opcode, size_t payload, bool masked = true) {
  std::vector<uint8_t> out{static_cast<uint8_t>(0x80 | opcode)};
  const uint8_t mask = masked ? 0x80 : 0;
  if (payload < 126) {
    out.push_back(static_cast<uint8_t>(mask | payload));
  } else if (payload < 65536) {
    out.insert(out.end(), {static_cast<uint8_t>(mask | 126), static_cast<uint8_t>(payload >> 8),
                           static_cast<uint8_t>(payload)});
  } else {
    out.push_back(static_cast<uint8_t>(mask | 127));
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(payload >> shift));
  }
  if (masked) out.insert(out.end(), {1, 2, 3, 4});
  out.insert(out.end(), payload, 'x');
  return out;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> frames) {
  std::vector<uint8_t> out;
  for (const auto& f : frames) out.insert(out.end(), f.begin(), f.end());
  return out;
}

TEST(PeerWatch, FindsACloseFrameBehindWholeFrames) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool close;
  };
  const std::vector<uint8_t> close = Frame(0x8, 2);
  const std::vector<uint8_t> longText = Frame(0x1, 70000);
  const Case cases[] = {
      {"nothing", {}, false},
      {"a close frame", close, true},
      {"a command", Frame(0x1, 1), false},
      {"a command, then a close frame", Join({Frame(0x1, 1), close}), true},
      {"a ping, a 300-byte text and a close", Join({Frame(0x9, 0), Frame(0x1, 300), close}), true},
      {"a 70000-byte text, then a close", Join({longText, close}), true},
      {"a text cut short, its payload claiming the close", {longText.begin(), longText.begin() + 100}, false},
      {"one byte of a header", {0x81}, false},
      {"an unmasked close", Frame(0x8, 0, false), true},
  };
  for (const Case& c : cases) EXPECT_EQ(HoldsCloseFrame(c.bytes.data(), c.bytes.size()), c.close) << c.name;
}

// A connected pair on loopback: `server` as the service holds it, `client` as a page does.
struct SocketPair {
  asio::io_context io;
  Tcp::socket server{io};
  Tcp::socket client{io};

  SocketPair() {
    Tcp::acceptor acceptor(io, Tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    client.connect(acceptor.local_endpoint());
    acceptor.accept(server);
  }
  void Send(const std::vector<uint8_t>& bytes) { asio::write(client, asio::buffer(bytes)); }
};

bool GoneSoon(Tcp::socket& socket) {
  // The loopback delivers at once, but give the bytes a moment to arrive.
  for (int i = 0; i < 200; ++i) {
    if (PeerGone(socket)) return true;
    asio::io_context().run_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(PeerWatch, TellsAClientThatStaysFromOneThatHasGone) {
  {
    SocketPair pair;
    EXPECT_FALSE(PeerGone(pair.server));
    pair.Send(Frame(0x1, 5));
    EXPECT_FALSE(GoneSoon(pair.server)) << "a command waiting is no goodbye";
    pair.Send(Frame(0x8, 2));
    EXPECT_TRUE(GoneSoon(pair.server)) << "a close frame";
    // Nothing was taken from the socket: the connection still reads both frames.
    std::vector<uint8_t> read(64);
    EXPECT_EQ(pair.server.read_some(asio::buffer(read)), Frame(0x1, 5).size() + Frame(0x8, 2).size());
  }
  {
    SocketPair pair;
    pair.client.close();
    EXPECT_TRUE(GoneSoon(pair.server)) << "the connection closed";
  }
}

TEST(MessageBudget, TakesUpToItsLimitAndTakesBackWhatIsGiven) {
  const size_t before = MessageBudget::Held();
  const size_t room = MessageBudget::kLimit - before;
  EXPECT_TRUE(MessageBudget::Take(room - 10));
  EXPECT_FALSE(MessageBudget::Take(11)) << "one byte past the limit";
  EXPECT_TRUE(MessageBudget::Take(10));
  EXPECT_FALSE(MessageBudget::Take(1));
  MessageBudget::Give(room);
  EXPECT_EQ(MessageBudget::Held(), before);
}

}  // namespace
}  // namespace kavenor
