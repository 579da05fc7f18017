#include "common/test_support.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/exe_dir.h"

namespace kavenor::testing {
namespace fs = std::filesystem;

namespace {
fs::path ToPath(const std::u16string& p) { return fs::path(p); }
}  // namespace

ScratchDir::ScratchDir(const std::u16string& prefix) {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::u16string name = prefix + u"-" +
                        fs::path(std::to_string(stamp) + "-" + std::to_string(counter++)).u16string();
  fs::path dir = fs::temp_directory_path() / fs::path(name);
  fs::create_directories(dir);
  path_ = dir.u16string();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(ToPath(path_), ec);
}

std::u16string ScratchDir::Join(const std::u16string& name) const { return JoinPath(path_, name); }

void WriteFileBytes(const std::u16string& path, const std::string& bytes) {
  std::ofstream out(ToPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::u16string& path) {
  std::ifstream in(ToPath(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::u16string& path) {
  std::error_code ec;
  return fs::exists(ToPath(path), ec);
}

void CopyFileTo(const std::u16string& from, const std::u16string& to) {
  fs::copy_file(ToPath(from), ToPath(to), fs::copy_options::overwrite_existing);
}

void MakeDirs(const std::u16string& path) { fs::create_directories(ToPath(path)); }

void RemoveFile(const std::u16string& path) {
  std::error_code ec;
  fs::remove(ToPath(path), ec);
}

std::vector<std::string> ReadLines(const std::u16string& path) {
  std::vector<std::string> lines;
  std::ifstream in(ToPath(path), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

ChildProcess::~ChildProcess() {
  if (Running()) Kill();
  Wait();
}

int RunProgram(const std::u16string& program, const std::vector<std::u16string>& args) {
  return ChildProcess(program, args).Wait();
}

}  // namespace kavenor::testing
