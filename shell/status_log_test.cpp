#include "shell/status_log.h"

#include <gtest/gtest.h>

namespace kavenor {
namespace {

std::tm When() {
  std::tm when{};
  when.tm_year = 2024 - 1900;
  when.tm_mon = 2;
  when.tm_mday = 5;
  when.tm_hour = 14;
  when.tm_min = 7;
  when.tm_sec = 9;
  return when;
}

TEST(StatusLogTest, OneLinePerCode) {
  const std::pair<uint32_t, std::u16string> cases[] = {
      {0, u"读卡成功"}, {1, u"卡认证失败"}, {2, u"设备无法连接，请拔插一下设备"}, {3, u"读卡失败"},
      {6, u"未知错误:6"}, {7, u"未知错误:7"}, {4294967295u, u"未知错误:-1"},  // compared unsigned, printed signed
      {100, u"读卡组件意外退出，已重新启动"}, {101, u"读卡组件无响应，已重新启动"}, {102, u"读卡组件无法启动，稍后自动重试"},
  };
  for (const auto& [code, text] : cases)
    EXPECT_EQ(StatusLogLine(StatusLogText(code), When()), u"2024-03-05 14:07:09 " + text) << code;
  EXPECT_EQ(StatusLogLine(ServiceFailedLogText(7415), When()), u"2024-03-05 14:07:09 服务未能启动：端口7415已被占用或无法使用");
}

TEST(StatusLogTest, LongerThanTheLimitIsEmptiedFirst) {
  const std::u16string line = u"2024-03-05 14:07:09 读卡成功";
  struct Case {
    size_t before;
    std::u16string expected;
  } cases[] = {
      {0, line + u"\r\n"},
      {kStatusLogLimit, std::u16string(kStatusLogLimit, u'x') + line + u"\r\n"},
      {kStatusLogLimit + 1, line + u"\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(AppendStatusLogLine(std::u16string(c.before, u'x'), line), c.expected) << c.before;
}

}  // namespace
}  // namespace kavenor
