// Writes GetExeDir() and SettingsFilePath() as UTF-8 lines into the file named by its argument.
#include <fstream>

#include "common/exe_dir.h"
#include "common/text.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::ofstream file(argv[1], std::ios::binary);
  file << kavenor::Utf16ToUtf8(kavenor::GetExeDir()) << "\n"
       << kavenor::Utf16ToUtf8(kavenor::SettingsFilePath()) << "\n";
  return file ? 0 : 1;
}
