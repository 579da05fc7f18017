#include <gtest/gtest.h>

#include "common/settings.h"
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

// ---- The same cards as JSON objects

// The members of the full card, by the names the JSON record gives them.
const std::string kJsonHolder =
    R"("sex":"男","nation":"汉","birthDate":"19900101","address":"北京市","idNumber":"110101199001010000",)"
    R"("authority":"公安局","validFrom":"20200101","validTo":"20400101","appendedMessage":"APP","fingerprint":"")";
const std::string kJsonTail = R"("chineseName":"CN","certVersion":"V1","nationCode":"01","photo":"UEhPVE8=")";
const std::string kJsonImages = R"(,"cardFront":"RlJPTlQ=","cardBack":"QkFDSw==")";

std::string JsonHead(DriverKind kind, const std::string& kindName, const std::string& label) {
  const std::string model = kind == DriverKind::k5U ? "ORV5U" : kind == DriverKind::k5A ? "ORV-5A" : "ORV-5U-HID";
  const std::string device = kind == DriverKind::k5U ? "大厅1" : "";
  return R"({"readerModel":")" + model + R"(","deviceName":")" + device + R"(","kind":")" + kindName +
         R"(","kindLabel":")" + label + R"(",)";
}

// The full card's object: `middle` is what stands between the fingerprint and the Chinese name.
std::string FullJson(DriverKind kind, const std::string& kindName, const std::string& label,
                     const std::string& name, const std::string& middle) {
  return JsonHead(kind, kindName, label) + R"("name":")" + name + R"(",)" + kJsonHolder + "," + middle + "," +
         kJsonTail + (kind == DriverKind::k5U ? kJsonImages : "") + "}";
}

TEST(CardRecordJson, EveryKindOnEveryModel) {
  const std::string pass = R"("issueCount":2,"passNumber":"PASS")";
  // ORV5U's resident card and kind I carry no count: no member (the text keeps an empty field).
  const std::string noCount = R"("passNumber":"PASS")";
  const RecordCase cases[] = {
      {"5U resident", DriverKind::k5U, "full", FullCard(""), FullJson(DriverKind::k5U, "resident", "身份证", "张三", noCount)},
      {"5U I", DriverKind::k5U, "full", FullCard("I"),
       FullJson(DriverKind::k5U, "I", "外国人永久居留身份证（I）", "张三", noCount)},
      {"5U J", DriverKind::k5U, "full", FullCard("J"), FullJson(DriverKind::k5U, "J", "港澳台居民居住证（J）", "张三", pass)},
      {"5U Y", DriverKind::k5U, "full", FullCard("Y"),
       FullJson(DriverKind::k5U, "Y", "新版外国人永久居留身份证（Y）", "张三ZHANG", R"("issueCount":2,"oldCardNumber":"OLD")")},
      {"5A resident", DriverKind::k5A, "full", FullCard(""), FullJson(DriverKind::k5A, "resident", "身份证", "张三", pass)},
      {"5A I", DriverKind::k5A, "full", FullCard("I"), FullJson(DriverKind::k5A, "I", "外国人永久居住证（I）", "张三", pass)},
      {"5A J", DriverKind::k5A, "full", FullCard("J"), FullJson(DriverKind::k5A, "J", "港澳台居住证（J）", "张三", pass)},
      {"5A Y is unknown", DriverKind::k5A, "full", FullCard("Y"), FullJson(DriverKind::k5A, "resident", "身份证", "张三", pass)},
      {"5ULN resident", DriverKind::k5ULN, "full", FullCard(""), FullJson(DriverKind::k5ULN, "resident", "身份证", "张三", pass)},
      {"5ULN I", DriverKind::k5ULN, "full", FullCard("I"), FullJson(DriverKind::k5ULN, "I", "外国人永久居住证（I）", "张三", pass)},
      {"5ULN J", DriverKind::k5ULN, "full", FullCard("J"), FullJson(DriverKind::k5ULN, "J", "港澳台居住证（J）", "张三", pass)},
      {"5ULN Y is unknown", DriverKind::k5ULN, "full", FullCard("Y"),
       FullJson(DriverKind::k5ULN, "resident", "身份证", "张三", pass)},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedApp app(c.variant);
    app.SetScenario(c.kind, c.scenario);
    auto driver = app.MakeDriver(c.kind);
    EXPECT_EQ(Utf16ToUtf8(driver->ReadIdCardIn(RecordForm::kJson, false, false)), c.record);
    EXPECT_EQ(app.TakeStatuses(), std::vector<uint32_t>{0});
  }
}

// What the text record leaves out, the JSON record gives as null; both come from one table, so each
// case checks the two forms of the same card.
TEST(CardRecordJson, MissingGettersAreNullWhereTheTextDropsTheField) {
  const struct {
    const char* name;
    DriverKind kind;
    std::string variant;
    Lines scenario;
    std::string text;  // after the reply prefix
    std::string json;
  } cases[] = {
      {"5U J without the count getter", DriverKind::k5U, "no_GetIssuesNumU", FullCard("J"),
       "港澳台居民居住证（J）|张三" + kHolder + "||PASS" + kTail + kImages,
       FullJson(DriverKind::k5U, "J", "港澳台居民居住证（J）", "张三", R"("issueCount":null,"passNumber":"PASS")")},
      {"5ULN count not delivered", DriverKind::k5ULN, "full", With(FullCard(""), {{"result.GetIssuesNumU", "0"}}),
       "身份证|张三" + kHolder + "||PASS" + kTail,
       FullJson(DriverKind::k5ULN, "resident", "身份证", "张三", R"("issueCount":null,"passNumber":"PASS")")},
      {"5A without the end date: both dates", DriverKind::k5A, "no_GetEndDateU", FullCard(""),
       "身份证|张三|男|汉|19900101|北京市|110101199001010000|公安局|APP||2|PASS" + kTail,
       JsonHead(DriverKind::k5A, "resident", "身份证") +
           R"("name":"张三","sex":"男","nation":"汉","birthDate":"19900101","address":"北京市",)"
           R"("idNumber":"110101199001010000","authority":"公安局","validFrom":null,"validTo":null,)"
           R"("appendedMessage":"APP","fingerprint":"","issueCount":2,"passNumber":"PASS",)" +
           kJsonTail + "}"},
      {"5U without the fingerprint getter", DriverKind::k5U, "no_GetFPDate", FullCard("Y"),
       "新版外国人永久居留身份证（Y）|张三ZHANG" + kHolder + "|2|OLD" + kTail + kImages,
       [] {
         std::string json = FullJson(DriverKind::k5U, "Y", "新版外国人永久居留身份证（Y）", "张三ZHANG",
                                     R"("issueCount":2,"oldCardNumber":"OLD")");
         return json.replace(json.find(R"("fingerprint":"")"), 16, R"("fingerprint":null)");
       }()},
      {"5U without the pictures", DriverKind::k5U, "no_pictures", FullCard(""),
       "身份证|张三" + kHolder + "|||PASS|CN|V1|01",
       JsonHead(DriverKind::k5U, "resident", "身份证") + R"("name":"张三",)" + kJsonHolder +
           R"(,"passNumber":"PASS","chineseName":"CN","certVersion":"V1","nationCode":"01",)"
           R"("photo":null,"cardFront":null,"cardBack":null})"},
      {"5A without the photo", DriverKind::k5A, "no_pictures", FullCard("J"),
       "港澳台居住证（J）|张三" + kHolder + "||2|PASS|CN|V1|01",
       JsonHead(DriverKind::k5A, "J", "港澳台居住证（J）") + R"("name":"张三",)" + kJsonHolder +
           R"(,"issueCount":2,"passNumber":"PASS","chineseName":"CN","certVersion":"V1","nationCode":"01","photo":null})"},
      // Without the name getter the standby English name is not asked for either.
      {"5U Y without name and numbers", DriverKind::k5U, "no_name_and_numbers", FullCard("Y"),
       "新版外国人永久居留身份证（Y）" + kHolder + "||2" + kTail + kImages,
       JsonHead(DriverKind::k5U, "Y", "新版外国人永久居留身份证（Y）") + R"("name":null,)" + kJsonHolder +
           R"(,"issueCount":2,"oldCardNumber":null,)" + kJsonTail + kJsonImages + "}"},
      {"5ULN I without name and numbers", DriverKind::k5ULN, "no_name_and_numbers", FullCard("I"),
       "外国人永久居住证（I）" + kHolder + "||2" + kTail,
       JsonHead(DriverKind::k5ULN, "I", "外国人永久居住证（I）") + R"("name":null,)" + kJsonHolder +
           R"(,"issueCount":2,"passNumber":null,)" + kJsonTail + "}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedApp app(c.variant);
    app.SetScenario(c.kind, c.scenario);
    auto driver = app.MakeDriver(c.kind);
    EXPECT_EQ(Utf16ToUtf8(driver->ReadIdCard()), Utf16ToUtf8(Prefix(c.kind)) + c.text);
    const std::vector<std::string> textCalls = app.CallNames(c.kind);
    app.ClearCalls(c.kind);
    EXPECT_EQ(Utf16ToUtf8(driver->ReadIdCardIn(RecordForm::kJson, false, false)), c.json);
    EXPECT_EQ(app.CallNames(c.kind), textCalls);  // the same getters, in the same order
    EXPECT_EQ(app.TakeStatuses(), (std::vector<uint32_t>{0, 0}));
  }
}

// The texts come from the SDK and Config.ini as they are: the JSON record escapes what JSON must.
TEST(CardRecordJson, TextsAreEscaped) {
  SimulatedApp app;
  WriteSettingString(u"Device", u"DeviceName", u"窗口|2 \"东\" \\ 3", app.configPath());
  app.SetScenario(DriverKind::k5U, With(FullCard(""), {{"GetPeopleNameU", "A\"B\\C\x01\x1f\tD"}}));
  auto driver = app.MakeDriver(DriverKind::k5U);
  const std::string json = Utf16ToUtf8(driver->ReadIdCardIn(RecordForm::kJson, true, false));
  const std::string head = R"({"readerModel":"ORV5U","deviceName":"窗口|2 \"东\" \\ 3","kind":"resident",)";
  EXPECT_EQ(json.substr(0, head.size()), head);
  EXPECT_NE(json.find(R"("name":"A\"B\\C\u0001\u001f\tD","sex")"), std::string::npos) << json;
  app.TakeStatuses();
}

// A failed read answers its text whatever the form; so does a library without GetCertTypeU, whose
// record is a text.
TEST(CardRecordJson, FailuresAnswerTheirTexts) {
  const struct {
    const char* name;
    DriverKind kind;
    std::string variant;
    Lines scenario;
    bool noJudge, delayed;
    std::u16string reply;
    uint32_t status;
  } cases[] = {
      {"no reader", DriverKind::k5A, "full", {{"ports", ""}}, false, true, u"连接设备失败", 2},
      {"authentication fails", DriverKind::k5U, "full", {{"ports", "1"}, {"card", "0"}}, false, false, u"卡认证失败", 1},
      {"no-judge authentication fails", DriverKind::k5ULN, "full", {{"ports", "1"}, {"result.ORV_AuthenticateForNoJudge", "0"}},
       true, false, u"卡认证失败", 1},
      {"read fails", DriverKind::k5A, "full", {{"ports", "1"}, {"result.ORV_Read_FPContent", "0"}}, true, true, u"读卡失败", 3},
      {"no authentication entry point", DriverKind::k5U, "comm_only", {{"ports", "1"}}, false, false, u"卡认证失败", 1},
      {"no certificate type, 5U", DriverKind::k5U, "no_GetCertTypeU", {{"ports", "1"}}, false, false,
       u"ORV5U|大厅1|ORV_GetCertTypeU函数找不到", 0},
      {"no certificate type, 5A", DriverKind::k5A, "no_GetCertTypeU", {{"ports", "1"}}, true, false,
       u"ORV-5A||ORV_GetCertTypeU函数找不到", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedApp app(c.variant);
    app.SetScenario(c.kind, c.scenario);
    auto driver = app.MakeDriver(c.kind);
    EXPECT_EQ(driver->ReadIdCardIn(RecordForm::kJson, c.noJudge, c.delayed), c.reply);
    EXPECT_EQ(driver->ReadIdCardIn(RecordForm::kText, c.noJudge, c.delayed), c.reply);
    EXPECT_EQ(app.TakeStatuses(), (std::vector<uint32_t>{c.status, c.status}));
  }
}

}  // namespace
}  // namespace kavenor
