// Helpers for test binaries only: scratch folders and files, by UTF-16 path.
#pragma once

#include <cstdint>
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

// A program started with arguments and not waited for; killed, if still running, when the object goes.
class ChildProcess {
 public:
  ChildProcess(const std::u16string& program, const std::vector<std::u16string>& args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Whether it started and has not ended.
  bool Running();
  // Waits for it to end. Its exit code; on POSIX 128 + the signal that ended it, as a shell reports
  // it; -1 when it did not start.
  int Wait();
  // Ends it now and waits for it.
  void Kill();

 private:
  intptr_t process_ = -1;  // the pid, or the process handle on Windows; -1 when it did not start
  bool ended_ = false;
  int exitCode_ = -1;
};

// Runs a program with arguments and waits for it; returns ChildProcess::Wait().
int RunProgram(const std::u16string& program, const std::vector<std::u16string>& args);

}  // namespace kavenor::testing
