#include "common/file_io.h"

#include <filesystem>
#include <fstream>

namespace kavenor {

bool ReadWholeFile(const std::u16string& path, std::string& out) {
  // The wide path reaches _wfopen on Windows (shared with other readers and writers) and becomes
  // UTF-8 elsewhere, so a folder name the ANSI code page cannot spell still opens.
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff length = in.tellg();
  if (length < 0) return false;
  in.seekg(0, std::ios::beg);
  std::string bytes(static_cast<size_t>(length), '\0');
  if (length > 0 && !in.read(bytes.data(), length)) return false;
  out = std::move(bytes);
  return true;
}

}  // namespace kavenor
