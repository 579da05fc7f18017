#include "shell/settings_change.h"

#include "common/device_model.h"
#include "common/settings.h"
#include "common/text.h"

namespace kavenor {
namespace {

constexpr char16_t kConfirmPort[] = u"确定修改端口号吗？修改后请手动修改测试网页端口号。";
constexpr char16_t kConfirmModel[] = u"确定修改设备型号吗？";
constexpr char16_t kConfirmDeviceName[] = u"确定修改设备名称吗？";
constexpr char16_t kBadPort[] = u"端口号应为1到65535之间的整数";
constexpr char16_t kNoModelChosen[] = u"请从列表中选择设备型号";
constexpr char16_t kNameWithSeparator[] = u"设备名称不能包含“|”";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u3000'; }

char16_t FoldCase(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool SameTextIgnoringCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

SettingsChange Refused(const char16_t* text) {
  SettingsChange change;
  change.refusal = text;
  return change;
}

SettingWrite RestartFlagWrite() { return {kRestartSetting.section, kRestartSetting.key, u"1"}; }

}  // namespace

std::optional<uint16_t> ParsePortText(const std::u16string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (end == begin || end - begin > 5) return std::nullopt;
  uint32_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(text[i] - u'0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

SettingsChange PlanPortChange(const std::u16string& boxText) {
  std::optional<uint16_t> port = ParsePortText(boxText);
  if (!port) return Refused(kBadPort);
  SettingsChange change;
  change.confirmation = kConfirmPort;
  change.writes = {{kPortSetting.section, kPortSetting.key, DecimalText(*port)}, RestartFlagWrite()};
  change.relaunch = true;
  return change;
}

SettingsChange PlanModelChange(int selectedIndex, const std::u16string& listText) {
  int32_t model = -1;
  if (DeviceModelName(selectedIndex)) {
    model = selectedIndex;
  } else {
    for (int32_t m = 0; m < kDeviceModelCount; ++m)
      if (SameTextIgnoringCase(listText, DeviceModelName(m))) model = m;
  }
  if (model < 0) return Refused(kNoModelChosen);
  SettingsChange change;
  change.confirmation = kConfirmModel;
  change.writes = {{kModelSetting.section, kModelSetting.key, DecimalText(model)}};
  change.model = model;
  return change;
}

SettingsChange PlanDeviceNameChange(const std::u16string& boxText) {
  if (boxText.find(u'|') != std::u16string::npos) return Refused(kNameWithSeparator);
  SettingsChange change;
  change.confirmation = kConfirmDeviceName;
  change.writes = {{kDeviceNameSetting.section, kDeviceNameSetting.key, boxText}, RestartFlagWrite()};
  change.relaunch = true;
  return change;
}

void ApplySettingsChange(const SettingsChange& change, const std::u16string& settingsPath) {
  for (const SettingWrite& write : change.writes)
    WriteSettingString(write.section, write.key, write.value, settingsPath);
}

}  // namespace kavenor
