#include <gtest/gtest.h>

#include "common/status_message.h"
#include "common/text.h"
#include "reader/reader_test_support.h"

namespace kavenor {
namespace {

using testing::SimulatedApp;
using Lines = std::vector<std::pair<std::string, std::string>>;

// Every item set, so that each field can be told by its text.
Lines FullCard(const std::string& letter) {
  return {{"ports", "1"},
          {"GetCertTypeU", letter},
          {"GetPeopleNameU", "张三"},
          {"GetStandbyENameU", "ZHANG"},
          {"GetPeopleSexU", "男"},
          {"GetPeopleNationU", "汉"},
          {"GetPeopleBirthdayU", "19900101"},
          {"GetPeopleAddressU", "北京市"},
          {"GetPeopleIDCodeU", "110101199001010000"},
          {"GetDepartmentU", "公安局"},
          {"GetStartDateU", "20200101"},
          {"GetEndDateU", "20400101"},
          {"GetNewAppMsgU", "APP"},
          {"GetFPDate", ""},
          {"GetIssuesNumU", "2"},
          {"GetPassCheckIDU", "PASS"},
          {"GetOldIDCardNumberU", "OLD"},
          {"GetPeopleChineseNameU", "CN"},
          {"GetPeopleCertVersionU", "V1"},
          {"GetNationCodeU", "01"},
          {"Getbase64BMPDataU", "UEhPVE8="},
          {"Getbase64FrontBMPDataU", "RlJPTlQ="},
          {"Getbase64backBMPDataU", "QkFDSw=="}};
}

Lines With(Lines lines, const Lines& more) {
  lines.insert(lines.end(), more.begin(), more.end());  // later lines win in the scenario
  return lines;
}

const std::string kHolder = "|男|汉|19900101|北京市|110101199001010000|公安局|20200101|20400101|APP";
const std::string kTail = "|CN|V1|01|UEhPVE8=";
const std::string kImages = "|RlJPTlQ=|QkFDSw==";

struct RecordCase {
  const char* name;
  DriverKind kind;
  std::string variant;
  Lines scenario;
  std::string record;  // UTF-8, after the reply prefix
};

std::u16string Prefix(DriverKind kind) {
  switch (kind) {
    case DriverKind::k5U: return u"ORV5U|大厅1|";
    case DriverKind::k5A: return u"ORV-5A||";
    case DriverKind::k5ULN: return u"ORV-5U-HID||";
  }
  return u"";
}

TEST(CardRecord, LayoutPerDriverAndKind) {
  const std::string fp1 = "AQAA" + [] { std::string s; for (int i = 0; i < 340; ++i) s += "AAAA"; return s; }() + "AA==";
  const RecordCase cases[] = {
      // ORV5U: the kind decides the count and position 14; the card images close the record.
      {"5U default", DriverKind::k5U, "full", FullCard(""), "身份证|张三" + kHolder + "|||PASS" + kTail + kImages},
      {"5U I", DriverKind::k5U, "full", FullCard("I"), "外国人永久居留身份证（I）|张三" + kHolder + "|||PASS" + kTail + kImages},
      {"5U J", DriverKind::k5U, "full", FullCard("J"), "港澳台居民居住证（J）|张三" + kHolder + "||2|PASS" + kTail + kImages},
      {"5U J count not delivered", DriverKind::k5U, "full", With(FullCard("J"), {{"result.GetIssuesNumU", "0"}}),
       "港澳台居民居住证（J）|张三" + kHolder + "||PASS" + kTail + kImages},
      {"5U Y", DriverKind::k5U, "full", FullCard("Y"), "新版外国人永久居留身份证（Y）|张三ZHANG" + kHolder + "||2|OLD" + kTail + kImages},
      {"5U Y without standby name", DriverKind::k5U, "full", With(FullCard("Y"), {{"GetStandbyENameU", ""}}),
       "新版外国人永久居留身份证（Y）|张三" + kHolder + "||2|OLD" + kTail + kImages},
      {"5U other letter", DriverKind::k5U, "full", FullCard("X"), "身份证|张三" + kHolder + "|||PASS" + kTail + kImages},
      {"5U space letter", DriverKind::k5U, "full", FullCard(" i"), "身份证|张三" + kHolder + "|||PASS" + kTail + kImages},
      {"5U default without the count getter", DriverKind::k5U, "no_GetIssuesNumU", FullCard(""),
       "身份证|张三" + kHolder + "|||PASS" + kTail + kImages},
      {"5U J without the count getter", DriverKind::k5U, "no_GetIssuesNumU", FullCard("J"),
       "港澳台居民居住证（J）|张三" + kHolder + "||PASS" + kTail + kImages},
      // ORV5A and ORV5U-LN: the count for every kind, always the pass number, no images.
      {"5A default", DriverKind::k5A, "full", FullCard(""), "身份证|张三" + kHolder + "||2|PASS" + kTail},
      {"5A I", DriverKind::k5A, "full", FullCard("I"), "外国人永久居住证（I）|张三" + kHolder + "||2|PASS" + kTail},
      {"5ULN J", DriverKind::k5ULN, "full", FullCard("J"), "港澳台居住证（J）|张三" + kHolder + "||2|PASS" + kTail},
      {"5A Y is unknown", DriverKind::k5A, "full", FullCard("Y"), "身份证|张三" + kHolder + "||2|PASS" + kTail},
      {"5ULN count not delivered", DriverKind::k5ULN, "full", With(FullCard(""), {{"result.GetIssuesNumU", "0"}}),
       "身份证|张三" + kHolder + "||PASS" + kTail},
      // Fingerprint: all zero and a failed call leave the field empty; one set byte gives 1368 characters.
      {"fingerprint one byte", DriverKind::k5A, "full", With(FullCard(""), {{"GetFPDate", "01"}}),
       "身份证|张三" + kHolder + "|" + fp1 + "|2|PASS" + kTail},
      {"fingerprint call fails", DriverKind::k5A, "full", With(FullCard(""), {{"GetFPDate", "01"}, {"result.GetFPDate", "0"}}),
       "身份证|张三" + kHolder + "||2|PASS" + kTail},
      {"no fingerprint getter", DriverKind::k5A, "no_GetFPDate", FullCard(""), "身份证|张三" + kHolder + "|2|PASS" + kTail},
      // A missing end date removes both dates.
      {"no end date", DriverKind::k5A, "no_GetEndDateU", FullCard(""),
       "身份证|张三|男|汉|19900101|北京市|110101199001010000|公安局|APP||2|PASS" + kTail},
      {"no certificate type", DriverKind::k5U, "no_GetCertTypeU", FullCard("J"), "ORV_GetCertTypeU函数找不到"},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedApp app(c.variant);
    app.SetScenario(c.kind, c.scenario);
    auto driver = app.MakeDriver(c.kind);
    EXPECT_EQ(Utf16ToUtf8(driver->ReadIdCard()), Utf16ToUtf8(Prefix(c.kind)) + c.record);
    EXPECT_EQ(app.TakeStatuses(), std::vector<uint32_t>{0});
  }
}

TEST(CardRecord, FingerprintIsAlways1368Base64Characters) {
  SimulatedApp app;
  std::string all(2048, 'f');
  app.SetScenario(DriverKind::k5ULN, With(FullCard(""), {{"GetFPDate", all}}));
  auto driver = app.MakeDriver(DriverKind::k5ULN);
  std::u16string reply = driver->ReadIdCard();
  std::u16string expected = u"|" + std::u16string(1364, u'/') + u"/w==|";
  EXPECT_NE(reply.find(expected), std::u16string::npos);
  app.TakeStatuses();
}

// A library that writes no terminating zero is read up to the capacity it was given.
TEST(CardRecord, UnterminatedTextsStopAtTheirCapacity) {
  SimulatedApp app;
  app.SetScenario(DriverKind::k5U, With(FullCard(""), {{"unterminated", "1"}}));
  auto driver = app.MakeDriver(DriverKind::k5U);
  std::u16string reply = driver->ReadIdCard();
  std::vector<size_t> sizes;
  size_t start = 0;
  for (size_t bar; (bar = reply.find(u'|', start)) != std::u16string::npos; start = bar + 1)
    sizes.push_back(bar - start);
  sizes.push_back(reply.size() - start);
  ASSERT_EQ(sizes.size(), 22u);  // model tag, device field, 20 record fields
  EXPECT_EQ(sizes[3], 260u);     // name
  EXPECT_EQ(sizes[18], 128u);    // nation code
  EXPECT_EQ(sizes[19], 102400u); // photo
  EXPECT_EQ(sizes[21], 10240000u);
  app.TakeStatuses();
}

}  // namespace
}  // namespace kavenor
