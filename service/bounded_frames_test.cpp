// Memory of an incoming message follows the bytes that came, not the length a header claims.
#include "service/service_endpoint.h"

#include <gtest/gtest.h>

namespace kavenor {
namespace {

constexpr size_t kLimit = 32000000;
const auto kTooBig = websocketpp::processor::error::make_error_code(websocketpp::processor::error::message_too_big);

// The endpoint's frame reader, with a look at the message it is filling.
class Reader : public websocketpp::processor::hybi13<debug_custom> {
 public:
  Reader() : hybi13(false, true, websocketpp::lib::make_shared<debug_custom::con_msg_manager_type>(), rng_) {}
  size_t Reserved() const { return m_data_msg.msg_ptr ? m_data_msg.msg_ptr->get_payload().capacity() : 0; }
  websocketpp::lib::error_code Feed(std::string bytes) {
    websocketpp::lib::error_code ec;
    for (size_t at = 0; at < bytes.size() && !ec && !ready();)  // in read-sized pieces
      at += consume(reinterpret_cast<uint8_t*>(&bytes[at]), std::min<size_t>(16384, bytes.size() - at), ec);
    return ec;
  }

 private:
  debug_custom::rng_type rng_;
};

// A client frame header, masked with the zero key: opcode 0 continuation, 1 text, 2 binary.
std::string Header(bool fin, int opcode, uint64_t length) {
  // The shortest length form, as the reader insists.
  const int bytes = length < 126 ? 0 : length <= 0xFFFF ? 2 : 8;
  std::string h{static_cast<char>((fin ? 0x80 : 0) | opcode),
                static_cast<char>(0x80 | (bytes == 0 ? length : bytes == 2 ? 126 : 127))};
  for (int i = bytes - 1; i >= 0; --i) h += static_cast<char>((length >> (8 * i)) & 0xFF);
  return h + std::string(4, '\0');
}

TEST(BoundedFramesTest, ClaimedLengthsReserveLittleAndTheLimitHolds) {
  const struct {
    std::string bytes;
    bool tooBig;
  } cases[] = {
      {Header(true, 2, kLimit), false},
      {Header(false, 1, 1) + "3" + Header(true, 0, kLimit - 1), false},
      {Header(true, 2, kLimit + 1), true},
      {Header(false, 1, 1) + "3" + Header(true, 0, kLimit), true},
  };
  for (const auto& c : cases) {
    Reader reader;
    EXPECT_EQ(reader.Feed(c.bytes), c.tooBig ? kTooBig : websocketpp::lib::error_code());
    EXPECT_LE(reader.Reserved(), 2 * kMaxMessageReservation);
  }
}

TEST(BoundedFramesTest, PayloadsStillArriveWhole) {
  const std::string big(300000, 'x');
  const struct {
    std::string bytes, payload;
  } cases[] = {
      {Header(false, 1, 1) + "7" + Header(false, 0, 0) + Header(true, 0, 8) + "?Block=4", "7?Block=4"},
      {Header(false, 2, 100000) + big.substr(0, 100000) + Header(true, 0, 200000) + big.substr(100000), big},
  };
  for (const auto& c : cases) {
    Reader reader;
    EXPECT_FALSE(reader.Feed(c.bytes));
    ASSERT_TRUE(reader.ready());
    EXPECT_EQ(reader.get_message()->get_payload(), c.payload);
  }
}

}  // namespace
}  // namespace kavenor
