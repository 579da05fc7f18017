#include "simulator/call_log.h"

#include <filesystem>
#include <fstream>

namespace kavenor::sim {

void AppendLogLine(const std::u16string& path, const std::string& line) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::app);
  if (!out) return;
  std::string whole = line + "\n";
  out.write(whole.data(), static_cast<std::streamsize>(whole.size()));
}

}  // namespace kavenor::sim
