#include "reader/reader_driver.h"

#include "common/clock.h"
#include "common/reply_texts.h"
#include "common/exe_dir.h"
#include "common/settings.h"
#include "common/text.h"

namespace kavenor {

const char16_t* SdkFolderName(DriverKind kind) {
  switch (kind) {
    case DriverKind::k5A: return u"ORV5A";
    case DriverKind::k5U: return u"ORV5U";
    case DriverKind::k5ULN: return u"ORV5ULN";
  }
  return u"";
}

const char16_t kLibraryLoadFailed[] = u"找不到Kadrel.dll或无法加载Kadrel.dll";

const char16_t* ModelTag(DriverKind kind) {
  switch (kind) {
    case DriverKind::k5A: return u"ORV-5A";
    case DriverKind::k5U: return u"ORV5U";
    case DriverKind::k5ULN: return u"ORV-5U-HID";
  }
  return u"";
}

ReaderDriver::ReaderDriver(DriverKind kind, const std::u16string& moduleDir, const MessageSink& report)
    : kind_(kind), settingsPath_(moduleDir + kSettingsFileName) {
  // The settings are read before the library is loaded, so they hold even when loading fails.
  savedPort_ = ReadSetting(kComSetting, settingsPath_);
  if (kind_ == DriverKind::k5U)
    deviceName_ = ReadSetting(kDeviceNameSetting, settingsPath_, 256);
  std::u16string libraryPath = moduleDir + SdkFolderName(kind_) + kPathSeparator + SharedLibrary::FileName(u"kadrel");
  library_ = SharedLibrary::Load(libraryPath);
  if (!library_.IsLoaded()) {
    if (report) report(kLibraryLoadFailed);
    return;
  }
  entry_ = BindEntryPoints(library_, kind_);
}

bool ReaderDriver::OpenReader() {
  // Without ORV_InitComm no port can answer.
  if (entry_.ORV_InitComm) {
    if (entry_.ORV_InitComm(savedPort_) == sdk::kOk) return true;
    auto tryPort = [&](int port) {
      if (entry_.ORV_InitComm(port) != sdk::kOk) return false;
      savedPort_ = port;
      WriteSetting(kComSetting, DecimalText(port), settingsPath_);
      return true;
    };
    for (int port = 1001; port <= 1016; ++port)
      if (tryPort(port)) return true;
    for (int port = 1; port <= 16; ++port)
      if (tryPort(port)) return true;
  }
  Post(kStatusNoDevice);
  return false;
}

void ReaderDriver::CloseReader() {
  if (entry_.ORV_CloseComm) entry_.ORV_CloseComm();
}

std::u16string ReaderDriver::InReaderCycle(std::optional<uint32_t> pauseMs,
                                           const std::function<std::u16string()>& cardWork) {
  if (!OpenReader()) return texts::kNoDevice;
  struct Closer {
    ReaderDriver* driver;
    ~Closer() { driver->CloseReader(); }
  } closer{this};
  if (pauseMs) SleepMs(*pauseMs);
  return cardWork();
}

std::u16string PadLeftZeros(const std::u16string& text, size_t width) {
  if (text.size() >= width) return text;
  return std::u16string(width - text.size(), u'0') + text;
}

}  // namespace kavenor
