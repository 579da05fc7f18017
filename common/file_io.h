// Whole-file reads by UTF-16 path.
#pragma once

#include <string>

namespace kavenor {

// Reads the whole file as raw bytes (opened shared with other readers and writers). Returns false,
// leaving `out` unchanged, when the file cannot be opened or read.
bool ReadWholeFile(const std::u16string& path, std::string& out);

}  // namespace kavenor
