// Access to INI-style settings files (Config.ini). Windows: the private-profile calls. Linux: a
// stand-in with the same semantics (names compared without case, first match wins, values trimmed,
// atomic replace on write, other lines kept).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/settings_keys.h"

namespace kavenor {

// The integer under [section] key: leading blanks, optional sign, decimal digits up to the first
// other character; no digits gives 0; a missing file, section or key, or an empty value, gives
// `fallback`.
int32_t ReadSettingInt(const std::u16string& section, const std::u16string& key, int32_t fallback,
                       const std::u16string& path);

// The text under [section] key, trimmed, or `fallback` when absent. At most capacity - 1 units are
// returned, as a buffer of `capacity` units would hold.
std::u16string ReadSettingString(const std::u16string& section, const std::u16string& key,
                                 const std::u16string& fallback, const std::u16string& path,
                                 size_t capacity);

// Writes [section] key=value, creating the file, section or key as needed; every other line stays.
// Writes from several threads are serialised. Returns false when the file could not be written.
bool WriteSettingString(const std::u16string& section, const std::u16string& key,
                        const std::u16string& value, const std::u16string& path);

// How a settings file is stored: as the Windows private-profile calls read it, a file that begins
// with the UTF-16 little-endian byte-order mark is UTF-16; otherwise bytes (UTF-8 here, the ANSI
// code page on Windows), after a UTF-8 byte-order mark if there is one.
enum class SettingsEncoding { kBytes, kUtf8WithMark, kUtf16 };

// The file's text as 8-bit text (UTF-16 turned into UTF-8) and how it was stored; empty when the
// file cannot be read.
std::string SettingsFileText(const std::u16string& path, SettingsEncoding* encoding = nullptr);

// The same calls by the settings' names.
int32_t ReadSetting(const IntSetting& setting, const std::u16string& path);
std::u16string ReadSetting(const TextSetting& setting, const std::u16string& path, size_t capacity);
bool WriteSetting(const IntSetting& setting, const std::u16string& value, const std::u16string& path);
bool WriteSetting(const TextSetting& setting, const std::u16string& value, const std::u16string& path);

}  // namespace kavenor
