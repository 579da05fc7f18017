#include "shell/settings_change.h"

#include <gtest/gtest.h>

#include "common/device_model.h"
#include "common/settings.h"
#include "common/test_support.h"

namespace kavenor {
namespace {

TEST(PortText, OneToFiveDigitsFromOneTo65535) {
  const std::pair<std::u16string, int> cases[] = {
      {u"7415", 7415}, {u" 8080 ", 8080}, {u"\t1\t", 1}, {u"65535", 65535}, {u"00080", 80},
      {u"0", -1}, {u"65536", -1}, {u"70000", -1}, {u"000080", -1}, {u"", -1}, {u"   ", -1},
      {u"abc", -1}, {u"80a", -1}, {u"-1", -1}, {u"+80", -1}, {u"8 0", -1}, {u"８０", -1},
  };
  for (const auto& [text, port] : cases) {
    std::optional<uint16_t> parsed = ParsePortText(text);
    EXPECT_EQ(parsed ? *parsed : -1, port) << std::string(text.begin(), text.end());
  }
}

// What each change writes into a file that already holds other settings, and what it leaves. (A
// value is read back trimmed, as the platform reads it.)
TEST(SettingsChange, WritesOnlyItsOwnKeys) {
  struct Case {
    const char* name;
    SettingsChange change;
    std::vector<std::pair<const char16_t*, std::u16string>> expected;  // key -> value after
    bool relaunch;
    std::optional<int32_t> model;
  } cases[] = {
      {"port", PlanPortChange(u" 8080 "), {{u"port", u"8080"}, {u"Restart", u"1"}, {u"ID", u"1"}, {u"DeviceName", u"大厅1"}},
       true, std::nullopt},
      {"model by selection", PlanModelChange(3, u"ORV5U-LN"), {{u"port", u"7415"}, {u"Restart", u"0"}, {u"ID", u"3"}}, false, 3},
      {"model by typed text", PlanModelChange(-1, u"orv5a(ft232)"), {{u"ID", u"2"}, {u"Restart", u"0"}}, false, 2},
      {"device name", PlanDeviceNameChange(u" 窗口 2 "), {{u"DeviceName", u"窗口 2"}, {u"Restart", u"1"}, {u"port", u"7415"}},
       true, std::nullopt},
      {"empty device name", PlanDeviceNameChange(u""), {{u"DeviceName", u""}, {u"Restart", u"1"}}, true, std::nullopt},
  };
  for (Case& c : cases) {
    testing::ScratchDir dir;
    const std::u16string path = dir.Join(u"Config.ini");
    // Through the platform's own writer: Windows reads a file without a byte-order mark in its code page.
    for (const auto& [section, key, value] : {SettingWrite{u"IP", u"port", u"7415"}, SettingWrite{u"IP", u"Restart", u"0"},
                                              SettingWrite{u"Device", u"ID", u"1"},
                                              SettingWrite{u"Device", u"DeviceName", u"大厅1"}})
      WriteSettingString(section, key, value, path);
    ASSERT_TRUE(c.change.refusal.empty()) << c.name;
    EXPECT_FALSE(c.change.confirmation.empty()) << c.name;
    ApplySettingsChange(c.change, path);
    for (const auto& [key, value] : c.expected) {
      const char16_t* section = std::u16string(key) == u"ID" || std::u16string(key) == u"DeviceName" ? u"Device" : u"IP";
      EXPECT_EQ(ReadSettingString(section, key, u"<none>", path, 260), value) << c.name;
    }
    EXPECT_EQ(c.change.relaunch, c.relaunch) << c.name;
    EXPECT_EQ(c.change.model, c.model) << c.name;
  }
}

TEST(SettingsChange, RefusedBeforeAnythingIsAsked) {
  const std::pair<SettingsChange, std::u16string> cases[] = {
      {PlanPortChange(u"abc"), u"端口号应为1到65535之间的整数"},
      {PlanPortChange(u"0"), u"端口号应为1到65535之间的整数"},
      {PlanModelChange(-1, u"ORV9"), u"请从列表中选择设备型号"},
      {PlanModelChange(-1, u""), u"请从列表中选择设备型号"},
      {PlanDeviceNameChange(u"Desk|2"), u"设备名称不能包含“|”"},
  };
  for (const auto& [change, refusal] : cases) {
    EXPECT_EQ(change.refusal, refusal);
    EXPECT_TRUE(change.confirmation.empty());
    EXPECT_TRUE(change.writes.empty());
    EXPECT_FALSE(change.model.has_value());
    EXPECT_FALSE(change.relaunch);
  }
}

TEST(SettingsChange, ConfirmationTexts) {
  EXPECT_EQ(PlanPortChange(u"1").confirmation, u"确定修改端口号吗？修改后请手动修改测试网页端口号。");
  EXPECT_EQ(PlanModelChange(0, u"").confirmation, u"确定修改设备型号吗？");
  EXPECT_EQ(PlanDeviceNameChange(u"a").confirmation, u"确定修改设备名称吗？");
}

}  // namespace
}  // namespace kavenor
