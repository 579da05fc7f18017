#include "service/http_page.h"

#include <gtest/gtest.h>

#include "common/exe_dir.h"
#include "common/test_support.h"

namespace kavenor {
namespace {

TEST(HttpPageTest, PageByModel) {
  const std::u16string zeroThree = u"03_idcard.html", nfc = u"NFC_idcard.html", m1 = u"idcardM1.html";
  const std::pair<int32_t, std::u16string> cases[] = {{0, zeroThree}, {3, zeroThree}, {4, nfc}, {5, nfc},
                                                      {1, m1}, {2, m1}, {-1, m1}, {6, m1}};
  for (const auto& [model, page] : cases) EXPECT_EQ(TestPageName(model), page) << model;
}

TEST(HttpPageTest, PagesAreReadByteForByteByTheirUtf16Path) {
  testing::ScratchDir root(u"kavenor-page");
  const std::u16string dir = root.Join(u"读卡 ☃") + kPathSeparator;  // no ANSI code page spells it
  testing::MakeDirs(dir);
  const std::string bytes("<html>\0\r\n\xff\xfe</html>\n", 20);
  testing::WriteFileBytes(dir + u"03_idcard.html", bytes);
  testing::WriteFileBytes(dir + u"idcardM1.html", "");
  EXPECT_EQ(TestPageBody(dir, 3), bytes);
  EXPECT_EQ(TestPageBody(dir, 2), "");

  std::string out = "kept";
  ::testing::internal::CaptureStdout();
  LoadFileToString(dir + u"NFC_idcard.html", out);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "open  file Fail  !!!\n");
  EXPECT_EQ(out, "kept");
}

}  // namespace
}  // namespace kavenor
