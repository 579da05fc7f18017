// The simulated reader, loaded as the program loads it: a copy of a built variant in a scratch
// folder, with its scenario file and call log beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/exe_dir.h"
#include "common/shared_library.h"
#include "common/test_support.h"
#include "common/text.h"
#include "reader/sdk_abi.h"
#include "simulator/kadrel_caller.h"
#include "simulator/scenario.h"

namespace kavenor {
namespace {

namespace kt = kavenor::testing;
using namespace kavenor::sdk;

std::vector<std::string> EntryPointNames() {
  std::vector<std::string> names;
  for (unsigned i = 0; i < static_cast<unsigned>(EntryPoint::kCount); ++i)
    names.push_back(EntryPointName(static_cast<EntryPoint>(i)));
  return names;
}

std::vector<uint8_t> Base64Decode(const std::u16string& text) {
  auto value = [](char16_t c) -> int {
    if (c >= u'A' && c <= u'Z') return c - u'A';
    if (c >= u'a' && c <= u'z') return c - u'a' + 26;
    if (c >= u'0' && c <= u'9') return c - u'0' + 52;
    return c == u'+' ? 62 : c == u'/' ? 63 : -1;
  };
  std::vector<uint8_t> out;
  uint32_t bits = 0;
  int count = 0;
  for (char16_t c : text) {
    int v = value(c);
    if (v < 0) break;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if ((count += 6) >= 8) out.push_back(static_cast<uint8_t>(bits >> (count -= 8)));
  }
  return out;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A private copy of one built variant in a scratch folder, where its scenario file and call log lie.
class LibraryCopy {
 public:
  explicit LibraryCopy(const std::string& variant = "full") {
    std::u16string built = JoinPath(JoinPath(JoinPath(GetExeDir(), u"sim"), Utf8ToUtf16(variant)),
                                    u"" KADREL_FILE_NAME);
    kt::CopyFileTo(built, path());
  }

  std::u16string path() const { return dir_.Join(u"" KADREL_FILE_NAME); }
  std::u16string Beside(const std::u16string& name) const { return dir_.Join(name); }
  void Scenario(const std::string& text) { kt::WriteFileBytes(Beside(u"scenario.ini"), text); }
  void NoScenario() { kt::RemoveFile(Beside(u"scenario.ini")); }

  // The call log with the tick taken off each line (checked to be a number).
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    for (const std::string& line : kt::ReadLines(Beside(u"calls.log"))) {
      size_t space = line.find(' ');
      EXPECT_TRUE(space > 0 && space != std::string::npos && line.find_first_not_of("0123456789") == space)
          << line;
      lines.push_back(space == std::string::npos ? line : line.substr(space + 1));
    }
    return lines;
  }

  std::vector<uint64_t> Ticks() const {
    std::vector<uint64_t> ticks;
    for (const std::string& line : kt::ReadLines(Beside(u"calls.log")))
      ticks.push_back(std::stoull(line.substr(0, line.find(' '))));
    return ticks;
  }

 private:
  kt::ScratchDir dir_{u"kadrel"};
};

// A copy loaded into this process, as the program loads it; freed before its folder is removed.
class Sim : public LibraryCopy {
 public:
  explicit Sim(const std::string& variant = "full") : LibraryCopy(variant) {
    lib_ = SharedLibrary::Load(path());
    EXPECT_TRUE(lib_.IsLoaded()) << variant;
  }

  bool Has(const std::string& name) const { return lib_.Resolve(name.c_str()) != nullptr; }

  template <typename Fn>
  Fn Get(const char* name) const {
    void* p = lib_.Resolve(name);
    if (!p) ADD_FAILURE() << name << " is not exported";
    return reinterpret_cast<Fn>(p);
  }

  int InitComm(int port) const { return Get<InitCommFn>("ORV_InitComm")(port); }
  int Call(const char* name) const { return Get<NoArgFn>(name)(); }

  // A text getter's result, read up to the first zero; *length set to `capacity`.
  std::u16string Text(const char* name, int capacity = kTextChars) const {
    std::vector<KadrelU16> buf(static_cast<size_t>(capacity) + 1, 0);
    int length = capacity;
    Get<TextGetterFn>(name)(buf.data(), &length);
    return TextUpToZero(reinterpret_cast<const char16_t*>(buf.data()), buf.size());
  }

 private:
  SharedLibrary lib_;
};

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  return std::vector<uint8_t>(values.begin(), values.end());
}

TEST(SimulatorTest, DemoCardWithoutScenarioFile) {
  Sim sim;
  EXPECT_EQ(sim.InitComm(1001), 1);
  EXPECT_EQ(sim.InitComm(1002), 0);
  EXPECT_EQ(sim.Call("ORV_Authenticate"), 1);
  EXPECT_EQ(sim.Get<ReadContentFn>("ORV_Read_Content")(1), 1);

  const struct {
    const char* getter;
    std::u16string text;
  } texts[] = {{"GetPeopleNameU", u"张三丰"},         {"GetPeopleSexU", u"男"},
               {"GetPeopleNationU", u"汉"},           {"GetPeopleBirthdayU", u"19900101"},
               {"GetPeopleIDCodeU", u"110101199001010000"}, {"GetDepartmentU", u"北京市公安局东城分局"},
               {"GetStartDateU", u"20200101"},        {"GetEndDateU", u"20400101"},
               {"GetNationCodeU", u"01"},             {"GetNewAppMsgU", u""},
               {"GetPassCheckIDU", u""}};
  for (const auto& t : texts) EXPECT_EQ(sim.Text(t.getter), t.text) << t.getter;

  // The pictures are real 24-bit BMPs of the photo's and the card's size.
  const struct {
    const char* getter;
    int capacity;
    uint32_t width, height;
  } pictures[] = {{"Getbase64BMPDataU", 102400, 102, 126},
                  {"Getbase64FrontBMPDataU", 10240000, 428, 270},
                  {"Getbase64backBMPDataU", 10240000, 428, 270}};
  for (const auto& p : pictures) {
    std::u16string text = sim.Text(p.getter, p.capacity);
    ASSERT_EQ(text.size() % 4, 0u) << p.getter;
    std::vector<uint8_t> bmp = Base64Decode(text);
    ASSERT_GE(bmp.size(), 54u) << p.getter;
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(Le32(bmp, 18), p.width);
    EXPECT_EQ(Le32(bmp, 22), p.height);
    EXPECT_EQ(bmp.size(), 54 + (p.width * 3 + 3) / 4 * 4 * p.height) << p.getter;
  }

  unsigned char type[4] = {9, 9, 9, 9};
  int length = 4;
  sim.Get<CertTypeFn>("GetCertTypeU")(type, &length);
  EXPECT_EQ(type[0], 0);

  std::vector<unsigned char> fp(1024, 0);
  length = 260;
  EXPECT_EQ(sim.Get<FpDataFn>("GetFPDate")(fp.data(), &length), 1);
  EXPECT_TRUE(std::any_of(fp.begin(), fp.end(), [](unsigned char b) { return b != 0; }));

  unsigned char id[4] = {}, request[4] = {};
  EXPECT_EQ(sim.Get<M1RequestFn>("ORV_M1_Request")(0, id, request), 144);
  EXPECT_EQ(std::vector<uint8_t>(id, id + 4), Bytes({1, 2, 3, 4}));
  EXPECT_EQ(std::vector<uint8_t>(request, request + 2), Bytes({4, 0}));

  char number[64] = {}, second[6] = {}, sam[64] = {};
  int extra = 0;
  EXPECT_EQ(sim.Get<FisCardIdFn>("M1_MF_GetFisCardID")(number, second, &extra), 144);
  EXPECT_STREQ(number, "6222021234567890123fff");
  EXPECT_STREQ(second, "01");
  sim.Get<GetSamIdFn>("ORV_GetSAMID")(sam);
  EXPECT_STREQ(sam, "5-1-2019-123456-7");

  std::vector<uint8_t> raw(128, 0);
  EXPECT_EQ(sim.Get<CompleteSamIdFn>("ORV_GetCompleteSAMID")(raw.data()), 1);
  EXPECT_EQ(raw[0], 0x05);
  EXPECT_EQ(raw[2], 0x01);
  EXPECT_EQ(Le32(raw, 4), 2019u);
  EXPECT_EQ(Le32(raw, 8), 123456u);
  EXPECT_EQ(Le32(raw, 12), 7u);
}

TEST(SimulatorTest, PortsAnswerAsTheScenarioSaysAfterEachInitComm) {
  const struct {
    const char* scenario;
    int port;
    int result;
  } cases[] = {
      {"ports=1001,1003\n", 1001, 1}, {"ports=1001,1003\n", 1003, 1}, {"ports=1001,1003\n", 1002, 0},
      {"ports=1001,1003\n", 1, 0},    {"ports=\n", 1001, 0},            {"card=1\n", 1001, 0},
      {"# reader on 5\r\n  ports = 5 \r\n", 5, 1}, {"ports=16\n", 1016, 0},
  };
  Sim sim;  // one copy throughout: each row's scenario replaces the one before
  for (const auto& c : cases) {
    sim.Scenario(c.scenario);
    EXPECT_EQ(sim.InitComm(c.port), c.result) << c.scenario << " port " << c.port;
  }
}

TEST(SimulatorTest, ScenarioChangesOnlyAtTheNextInitComm) {
  Sim sim;
  sim.Scenario("ports=1001\nGetPeopleNameU=李四\n");
  ASSERT_EQ(sim.InitComm(1001), 1);
  EXPECT_EQ(sim.Text("GetPeopleNameU"), u"李四");
  EXPECT_EQ(sim.Text("GetPeopleSexU"), u"男");  // unset keys keep the demo card's values

  sim.Scenario("ports=1001\nGetPeopleNameU=王五\n");
  EXPECT_EQ(sim.Text("GetPeopleNameU"), u"李四");
  sim.InitComm(1001);
  EXPECT_EQ(sim.Text("GetPeopleNameU"), u"王五");

  sim.NoScenario();
  sim.InitComm(7);
  EXPECT_EQ(sim.Text("GetPeopleNameU"), u"张三丰");
}

TEST(SimulatorTest, ResultOverridesKeepTheCallsWork) {
  Sim sim;
  sim.Scenario(
      "ports=1001\nresult.ORV_InitComm=7\nresult.ORV_Authenticate=0\nresult.GetFPDate=0\n"
      "GetFPDate=aa\nresult.GetPeopleNameU=-1\nresult.ORV_M1_Request=1\n");
  EXPECT_EQ(sim.InitComm(1001), 7);
  EXPECT_EQ(sim.InitComm(1002), 7);
  EXPECT_EQ(sim.Call("ORV_Authenticate"), 0);
  EXPECT_EQ(sim.Call("ORV_AuthenticateForNoJudge"), 1);

  std::vector<unsigned char> fp(1024, 0);
  int length = 260;
  EXPECT_EQ(sim.Get<FpDataFn>("GetFPDate")(fp.data(), &length), 0);
  EXPECT_EQ(fp[0], 0xaa);

  std::vector<KadrelU16> name(260, 0);
  length = 260;
  EXPECT_EQ(sim.Get<TextGetterFn>("GetPeopleNameU")(name.data(), &length), -1);
  EXPECT_EQ(TextUpToZero(reinterpret_cast<const char16_t*>(name.data()), name.size()), u"张三丰");

  unsigned char id[4] = {}, request[4] = {};
  EXPECT_EQ(sim.Get<M1RequestFn>("ORV_M1_Request")(0, id, request), 1);
  EXPECT_EQ(id[3], 4);
}

TEST(SimulatorTest, CallLogHasOneLinePerCallWithItsArguments) {
  Sim sim;
  uint64_t before = TickCountMs();
  sim.InitComm(1003);
  sim.InitComm(1001);
  sim.Get<ReadContentFn>("ORV_Read_Content")(1);
  sim.Text("GetPeopleNameU", 260);
  sim.Text("GetNationCodeU", 128);
  unsigned char type[4];
  int length = 4;
  sim.Get<CertTypeFn>("GetCertTypeU")(type, &length);
  int count = 260;
  sim.Get<IssuesNumFn>("GetIssuesNumU")(&count);
  unsigned char id[4], request[4], data[16];
  unsigned char key[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  sim.Get<M1RequestFn>("ORV_M1_Request")(0, id, request);
  sim.Get<M1BlockFn>("ORV_M1_Read")(0, id, 4, key, data);
  for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(0xA0 + i);
  sim.Get<M1BlockFn>("ORV_M1_Write")(0, id, 200, key, data);
  char sam[64];
  sim.Get<GetSamIdFn>("ORV_GetSAMID")(sam);
  sim.Call("ORV_CloseComm");

  EXPECT_EQ(sim.Calls(), (std::vector<std::string>{
                             "ORV_InitComm port=1003",
                             "ORV_InitComm port=1001",
                             "ORV_Read_Content active=1",
                             "GetPeopleNameU length=260",
                             "GetNationCodeU length=128",
                             "GetCertTypeU length=4",
                             "GetIssuesNumU count=260",
                             "ORV_M1_Request mode=0",
                             "ORV_M1_Read mode=0 block=4 key=ffffffffffff",
                             "ORV_M1_Write mode=0 block=200 key=ffffffffffff data=a0a1a2a3a4a5a6a7a8a9aaabacadaeaf",
                             "ORV_GetSAMID",
                             "ORV_CloseComm",
                         }));
  // Ticks are taken on entry, from the same clock as the program's, in call order.
  uint64_t last = before;
  for (uint64_t tick : sim.Ticks()) {
    EXPECT_GE(tick, last);
    last = tick;
  }
  EXPECT_LE(last, TickCountMs());
}

// The benchmark knobs: no call log, and the scenario first read kept.
TEST(SimulatorTest, BenchmarkScenarioNeitherLogsNorRereads) {
  Sim sim;
  sim.Scenario("ports=1\ncalllog=0\nreload=0\n");
  EXPECT_EQ(sim.InitComm(1), 1);
  sim.Scenario("ports=2\n");
  EXPECT_EQ(sim.InitComm(1), 1);
  EXPECT_EQ(sim.InitComm(2), 0);
  EXPECT_TRUE(sim.Calls().empty());
}

TEST(SimulatorTest, MemoryCardKeysBlocksAndWrites) {
  Sim sim;
  sim.Scenario(
      "ports=1001\nm1.id=0a0b0c0d\nm1.key=a0a1a2a3a4a5\nm1.key.8=b0b1b2b3b4b5\n"
      "m1.block.8=000102030405060708090a0b0c0d0e0f\n");
  sim.InitComm(1001);
  auto read = sim.Get<M1BlockFn>("ORV_M1_Read");
  auto write = sim.Get<M1BlockFn>("ORV_M1_Write");
  unsigned char keyA[6] = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5};
  unsigned char keyB[6] = {0xb0, 0xb1, 0xb2, 0xb3, 0xb4, 0xb5};
  unsigned char id[4], data[16];

  // A block with a key of its own refuses the common key and fills nothing.
  std::fill_n(id, 4, 0xee);
  std::fill_n(data, 16, 0xee);
  EXPECT_EQ(read(0, id, 8, keyA, data), 0);
  EXPECT_EQ(id[0], 0xee);
  EXPECT_EQ(data[0], 0xee);

  EXPECT_EQ(read(0, id, 8, keyB, data), 144);
  EXPECT_EQ(std::vector<uint8_t>(id, id + 4), Bytes({0x0a, 0x0b, 0x0c, 0x0d}));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(data[i], i);

  EXPECT_EQ(read(0, id, 9, keyA, data), 144);  // unset block
  EXPECT_EQ(std::count(data, data + 16, 0), 16);
  EXPECT_EQ(write(0, id, 9, keyB, data), 0);

  unsigned char written[16];
  for (int i = 0; i < 16; ++i) written[i] = static_cast<unsigned char>(0xf0 - i);
  std::fill_n(id, 4, 0);
  EXPECT_EQ(write(0, id, 9, keyA, written), 144);
  EXPECT_EQ(id[0], 0x0a);

  // The write outlives a new scenario, which also changes the key.
  sim.Scenario("ports=1001\nm1.key=c0c1c2c3c4c5\n");
  sim.InitComm(1001);
  unsigned char keyC[6] = {0xc0, 0xc1, 0xc2, 0xc3, 0xc4, 0xc5};
  EXPECT_EQ(read(0, id, 9, keyA, data), 0);
  EXPECT_EQ(read(0, id, 9, keyC, data), 144);
  EXPECT_TRUE(std::equal(data, data + 16, written));
}

TEST(SimulatorTest, NoCardFailsTheCardCalls) {
  Sim sim;
  sim.Scenario("ports=1001\ncard=0\n");
  EXPECT_EQ(sim.InitComm(1001), 1);
  EXPECT_EQ(sim.Call("ORV_Authenticate"), 0);
  EXPECT_EQ(sim.Call("ORV_AuthenticateForNoJudge"), 0);
  unsigned char id[4], request[4], data[16] = {};
  unsigned char key[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  EXPECT_EQ(sim.Get<M1RequestFn>("ORV_M1_Request")(0, id, request), 0);
  EXPECT_EQ(sim.Get<M1BlockFn>("ORV_M1_Read")(0, id, 4, key, data), 0);
  EXPECT_EQ(sim.Get<M1BlockFn>("ORV_M1_Write")(0, id, 4, key, data), 0);
  char number[64], second[6];
  int extra;
  EXPECT_EQ(sim.Get<FisCardIdFn>("M1_MF_GetFisCardID")(number, second, &extra), 0);
}

TEST(SimulatorTest, TextsAreCutToTheCapacityOrLeftUnterminated) {
  Sim sim;
  const KadrelU16 kGuard = 0x7777;
  auto fill = [&](const char* getter, int capacity) {
    std::vector<KadrelU16> buf(static_cast<size_t>(capacity) + 3, kGuard);
    int length = capacity;
    sim.Get<TextGetterFn>(getter)(buf.data(), &length);
    return std::u16string(buf.begin(), buf.end());
  };
  const std::u16string g(3, static_cast<char16_t>(kGuard));

  sim.Scenario("ports=1001\nGetPeopleNameU=张三丰\n");
  sim.InitComm(1001);
  EXPECT_EQ(fill("GetPeopleNameU", 3), std::u16string(u"张三") + u'\0' + g);
  EXPECT_EQ(fill("GetPeopleNameU", 1), std::u16string(1, u'\0') + g);

  sim.Scenario("ports=1001\nunterminated=1\nGetPeopleNameU=张三\nsam=AB\nbank.second=xyz\n");
  sim.InitComm(1001);
  EXPECT_EQ(fill("GetPeopleNameU", 5), u"张三张三张" + g);
  std::u16string empty = fill("GetNewAppMsgU", 4);  // no text: still no zero in the buffer
  EXPECT_EQ(std::count(empty.begin(), empty.begin() + 4, u'\0'), 0);
  EXPECT_EQ(empty.substr(4), g);

  char sam[65];
  sam[64] = 'Z';
  sim.Get<GetSamIdFn>("ORV_GetSAMID")(sam);
  std::string expected;
  for (int i = 0; i < 32; ++i) expected += "AB";
  EXPECT_EQ(std::string(sam, 64), expected);
  EXPECT_EQ(sam[64], 'Z');
  char number[64], second[7];
  second[6] = 'Z';
  int extra;
  sim.Get<FisCardIdFn>("M1_MF_GetFisCardID")(number, second, &extra);
  EXPECT_EQ(std::string(second, 7), "xyzxyzZ");
  EXPECT_EQ(std::count(number, number + 64, '\0'), 0);
}

TEST(SimulatorTest, CardItemsFromTheScenario) {
  Sim sim;
  sim.Scenario(
      "ports=1001\nGetCertTypeU=Y\nGetFPDate=0102ff\nGetIssuesNumU=3\nGetStandbyENameU=ZHANG\n"
      "Getbase64FrontBMPDataU.size=40\nGetbase64BMPDataU=QUJD\nGetbase64backBMPDataU.size=0\n"
      "bank.number=12f34fff\nbank.second=\nsam=12-34-1-2-3\nsamraw=0a00ff\n");
  sim.InitComm(1001);
  unsigned char type[4] = {};
  int length = 4;
  sim.Get<CertTypeFn>("GetCertTypeU")(type, &length);
  EXPECT_EQ(type[0], 'Y');

  std::vector<unsigned char> fp(1024, 0x55);
  length = 260;
  EXPECT_EQ(sim.Get<FpDataFn>("GetFPDate")(fp.data(), &length), 1);
  EXPECT_EQ(std::vector<uint8_t>(fp.begin(), fp.begin() + 3), Bytes({1, 2, 0xff}));
  EXPECT_EQ(std::count(fp.begin() + 3, fp.end(), 0), 1021);

  int count = 260;
  EXPECT_EQ(sim.Get<IssuesNumFn>("GetIssuesNumU")(&count), 1);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(sim.Text("GetStandbyENameU", 128), u"ZHANG");

  std::u16string front = sim.Text("Getbase64FrontBMPDataU", 10240000);
  EXPECT_EQ(front.size(), 40u);
  EXPECT_EQ(Base64Decode(front).size(), 30u);  // every character valid Base64
  EXPECT_EQ(sim.Text("Getbase64BMPDataU", 102400), u"QUJD");
  EXPECT_EQ(sim.Text("Getbase64backBMPDataU", 10240000), u"");

  char number[64] = {}, second[6] = {'x'}, samText[64] = {};
  int extra;
  EXPECT_EQ(sim.Get<FisCardIdFn>("M1_MF_GetFisCardID")(number, second, &extra), 144);
  EXPECT_STREQ(number, "12f34fff");
  EXPECT_STREQ(second, "");
  sim.Get<GetSamIdFn>("ORV_GetSAMID")(samText);
  EXPECT_STREQ(samText, "12-34-1-2-3");
  std::vector<uint8_t> raw(128, 0x55);
  sim.Get<CompleteSamIdFn>("ORV_GetCompleteSAMID")(raw.data());
  EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + 4), Bytes({0x0a, 0, 0xff, 0}));
}

TEST(SimulatorTest, DelaysPerCallAndPerEntryPoint) {
  Sim sim;
  sim.Scenario("ports=1001\ndelay_ms=60\ndelay.ORV_Authenticate=250\ndelay.ORV_CloseComm=0\n");
  uint64_t t0 = TickCountMs();
  EXPECT_EQ(sim.InitComm(1001), 1);  // the delay of the scenario just read
  uint64_t t1 = TickCountMs();
  sim.Call("ORV_Authenticate");
  uint64_t t2 = TickCountMs();
  EXPECT_GE(t1 - t0, 60u);
  EXPECT_GE(t2 - t1, 250u);
}

TEST(SimulatorTest, VariantsLackTheirEntryPoints) {
  const struct {
    const char* variant;
    std::vector<std::string> present;  // empty: all but `absent`
    std::vector<std::string> absent;
  } variants[] = {
      {"full", {}, {}},
      {"no_GetCertTypeU", {}, {"GetCertTypeU"}},
      {"no_GetEndDateU", {}, {"GetEndDateU"}},
      {"no_GetFPDate", {}, {"GetFPDate"}},
      {"no_GetIssuesNumU", {}, {"GetIssuesNumU"}},
      {"no_pictures", {}, {"Getbase64BMPDataU", "Getbase64FrontBMPDataU", "Getbase64backBMPDataU"}},
      {"no_name_and_numbers", {}, {"GetPeopleNameU", "GetPassCheckIDU", "GetOldIDCardNumberU"}},
      {"comm_only", {"ORV_InitComm", "ORV_CloseComm"}, {}},
  };
  for (const auto& v : variants) {
    Sim sim(v.variant);
    for (const std::string& name : EntryPointNames()) {
      bool expected = v.present.empty()
                          ? std::find(v.absent.begin(), v.absent.end(), name) == v.absent.end()
                          : std::find(v.present.begin(), v.present.end(), name) != v.present.end();
      EXPECT_EQ(sim.Has(name), expected) << v.variant << " " << name;
    }
    // The decorated i686 names and our own helpers stay private.
    EXPECT_FALSE(sim.Has("ORV_InitComm@4") || sim.Has("_ORV_InitComm@4")) << v.variant;
    EXPECT_EQ(sim.InitComm(1001), 1) << v.variant;
  }
}

TEST(SimulatorTest, EachCopyKeepsItsOwnScenarioAndLog) {
  Sim first, second;
  first.Scenario("ports=1001\nGetPeopleNameU=甲\n");
  second.Scenario("ports=1002\nGetPeopleNameU=乙\n");
  EXPECT_EQ(first.InitComm(1001), 1);
  EXPECT_EQ(second.InitComm(1001), 0);
  EXPECT_EQ(second.InitComm(1002), 1);
  EXPECT_EQ(first.Text("GetPeopleNameU"), u"甲");
  EXPECT_EQ(second.Text("GetPeopleNameU"), u"乙");
  EXPECT_EQ(first.Calls(), (std::vector<std::string>{"ORV_InitComm port=1001", "GetPeopleNameU length=260"}));
  EXPECT_EQ(second.Calls().size(), 3u);
}

TEST(SimulatorTest, FailureKeysAndTheirValues) {
  using sim::Repeat;
  const struct {
    const char* line;
    std::map<std::string, Repeat> failures;
  } cases[] = {
      {"crash.ORV_Read_Content=once", {{"crash.ORV_Read_Content", Repeat::kOnce}}},
      {"abort.GetPeopleNameU=always", {{"abort.GetPeopleNameU", Repeat::kAlways}}},
      {" hang.ORV_M1_Write = always ", {{"hang.ORV_M1_Write", Repeat::kAlways}}},
      {"crash.load=once", {{"crash.load", Repeat::kOnce}}},
      {"hang.load=always", {{"hang.load", Repeat::kAlways}}},
      {"crash.ORV_Read_Content=twice", {}},
      {"crash.ORV_Read_Content=Once", {}},
      {"crash.ORV_Read_Content=1", {}},
      {"crash.ORV_Read_Content=", {}},
      {"crash.ORV_ReadContent=once", {}},  // no such entry point
      {"crash.orv_read_content=once", {}},
      {"crash.=once", {}},
      {"crash=once", {}},
      {"crash.Getbase64BMPDataU.size=once", {}},
      {"explode.ORV_CloseComm=always", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sim::ParseScenario(std::string("ports=1\n") + c.line + "\n").failures, c.failures) << c.line;

  // The last valid value of a key holds; an invalid one leaves it as it was.
  EXPECT_EQ(sim::ParseScenario("hang.GetFPDate=once\nhang.GetFPDate=always\nhang.GetFPDate=never\n").failures,
            (std::map<std::string, Repeat>{{"hang.GetFPDate", Repeat::kAlways}}));
}

// The failures run in a process of their own (kadrel_caller), one per run, as the host's are: each
// run of the same library copy is the process the host would start again.
#ifdef _WIN32
const int kCrashed = static_cast<int>(0xC0000005);  // the access violation's exception code
const int kAborted = 3;                              // abort() in the C runtime
const int kCrashedAtLoad = sim::kCallerNotLoaded;    // the loader catches it: the library does not load
#else
const int kCrashed = 128 + SIGSEGV;
const int kAborted = 128 + SIGABRT;
const int kCrashedAtLoad = 128 + SIGSEGV;
#endif

const std::vector<std::u16string> kCalls = {u"ORV_InitComm", u"GetPeopleNameU", u"ORV_CloseComm"};

std::u16string CallerPath() { return JoinPath(GetExeDir(), u"" KADREL_CALLER_NAME); }

// kadrel_caller's exit code for the calls of kCalls in `copy`.
int RunCalls(const LibraryCopy& copy) {
  std::vector<std::u16string> args{copy.path()};
  args.insert(args.end(), kCalls.begin(), kCalls.end());
  return kt::RunProgram(CallerPath(), args);
}

TEST(SimulatorTest, CrashesAndAbortsOnceOrAlways) {
  const struct {
    const char* failures;
    std::vector<int> exits;  // of the runs in turn; 0: every call returned
    const char* failing;     // the call log's last line after a failed run: the call that failed
  } cases[] = {
      {"crash.GetPeopleNameU=once", {kCrashed, 0, 0}, "GetPeopleNameU length=260"},
      {"crash.ORV_CloseComm=always", {kCrashed, kCrashed}, "ORV_CloseComm"},
      {"abort.ORV_InitComm=once", {kAborted, 0}, "ORV_InitComm port=1"},
      {"abort.GetPeopleNameU=always", {kAborted, kAborted}, "GetPeopleNameU length=260"},
      {"crash.load=once", {kCrashedAtLoad, 0}, "load"},
      {"abort.load=always", {kAborted, kAborted}, "load"},
      // Crash, then abort, then go on: each once in turn.
      {"abort.GetPeopleNameU=once\ncrash.GetPeopleNameU=once", {kCrashed, kAborted, 0}, "GetPeopleNameU length=260"},
  };
  for (const auto& c : cases) {
    LibraryCopy copy;
    copy.Scenario(std::string("ports=1\n") + c.failures + "\n");
    for (size_t run = 0; run < c.exits.size(); ++run) {
      EXPECT_EQ(RunCalls(copy), c.exits[run]) << c.failures << ", run " << run;
      std::vector<std::string> calls = copy.Calls();
      ASSERT_FALSE(calls.empty()) << c.failures;
      EXPECT_EQ(calls.back(), c.exits[run] ? c.failing : "ORV_CloseComm") << c.failures << ", run " << run;
    }
  }
}

TEST(SimulatorTest, OnceIsDueAgainWhenTheScenarioIsWrittenAnew) {
  LibraryCopy copy;
  copy.Scenario("ports=1\ncrash.ORV_CloseComm=once\n");
  EXPECT_EQ(RunCalls(copy), kCrashed);
  EXPECT_TRUE(kt::FileExists(copy.Beside(u"failed.crash.ORV_CloseComm")));
  EXPECT_EQ(RunCalls(copy), 0);
  copy.Scenario("ports=1\ncrash.ORV_CloseComm=once\n# written anew\n");
  EXPECT_EQ(RunCalls(copy), kCrashed);
  EXPECT_EQ(RunCalls(copy), 0);
}

TEST(SimulatorTest, HangNeverReturnsFromTheCall) {
  LibraryCopy copy;
  copy.Scenario("ports=1\nhang.GetPeopleNameU=once\n");
  {
    std::vector<std::u16string> args{copy.path()};
    args.insert(args.end(), kCalls.begin(), kCalls.end());
    kt::ChildProcess caller(CallerPath(), args);
    while (copy.Calls().size() < 2 && caller.Running()) SleepMs(20);  // until the call has begun
    SleepMs(200);
    EXPECT_TRUE(caller.Running());
    caller.Kill();
  }
  EXPECT_EQ(copy.Calls(), (std::vector<std::string>{"ORV_InitComm port=1", "GetPeopleNameU length=260"}));
  EXPECT_EQ(RunCalls(copy), 0);  // once: the next process goes on
  EXPECT_EQ(copy.Calls().back(), "ORV_CloseComm");
}

}  // namespace
}  // namespace kavenor
