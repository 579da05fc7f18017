#include "service/access_rules.h"

#include <gtest/gtest.h>

namespace kavenor {
namespace {

constexpr SiteStanding kIn = SiteStanding::kAllowed, kOut = SiteStanding::kNotAllowed, kAsk = SiteStanding::kUndecided,
                        kNo = SiteStanding::kRefused;

TEST(AccessRules, OriginsAreComparedByTheirParts) {
  struct Case {
    const char* listed;
    const char* origin;
    SiteStanding standing;
  };
  const Case cases[] = {
      {"https://counter.example.cn", "https://counter.example.cn", kIn},
      {"https://counter.example.cn", "HTTPS://Counter.Example.CN", kIn},
      {"https://counter.example.cn/", "https://counter.example.cn", kIn},
      {"https://counter.example.cn", "https://counter.example.cn:443", kIn},  // the scheme's port
      {"http://10.1.2.3:8080", "http://10.1.2.3:8080", kIn},
      {"http://10.1.2.3:8080", "http://10.1.2.3", kAsk},
      {"http://10.1.2.3:8080", "https://10.1.2.3:8080", kAsk},
      {"https://counter.example.cn", "https://counter.example.cn.evil.com", kAsk},
      {"https://counter.example.cn", "https://evil.com", kAsk},
      {"https://a.cn, http://10.1.2.3:8080", "http://10.1.2.3:8080", kIn},
      {"https://a.cn  http://b.cn", "http://b.cn", kIn},
      {"http://[FE80::1]:8080", "http://[fe80::1]:8080", kIn},
      // Pages opened from a file: only when listed, never asked about.
      {"https://a.cn", "null", kOut},
      {"https://a.cn null", "null", kIn},
      // Not an origin at all: never asked about.
      {"https://a.cn", "https://a.cn/page", kOut},
      {"https://a.cn", "a.cn", kOut},
      {"https://a.cn", "https://a.cn:99999", kOut},
      // The service's own pages, whatever the list.
      {"https://a.cn", "http://127.0.0.1:7415", kIn},
      {"https://a.cn", "http://localhost:7415", kIn},
      {"https://a.cn", "http://LOCALHOST:7415", kIn},
      {"https://a.cn", "http://[::1]:7415", kIn},
      {"https://a.cn", "http://127.0.0.1:7416", kAsk},
      {"https://a.cn", "https://127.0.0.1:7415", kAsk},
      // Not from a browser: no Origin header.
      {"https://a.cn", "", kIn},
      // Without a list, the operator decides.
      {"", "https://evil.com", kAsk},
      {"  ", "null", kOut},
      // Every site, on the operator's choice.
      {"*", "https://evil.com", kIn},
      {"https://a.cn, *", "null", kIn},
      // A list of mistakes.
      {"counter.example.cn", "https://counter.example.cn", kAsk},
  };
  for (const Case& c : cases) {
    const AccessRules rules = MakeAccessRules("", c.listed);
    EXPECT_EQ(rules.StandingOf(c.origin, 7415), c.standing) << "list \"" << c.listed << "\", origin " << c.origin;
  }
}

TEST(AccessRules, RefusedSitesAndQuestionsOff) {
  struct Case {
    const char* allowed;
    const char* denied;
    const char* ask;
    const char* origin;
    SiteStanding standing;
  };
  const Case cases[] = {
      {"", "https://evil.com", "", "https://EVIL.com:443", kNo},
      {"*", "https://evil.com", "", "https://evil.com", kNo},  // refused stays refused
      {"", "https://evil.com", "", "https://good.com", kAsk},
      {"", "", "0", "https://good.com", kOut},
      {"https://good.com", "", "0", "https://good.com", kIn},
      {"", "", "1", "https://good.com", kAsk},
      {"", "", "no", "https://good.com", kOut},  // unclear: no questions
      {"", "https://evil.com", "0", "https://evil.com", kNo},
  };
  for (const Case& c : cases) {
    const AccessRules rules = MakeAccessRules("", c.allowed, c.denied, c.ask);
    EXPECT_EQ(rules.StandingOf(c.origin, 7415), c.standing) << c.allowed << " / " << c.denied << " / " << c.ask;
  }
  EXPECT_EQ(MakeAccessRules("", "", "", "no").notices.size(), 1u);
  EXPECT_EQ(MakeAccessRules("", "", "https://a.cn evil", "").notices.size(), 1u);
}

TEST(AccessRules, OriginTextIsWhatTheSettingsWrite) {
  const std::pair<const char*, const char*> cases[] = {
      {"HTTPS://Counter.Example.CN:443/", "https://counter.example.cn"},
      {"http://10.1.2.3:8080", "http://10.1.2.3:8080"},
      {"http://[::1]:80", "http://[::1]"},
      {"NULL", "null"},
  };
  for (const auto& [origin, text] : cases) EXPECT_EQ(OriginText(*ParseWebOrigin(origin)), text);
}

TEST(AccessRules, BindScopeAndNotices) {
  struct Case {
    const char* bind;
    BindScope scope;
    bool notice;
  };
  const Case cases[] = {
      {"", BindScope::kAnyInterface, false},
      {"any", BindScope::kAnyInterface, false},
      {"ANY", BindScope::kAnyInterface, false},
      {"loopback", BindScope::kLoopbackOnly, false},
      {"Loopback", BindScope::kLoopbackOnly, false},
      // An unclear value never opens the service wider.
      {"127.0.0.1", BindScope::kLoopbackOnly, true},
      {"loopbak", BindScope::kLoopbackOnly, true},
  };
  for (const Case& c : cases) {
    const AccessRules rules = MakeAccessRules(c.bind, "");
    EXPECT_EQ(rules.bind, c.scope) << c.bind;
    EXPECT_EQ(rules.notices.size(), c.notice ? 1u : 0u) << c.bind;
  }
  EXPECT_EQ(MakeAccessRules("", "https://a.cn, a.cn/x").notices.size(), 1u);
}

// What cannot be read as written never opens the service wider, and says so.
TEST(AccessRules, SettingsFilesThatSayMoreOrLessThanTheyMean) {
  std::string longList;
  while (longList.size() < 8200) longList += "http://10.1.2.3:8080, ";
  struct Case {
    const char* name;
    std::string text;
    BindScope scope;
    std::vector<std::string> allowed, asked, notIn;  // origins, by their standing
    const char* notice;                                 // in one of the notices; empty: none at all
  };
  const Case cases[] = {
      {"plain", "[IP]\r\nport=1\r\nBind=any\r\n[Security]\r\nAllowedOrigins=https://a.cn\r\n",
       BindScope::kAnyInterface, {"https://a.cn"}, {"https://b.cn"}, {}, ""},
      {"no keys", "[IP]\nport=1\n", BindScope::kAnyInterface, {}, {"https://b.cn"}, {}, ""},
      {"a second [IP] that binds loopback", "[IP]\nport=1\n[Device]\nID=0\n[IP]\nBind=loopback\n",
       BindScope::kLoopbackOnly, {}, {"https://b.cn"}, {}, "[IP] stands more than once"},
      {"a misspelled key", "[Security]\nAllowedOrigin=https://a.cn\n", BindScope::kAnyInterface, {}, {},
       {"https://a.cn"}, "[Security] allowedorigin is no setting"},
      {"a misspelled key beside every site", "[Security]\nAllowedOrigins=*\nAskOperater=0\n",
       BindScope::kAnyInterface, {}, {}, {"https://a.cn"}, "[Security] askoperater is no setting"},
      {"a misspelled bind", "[IP]\nBnd=any\n", BindScope::kLoopbackOnly, {}, {"https://a.cn"}, {},
       "[IP] bnd is no setting"},
      {"keys before any section", "Bind=loopback\nAllowedOrigins=https://a.cn\n[IP]\nport=1\n",
       BindScope::kLoopbackOnly, {"https://a.cn"}, {"https://b.cn"}, {}, "before any section"},
      {"two lists", "[Security]\nAllowedOrigins=https://a.cn https://b.cn\n[Security]\nAllowedOrigins=https://b.cn,https://c.cn\n",
       BindScope::kAnyInterface, {"https://b.cn"}, {"https://a.cn", "https://c.cn"}, {}, "stands more than once"},
      {"every site and a list", "[Security]\nAllowedOrigins=*\n[Security]\nAllowedOrigins=https://b.cn\n",
       BindScope::kAnyInterface, {"https://b.cn"}, {"https://a.cn"}, {}, "stands more than once"},
      {"two refused lists and a no", "[Security]\nDeniedOrigins=https://a.cn\nAskOperator=1\n[Security]\nDeniedOrigins=https://b.cn\nAskOperator=0\n",
       BindScope::kAnyInterface, {}, {}, {"https://a.cn", "https://b.cn", "https://c.cn"}, "stands more than once"},
      {"a list longer than is read", "[Security]\nAllowedOrigins=" + longList + "https://late.cn\n",
       BindScope::kAnyInterface, {"http://10.1.2.3:8080"}, {"http://10.1.2.3:80", "https://late.cn"}, {},
       "longer than 8191"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const AccessRules rules = AccessRulesFromSettingsText(c.text);
    EXPECT_EQ(rules.bind, c.scope);
    for (const std::string& origin : c.allowed) EXPECT_EQ(rules.StandingOf(origin, 7415), kIn) << origin;
    for (const std::string& origin : c.asked) EXPECT_EQ(rules.StandingOf(origin, 7415), kAsk) << origin;
    for (const std::string& origin : c.notIn) EXPECT_NE(rules.StandingOf(origin, 7415), kIn) << origin;
    std::string all;
    for (const std::string& notice : rules.notices) all += notice + "\n";
    if (std::string(c.notice).empty())
      EXPECT_EQ(all, "");
    else
      EXPECT_NE(all.find(c.notice), std::string::npos) << all;
  }
}

}  // namespace
}  // namespace kavenor
