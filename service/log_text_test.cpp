#include "service/log_text.h"

#include <gtest/gtest.h>

namespace kavenor {
namespace {

TEST(LogText, MessagesShowNoForgedLineNoKeyAndAGlanceAtMost) {
  const struct {
    std::string message;
    std::string logged;
  } cases[] = {
      {"3", "3"},
      {"2?timeout=5000", "2?timeout=5000"},
      {"3\n2026-12-10 10:00:00 读卡成功", "3\\x0a2026-12-10 10:00:00 \\xe8\\xaf\\xbb\\xe5\\x8d\\xa1\\xe6\\x88\\x90\\xe5\\x8a\\x9f"},
      {"3\r\x1b[2Jx\\y", "3\\x0d\\x1b[2Jx\\x5cy"},
      {"7?Key=a0a1a2a3a4a5|Block=4", "7?Key=***|Block=4"},
      {"8?Block=4|Key=a0a1a2a3a4a5|WriteBuf=00112233445566778899aabbccddeeff", "8?Block=4|Key=***|WriteBuf=***"},
      {"8?WriteBuf=0011|Key=ffffffffffff", "8?WriteBuf=***|Key=***"},
      {"9?Key=visible", "9?Key=visible"},  // no memory-card command: nothing to hide
      {std::string(250, 'x'), std::string(200, 'x') + "... (250 bytes)"},
      {std::string(200, 'x'), std::string(200, 'x')},
  };
  for (const auto& c : cases) EXPECT_EQ(LoggedMessage(c.message), c.logged) << c.message;
}

}  // namespace
}  // namespace kavenor
