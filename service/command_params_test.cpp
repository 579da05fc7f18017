#include "service/command_params.h"

#include <gtest/gtest.h>

namespace kavenor {
namespace {

TEST(CommandParamsTest, NumbersAreReadAsStrtoulWith32Bits) {
  const struct {
    std::string text;
    int base;
    uint32_t value;
  } cases[] = {
      {"3", 16, 3}, {"03", 16, 3}, {"0x3", 16, 3}, {"0X3", 16, 3}, {" 3", 16, 3}, {"\t+3", 16, 3},
      {"10", 16, 16}, {"A", 16, 10}, {"hello", 16, 0}, {"", 16, 0}, {"0x", 16, 0}, {"0xg", 16, 0},
      {"-3", 16, 4294967293u}, {"123456789", 16, 4294967295u}, {"-123456789", 16, 4294967295u},
      {"4294967295", 10, 4294967295u}, {"4294967296", 10, 4294967295u}, {"12abc", 10, 12}, {"0x12", 10, 0},
      {std::string("3\0" "5", 3), 16, 3},
  };
  for (const auto& c : cases) EXPECT_EQ(StrToUInt(c.text, c.base), c.value) << c.text << " base " << c.base;
  EXPECT_EQ(ReadCommandCode("3?Key=12|Block=4"), 3u);
  EXPECT_EQ(ReadCommandCode("2|timeout=100"), 2u);  // without "?" the whole message is the code part
  EXPECT_EQ(ReadCommandCode("?3"), 0u);
  EXPECT_EQ(ReadCommandCode("stop-listening "), 0u);
}

TEST(CommandParamsTest, IntParamIsFoundAnywhereAndEndsAtTheNextBar) {
  const struct {
    std::string message;
    int64_t value;
  } cases[] = {
      {"7?Key=ffffffffffff|Block=4", 4}, {"7?Block=4|Key=ffffffffffff", 4},
      {"Block=9", 9},               // in the code part
      {"7?Block=1|Block=2", 1},     // the first occurrence
      {"7?Block=12x|y", 12},
      {"7?Block=", 0},
      {"7?Block", 0},               // the name ends the message: empty, never read past the end
      {"7?Block|8", 8},             // the bar right after the name: the value runs to the end
      {"7?Key#ff|Block#3", 3},      // the character after the name is not checked
      {"7?Key=ff", -1}, {"7?block=4", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(GetIntParam(c.message, "Block"), c.value) << c.message;
}

TEST(CommandParamsTest, HexParamFillsAtMostTheBuffer) {
  const uint8_t s = 0xEE;  // what the buffer held before
  const struct {
    std::string message;
    size_t capacity;
    int count;
    std::vector<uint8_t> bytes;  // the whole 8-byte buffer afterwards
  } cases[] = {
      {"7?Key=A1b2C3d4E5f6|Block=1", 6, 6, {0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0xf6, s, s}},
      {"7?Key=abc", 6, 1, {0xab, s, s, s, s, s, s, s}},  // an odd digit is ignored
      {"7?Key=00112233445566778899", 6, 6, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, s, s}},
      {"7?Key=", 6, 0, {s, s, s, s, s, s, s, s}},
      {"7?Key", 6, 0, {s, s, s, s, s, s, s, s}},
      {"7?Key=|1234", 6, 2, {0x00, 0x23, s, s, s, s, s, s}},  // the bar at the value's start: to the end
      {"7?Block=1", 6, -1, {s, s, s, s, s, s, s, s}},
      {"7?Key= 1-1+fzz0x1z", 6, 6, {0x01, 0xff, 0x0f, 0x00, 0x00, 0x01, s, s}},  // strtol per pair
      {"8?WriteBuf=" + std::string(34, '7'), 8, 8, std::vector<uint8_t>(8, 0x77)},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> buffer(8, s);
    const std::string name = c.message[0] == '8' ? "WriteBuf" : "Key";
    EXPECT_EQ(GetHexParam(c.message, name, buffer.data(), c.capacity), c.count) << c.message;
    EXPECT_EQ(buffer, c.bytes) << c.message;
  }
}

TEST(CommandParamsTest, TimeoutIsZeroWhenAbsentAndClamped) {
  const struct {
    std::string message;
    int32_t ms;
  } cases[] = {
      {"2?timeout=3000|Block=5", 3000}, {"2?x=1|timeout= 250ms", 250}, {"2", 0}, {"2?timeout=", 0},
      {"2?Timeout=100", 0}, {"2?timeout=2147483647", 2147483647}, {"2?timeout=2147483648", 2147483647},
      {"2?timeout=99999999999", 2147483647}, {"2?timeout=-1", 2147483647},  // read as 4294967295
  };
  for (const auto& c : cases) EXPECT_EQ(CommandTimeoutMs(c.message), c.ms) << c.message;
}

TEST(CommandParamsTest, JsonRecordIsAskedForByCodes2To4Only) {
  const struct {
    std::string message;
    bool json;
    int32_t timeoutMs;
  } cases[] = {
      {"2?timeout=5000|format=json", true, 5000}, {"2?format=json|timeout=5000", true, 5000},
      {"2?format=json", true, 0}, {"3?format=json", true, 0}, {"4?format=json", true, 0},
      {"03?x=1|format=json|y=2", true, 0},
      {"3", false, 0}, {"3?format=text", false, 0}, {"3?format=JSON", false, 0}, {"3?Format=json", false, 0},
      {"3?format=json2", false, 0}, {"3?format=json ", false, 0}, {"3?format=", false, 0}, {"3?format", false, 0},
      {"5?format=json", false, 0}, {"9?format=json", false, 0},
  };
  for (const auto& c : cases) {
    std::optional<Command> command = ParseCommand(c.message);
    ASSERT_TRUE(command.has_value()) << c.message;
    EXPECT_EQ(command->json, c.json) << c.message;
    EXPECT_EQ(command->timeoutMs, c.timeoutMs) << c.message;
  }
  // A memory-card command keeps its own parameters beside it.
  std::optional<Command> read = ParseCommand("7?Key=ffffffffffff|format=json|Block=4");
  ASSERT_TRUE(read.has_value());
  EXPECT_FALSE(read->json);
  EXPECT_FALSE(read->badParameters);
  EXPECT_EQ(read->block, 4);
}

}  // namespace
}  // namespace kavenor
