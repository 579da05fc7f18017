// The three settings changes of the settings window, decided without a window: what is refused,
// what is asked, what is written, and whether the program relaunches.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavenor {

struct SettingWrite {
  const char16_t* section;
  const char16_t* key;
  std::u16string value;
};

struct SettingsChange {
  std::u16string refusal;             // not empty: shown with an OK button; nothing is asked or written
  std::u16string confirmation;        // the Yes/No question asked before anything is written
  std::vector<SettingWrite> writes;   // written in this order once the operator answers Yes
  std::optional<int32_t> model;       // the model every later command and page uses; the caller asks the reader for it
  bool relaunch = false;              // the change takes effect in a new instance
};

// The port box: blanks around it are ignored; 1 to 5 decimal digits with a value from 1 to 65535.
std::optional<uint16_t> ParsePortText(const std::u16string& text);

// Writes [IP] port (the value's digits) and [IP] Restart = 1, then relaunches.
SettingsChange PlanPortChange(const std::u16string& boxText);

// The list's selection, or else the entry whose text the list's text field holds (without regard
// to case); writes [Device] ID and uses the model at once, without a relaunch.
SettingsChange PlanModelChange(int selectedIndex, const std::u16string& listText);

// The name as typed, but never with "|", which separates the fields of the card record; writes
// [Device] DeviceName and [IP] Restart = 1, then relaunches.
SettingsChange PlanDeviceNameChange(const std::u16string& boxText);

// Writes the change's settings into `settingsPath`; the caller asks for the model and relaunches.
void ApplySettingsChange(const SettingsChange& change, const std::u16string& settingsPath);

}  // namespace kavenor
