// Every Config.ini setting the program reads or writes: section, key and default, named once.
#pragma once

#include <cstdint>

namespace kavenor {

struct IntSetting {
  const char16_t* section;
  const char16_t* key;
  int32_t fallback;
};

struct TextSetting {
  const char16_t* section;
  const char16_t* key;
  const char16_t* fallback;
};

// The listening port, decimal; only its low 16 bits are used.
inline constexpr IntSetting kPortSetting{u"IP", u"port", 7415};
// 1: the next start is a relaunch and skips the single-instance check.
inline constexpr IntSetting kRestartSetting{u"IP", u"Restart", 0};
// The reader port last found.
inline constexpr IntSetting kComSetting{u"IP", u"Com", 1};
// The reader model (DeviceModel).
inline constexpr IntSetting kModelSetting{u"Device", u"ID", 0};
// The free-text device name that ORV5U replies carry.
inline constexpr TextSetting kDeviceNameSetting{u"Device", u"DeviceName", u"大厅1"};

// Where the service listens: "loopback" (127.0.0.1 and ::1 only) or "any" (every interface).
inline constexpr TextSetting kBindSetting{u"IP", u"Bind", u"any"};
// The web origins whose pages may use the reader, separated by commas or blanks; "*": every one.
inline constexpr TextSetting kAllowedOriginsSetting{u"Security", u"AllowedOrigins", u""};
// The web origins the operator has refused.
inline constexpr TextSetting kDeniedOriginsSetting{u"Security", u"DeniedOrigins", u""};
// 1: the operator is asked about a site that neither list names; 0: such a site is refused.
inline constexpr IntSetting kAskOperatorSetting{u"Security", u"AskOperator", 1};

// 1: the reader SDK runs in the reader host, a child process; 0: in the program itself.
inline constexpr IntSetting kIsolatedSetting{u"Reader", u"Isolated", 1};
// How long one SDK call may take in the reader host before the host is ended, in milliseconds.
inline constexpr IntSetting kCallTimeoutSetting{u"Reader", u"CallTimeoutMs", 20000};

inline constexpr char16_t kSettingsFileName[] = u"Config.ini";

}  // namespace kavenor
