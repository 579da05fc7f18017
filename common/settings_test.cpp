#include "common/settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <optional>
#include <thread>

#include "common/test_support.h"
#include "common/text.h"

namespace kavenor {
namespace {

using testing::ScratchDir;

// The case's name as a test name: letters and digits, the rest "_".
template <typename Param>
std::string CaseName(const ::testing::TestParamInfo<Param>& info) {
  std::string n = info.param.name;
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
}

// One table, run natively against the stand-in and under Wine against the platform's own calls: where
// the two disagree, the stand-in is wrong.
struct ReadCase {
  const char* name;
  std::optional<std::string> content;  // nullopt: no file at all
  const char16_t* section;
  const char16_t* key;
  int32_t expectedInt;         // read with the fallback 7415
  const char16_t* expectedText;  // read with the fallback "dflt"
};

const ReadCase kReads[] = {
    {"missing file", std::nullopt, u"IP", u"port", 7415, u"dflt"},
    {"missing section", "[Other]\r\nport=1\r\n", u"IP", u"port", 7415, u"dflt"},
    {"missing key", "[IP]\r\nCom=3\r\n", u"IP", u"port", 7415, u"dflt"},
    {"names without case", "[ip]\r\nPORT=8080\r\n", u"IP", u"port", 8080, u"8080"},
    {"blanks around names and values", "[ IP ]\r\n  port  =   8081  \r\n", u"IP", u"port", 8081, u"8081"},
    {"beyond 16 bits", "[IP]\r\nport=70000\r\n", u"IP", u"port", 70000, u"70000"},
    {"negative", "[IP]\r\nport=-1\r\n", u"IP", u"port", -1, u"-1"},
    {"letters", "[IP]\r\nport=abc\r\n", u"IP", u"port", 0, u"abc"},
    {"digits then letters", "[IP]\r\nport=12abc\r\n", u"IP", u"port", 12, u"12abc"},
    {"empty value", "[IP]\r\nport=\r\n", u"IP", u"port", 7415, u""},
    {"equals sign inside", "[D]\r\nname=a=b\r\n", u"D", u"name", 0, u"a=b"},
    {"first key wins", "[IP]\r\nport=1\r\nport=2\r\n", u"IP", u"port", 1, u"1"},
    {"key of another section", "[A]\r\nport=1\r\n[IP]\r\nCom=2\r\n", u"IP", u"port", 7415, u"dflt"},
    {"quoted value", "[D]\r\nname=\"x y\"\r\n", u"D", u"name", 0, u"x y"},
    {"no line end at the end", "[IP]\r\nport=9", u"IP", u"port", 9, u"9"},
    {"unix line ends", "[IP]\nport=10\n", u"IP", u"port", 10, u"10"},
};

class SettingsRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SettingsRead, IntAndText) {
  const ReadCase& c = GetParam();
  ScratchDir dir;
  std::u16string path = dir.Join(u"Config.ini");
  if (c.content) testing::WriteFileBytes(path, *c.content);
  EXPECT_EQ(ReadSettingInt(c.section, c.key, 7415, path), c.expectedInt);
  EXPECT_EQ(ReadSettingString(c.section, c.key, u"dflt", path, 256), std::u16string(c.expectedText));
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsRead, ::testing::ValuesIn(kReads), CaseName<ReadCase>);

struct Write {
  const char16_t* section;
  const char16_t* key;
  const char16_t* value;
};
struct Expect {
  const char16_t* section;
  const char16_t* key;
  const char16_t* text;
};
struct WriteCase {
  const char* name;
  std::optional<std::string> content;
  std::vector<Write> writes;
  std::vector<Expect> expects;
};

const WriteCase kWrites[] = {
    {"new file", std::nullopt, {{u"IP", u"Restart", u"0"}}, {{u"IP", u"Restart", u"0"}}},
    {"key added to an existing section",
     "[IP]\r\nport=7415\r\n[Device]\r\nID=1\r\n",
     {{u"IP", u"Com", u"1003"}},
     {{u"IP", u"Com", u"1003"}, {u"IP", u"port", u"7415"}, {u"Device", u"ID", u"1"}}},
    {"value replaced, other keys kept",
     "[IP]\r\nport=1\r\nRestart=0\r\n[Device]\r\nDeviceName=x\r\n",
     {{u"IP", u"port", u"2"}},
     {{u"IP", u"port", u"2"}, {u"IP", u"Restart", u"0"}, {u"Device", u"DeviceName", u"x"}}},
    {"key found without case", "[ip]\r\nPORT=1\r\n", {{u"IP", u"port", u"3"}}, {{u"IP", u"Port", u"3"}}},
    {"new section", "[IP]\r\nport=1\r\n", {{u"Device", u"ID", u"2"}}, {{u"Device", u"ID", u"2"}, {u"IP", u"port", u"1"}}},
    {"chinese text", std::nullopt, {{u"Device", u"DeviceName", u"大厅1"}}, {{u"Device", u"DeviceName", u"大厅1"}}},
    {"empty value stays empty", std::nullopt, {{u"Device", u"DeviceName", u""}}, {{u"Device", u"DeviceName", u""}}},
    {"several writes in a row", std::nullopt,
     {{u"IP", u"port", u"1"}, {u"IP", u"Restart", u"1"}, {u"IP", u"port", u"7416"}},
     {{u"IP", u"port", u"7416"}, {u"IP", u"Restart", u"1"}}},
};

class SettingsWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(SettingsWrite, ReadsBack) {
  const WriteCase& c = GetParam();
  ScratchDir dir;
  std::u16string path = dir.Join(u"Config.ini");
  if (c.content) testing::WriteFileBytes(path, *c.content);
  for (const Write& w : c.writes) ASSERT_TRUE(WriteSettingString(w.section, w.key, w.value, path));
  for (const Expect& e : c.expects)
    EXPECT_EQ(ReadSettingString(e.section, e.key, u"absent", path, 256), std::u16string(e.text))
        << testing::ReadFileBytes(path);
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsWrite, ::testing::ValuesIn(kWrites), CaseName<WriteCase>);

TEST(Settings, TextIsCutToTheBufferCapacity) {
  ScratchDir dir;
  std::u16string path = dir.Join(u"Config.ini");
  std::u16string longName(300, u'名');
  ASSERT_TRUE(WriteSettingString(u"Device", u"DeviceName", longName, path));
  EXPECT_EQ(ReadSettingString(u"Device", u"DeviceName", u"", path, 256), longName.substr(0, 255));
  EXPECT_EQ(ReadSettingString(u"Device", u"Missing", u"大厅1", path, 3), u"大厅");
}

// A file saved as UTF-16 (as Notepad may) is read as Windows reads it, and stays UTF-16 when written.
TEST(Settings, Utf16FilesAreReadAndKeptAsTheyAre) {
  ScratchDir dir;
  std::u16string path = dir.Join(u"Config.ini");
  const std::u16string text = u"[IP]\r\nport=7416\r\n[Device]\r\nDeviceName=窗口2\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) bytes += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  testing::WriteFileBytes(path, bytes);
  EXPECT_EQ(ReadSettingInt(u"IP", u"port", 0, path), 7416);
  EXPECT_EQ(ReadSettingString(u"Device", u"DeviceName", u"", path, 64), u"窗口2");
  ASSERT_TRUE(WriteSettingString(u"IP", u"Com", u"1003", path));
  EXPECT_EQ(testing::ReadFileBytes(path).compare(0, 2, "\xFF\xFE"), 0);
  EXPECT_EQ(ReadSettingInt(u"IP", u"Com", 0, path), 1003);
  EXPECT_EQ(ReadSettingString(u"Device", u"DeviceName", u"", path, 64), u"窗口2");
  SettingsEncoding encoding = SettingsEncoding::kBytes;
  EXPECT_NE(SettingsFileText(path, &encoding).find("DeviceName=窗口2"), std::string::npos);
  EXPECT_EQ(encoding, SettingsEncoding::kUtf16);
}

// The reader thread records the reader port while the window records a setting: no write may
// lose another's key, whichever section either is in.
TEST(Settings, TwoThreadsWritingDifferentKeysLoseNothing) {
  ScratchDir dir;
  std::u16string path = dir.Join(u"Config.ini");
  ASSERT_TRUE(WriteSettingString(u"IP", u"port", u"7415", path));
  ASSERT_TRUE(WriteSettingString(u"Device", u"DeviceName", u"大厅1", path));
  constexpr int kWrites = 2000;
  std::atomic<int> failed{0};
  auto writer = [&](const char16_t* section, const char16_t* key) {
    for (int i = 1; i <= kWrites; ++i)
      if (!WriteSettingString(section, key, DecimalText(i), path)) ++failed;
  };
  std::thread com(writer, u"IP", u"Com");
  std::thread model(writer, u"Device", u"ID");
  com.join();
  model.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(ReadSettingInt(u"IP", u"Com", 0, path), kWrites);
  EXPECT_EQ(ReadSettingInt(u"Device", u"ID", 0, path), kWrites);
  EXPECT_EQ(ReadSettingInt(u"IP", u"port", 0, path), 7415);
  EXPECT_EQ(ReadSettingString(u"Device", u"DeviceName", u"", path, 64), u"大厅1");
  // No temporary file is left behind.
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(dir.path())))
    files.push_back(entry.path().filename());
  EXPECT_EQ(files, std::vector<std::filesystem::path>{"Config.ini"});
}

}  // namespace
}  // namespace kavenor
