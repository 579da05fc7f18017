#include "service/site_decisions.h"

#include <gtest/gtest.h>

#include "common/settings.h"
#include "common/test_support.h"
#include "common/text.h"

namespace kavenor {
namespace {

std::string Setting(const TextSetting& setting, const std::u16string& path) {
  return Utf16ToUtf8(ReadSetting(setting, path, 4096));
}

// The operator's answers go into the lists and out of the other one; what the program cannot read
// stays as it was written.
TEST(SiteDecisions, AnswersAreKeptInConfigIni) {
  testing::ScratchDir dir;
  const std::u16string path = dir.Join(u"Config.ini");
  const std::string text = "[IP]\r\nport=7415\r\n[Security]\r\nAllowedOrigins=https://a.cn, not-an-origin\r\n"
                           "DeniedOrigins=https://evil.cn\r\n";
  testing::WriteFileBytes(path, text);
  SiteDecisions sites;
  sites.Load(AccessRulesFromSettingsText(text), path);

  EXPECT_EQ(sites.StandingOf("https://new.cn", 7415), SiteStanding::kUndecided);
  EXPECT_TRUE(sites.Remember("https://new.cn", true));
  EXPECT_EQ(sites.StandingOf("https://NEW.cn:443", 7415), SiteStanding::kAllowed);
  EXPECT_EQ(Setting(kAllowedOriginsSetting, path), "https://a.cn,not-an-origin,https://new.cn");

  // A change of mind moves the site.
  EXPECT_TRUE(sites.Remember("https://a.cn", false));
  EXPECT_EQ(sites.StandingOf("https://a.cn", 7415), SiteStanding::kRefused);
  EXPECT_EQ(Setting(kAllowedOriginsSetting, path), "not-an-origin,https://new.cn");
  EXPECT_EQ(Setting(kDeniedOriginsSetting, path), "https://evil.cn,https://a.cn");

  EXPECT_TRUE(sites.Forget("https://evil.cn"));
  EXPECT_EQ(sites.StandingOf("https://evil.cn", 7415), SiteStanding::kUndecided);
  EXPECT_EQ(Setting(kDeniedOriginsSetting, path), "https://a.cn");
  EXPECT_EQ(ReadSetting(kPortSetting, path), 7415);

  const std::vector<SiteDecisions::Site> shown = sites.Sites();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].origin, "https://new.cn");
  EXPECT_TRUE(shown[0].allowed);
  EXPECT_EQ(shown[1].origin, "https://a.cn");
  EXPECT_FALSE(shown[1].allowed);
}

TEST(SiteDecisions, EverySiteCanBeTakenBack) {
  testing::ScratchDir dir;
  const std::u16string path = dir.Join(u"Config.ini");
  const std::string text = "[Security]\nAllowedOrigins=*\n";
  testing::WriteFileBytes(path, text);
  SiteDecisions sites;
  sites.Load(AccessRulesFromSettingsText(text), path);
  ASSERT_EQ(sites.Sites().size(), 1u);
  EXPECT_EQ(sites.Sites()[0].origin, "*");
  EXPECT_EQ(sites.StandingOf("https://any.cn", 7415), SiteStanding::kAllowed);
  EXPECT_TRUE(sites.Forget("*"));
  EXPECT_EQ(sites.StandingOf("https://any.cn", 7415), SiteStanding::kUndecided);
  EXPECT_EQ(Setting(kAllowedOriginsSetting, path), "");
  EXPECT_FALSE(sites.Remember("not an origin", true));
}

}  // namespace
}  // namespace kavenor
