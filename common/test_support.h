// Helpers for test binaries only: scratch folders and files, by UTF-16 path.
#pragma once

#include <string>
#include <vector>

namespace kavenor::testing {

// A fresh empty folder under the system's temporary folder, removed with everything in it when the
// object goes.
class ScratchDir {
 public:
  explicit ScratchDir(const std::u16string& prefix = u"kavenor");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::u16string& path() const { return path_; }
  // path() + separator + name.
  std::u16string Join(const std::u16string& name) const;

 private:
  std::u16string path_;
};

void WriteFileBytes(const std::u16string& path, const std::string& bytes);
std::string ReadFileBytes(const std::u16string& path);  // empty when missing
bool FileExists(const std::u16string& path);
void CopyFileTo(const std::u16string& from, const std::u16string& to);
void MakeDirs(const std::u16string& path);
void RemoveFile(const std::u16string& path);

// The lines of a text file, without their line ends.
std::vector<std::string> ReadLines(const std::u16string& path);

// Runs a program with arguments and waits for it; returns its exit code (-1 when it cannot start).
int RunProgram(const std::u16string& program, const std::vector<std::u16string>& args);

}  // namespace kavenor::testing
