// Where the running executable, or a module loaded into it, lies.
#pragma once

#include <string>

namespace kavenor {

// The platform's path separator: '\\' on Windows, '/' elsewhere.
extern const char16_t kPathSeparator;

// Full path of the running executable, whatever its length.
std::u16string GetModulePath();

// Full path of the executable or library file that holds `address` (a function of that module);
// empty when no loaded module holds it. A library loaded by a relative path still gets its full path.
std::u16string ModulePathContaining(const void* address);

// Directory of the running executable, without a trailing separator. On Windows the module path
// is passed through its short form and back to its long form, so the spelling is the file system's.
std::u16string GetExeDir();

// The module path cut after its last separator (the separator kept); empty when it has none.
std::u16string GetModuleDirWithSeparator();

// dir + separator + name.
std::u16string JoinPath(const std::u16string& dir, const std::u16string& name);

// The settings file beside the executable: GetExeDir() + separator + "Config.ini".
std::u16string SettingsFilePath();

}  // namespace kavenor
