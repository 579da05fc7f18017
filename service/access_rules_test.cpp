#include "service/access_rules.h"

#include <gtest/gtest.h>

namespace kavenor {
namespace {

TEST(AccessRules, OriginsAreComparedByTheirParts) {
  struct Case {
    const char* listed;
    const char* origin;
    bool allowed;
  };
  const Case cases[] = {
      {"https://counter.example.cn", "https://counter.example.cn", true},
      {"https://counter.example.cn", "HTTPS://Counter.Example.CN", true},
      {"https://counter.example.cn/", "https://counter.example.cn", true},
      {"https://counter.example.cn", "https://counter.example.cn:443", true},  // the scheme's port
      {"http://10.1.2.3:8080", "http://10.1.2.3:8080", true},
      {"http://10.1.2.3:8080", "http://10.1.2.3", false},
      {"http://10.1.2.3:8080", "https://10.1.2.3:8080", false},
      {"https://counter.example.cn", "https://counter.example.cn.evil.com", false},
      {"https://counter.example.cn", "https://evil.com", false},
      {"https://a.cn, http://10.1.2.3:8080", "http://10.1.2.3:8080", true},
      {"https://a.cn  http://b.cn", "http://b.cn", true},
      {"http://[FE80::1]:8080", "http://[fe80::1]:8080", true},
      // Pages opened from a file: only when listed.
      {"https://a.cn", "null", false},
      {"https://a.cn null", "null", true},
      // Not an origin at all.
      {"https://a.cn", "https://a.cn/page", false},
      {"https://a.cn", "a.cn", false},
      {"https://a.cn", "https://a.cn:99999", false},
      // The service's own pages, whatever the list.
      {"https://a.cn", "http://127.0.0.1:7415", true},
      {"https://a.cn", "http://localhost:7415", true},
      {"https://a.cn", "http://LOCALHOST:7415", true},
      {"https://a.cn", "http://[::1]:7415", true},
      {"https://a.cn", "http://127.0.0.1:7416", false},
      {"https://a.cn", "https://127.0.0.1:7415", false},
      // Not from a browser: no Origin header.
      {"https://a.cn", "", true},
      // Without a list, every origin.
      {"", "https://evil.com", true},
      {"  ", "null", true},
      // A list of mistakes still means a list.
      {"counter.example.cn", "https://counter.example.cn", false},
  };
  for (const Case& c : cases) {
    const AccessRules rules = MakeAccessRules("", c.listed);
    EXPECT_EQ(rules.AllowsOrigin(c.origin, 7415), c.allowed) << "list \"" << c.listed << "\", origin " << c.origin;
  }
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
    bool listed;
    std::vector<std::string> allowed, refused;  // origins
    const char* notice;                          // in one of the notices; empty: none at all
  };
  const Case cases[] = {
      {"plain", "[IP]\r\nport=1\r\nBind=any\r\n[Security]\r\nAllowedOrigins=https://a.cn\r\n",
       BindScope::kAnyInterface, true, {"https://a.cn"}, {"https://b.cn"}, ""},
      {"no keys", "[IP]\nport=1\n", BindScope::kAnyInterface, false, {"https://b.cn"}, {}, ""},
      {"a second [IP] that binds loopback", "[IP]\nport=1\n[Device]\nID=0\n[IP]\nBind=loopback\n",
       BindScope::kLoopbackOnly, false, {}, {}, "[IP] stands more than once"},
      {"a misspelled key", "[Security]\nAllowedOrigin=https://a.cn\n", BindScope::kAnyInterface, true, {},
       {"https://a.cn"}, "[Security] allowedorigin is no setting"},
      {"a misspelled bind", "[IP]\nBnd=any\n", BindScope::kLoopbackOnly, false, {}, {}, "[IP] bnd is no setting"},
      {"keys before any section", "Bind=loopback\nAllowedOrigins=https://a.cn\n[IP]\nport=1\n",
       BindScope::kLoopbackOnly, true, {"https://a.cn"}, {"https://b.cn"}, "before any section"},
      {"two lists", "[Security]\nAllowedOrigins=https://a.cn https://b.cn\n[Security]\nAllowedOrigins=https://b.cn,https://c.cn\n",
       BindScope::kAnyInterface, true, {"https://b.cn"}, {"https://a.cn", "https://c.cn"}, "stands more than once"},
      {"a list longer than is read", "[Security]\nAllowedOrigins=" + longList + "https://late.cn\n",
       BindScope::kAnyInterface, true, {"http://10.1.2.3:8080"}, {"http://10.1.2.3:80", "https://late.cn"},
       "longer than 8191"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const AccessRules rules = AccessRulesFromSettingsText(c.text);
    EXPECT_EQ(rules.bind, c.scope);
    EXPECT_EQ(rules.originsListed, c.listed);
    for (const std::string& origin : c.allowed) EXPECT_TRUE(rules.AllowsOrigin(origin, 7415)) << origin;
    for (const std::string& origin : c.refused) EXPECT_FALSE(rules.AllowsOrigin(origin, 7415)) << origin;
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
