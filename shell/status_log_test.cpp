#include "shell/status_log.h"

#include <gtest/gtest.h>

namespace kavenor {
namespace {

TEST(StatusLogTest, OneLinePerCode) {
  std::tm when{};
  when.tm_year = 2024 - 1900;
  when.tm_mon = 2;
  when.tm_mday = 5;
  when.tm_hour = 14;
  when.tm_min = 7;
  when.tm_sec = 9;
  const std::pair<uint32_t, std::u16string> cases[] = {
      {0, u"读卡成功"}, {1, u"卡认证失败"}, {2, u"设备无法连接，请拔插一下设备"}, {3, u"读卡失败"},
      {7, u"未知错误:7"}, {4294967295u, u"未知错误:-1"},  // compared unsigned, printed signed
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(StatusLogLine(code, when), u"2024-03-05 14:07:09 " + text) << code;
}

}  // namespace
}  // namespace kavenor
