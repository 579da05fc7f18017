#include "service/status_report.h"

#include <gtest/gtest.h>

namespace kavenor {
namespace {

TEST(StatusReport, JsonStringsEscapeWhatJsonForbids) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""},
      {"https://a.cn", "\"https://a.cn\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
      {std::string("a\nb\r\x01\x1f", 6), "\"a\\u000ab\\u000d\\u0001\\u001f\""},
      {"大厅1|x", "\"大厅1|x\""},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(JsonQuoted(text), json);
}

}  // namespace
}  // namespace kavenor
