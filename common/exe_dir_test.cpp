#include "common/exe_dir.h"

#include <gtest/gtest.h>

#include "common/test_support.h"
#include "common/text.h"

namespace kavenor {
namespace {

using testing::ScratchDir;

std::u16string ProbeName() {
#ifdef _WIN32
  return u"exe_dir_probe.exe";
#else
  return u"exe_dir_probe";
#endif
}

// Copies the probe into `dir` and returns the two lines it writes: GetExeDir() and the settings path.
std::vector<std::string> RunProbeIn(const std::u16string& dir, const ScratchDir& scratch) {
  testing::MakeDirs(dir);
  std::u16string probe = JoinPath(dir, ProbeName());
  testing::CopyFileTo(JoinPath(GetExeDir(), ProbeName()), probe);
  std::u16string out = scratch.Join(u"probe.txt");
  EXPECT_EQ(testing::RunProgram(probe, {out}), 0);
  return testing::ReadLines(out);
}

TEST(ExeDir, FolderNamesWithChineseAndBlanks) {
  ScratchDir scratch;
  for (std::u16string name : {u"plain", u"读卡 服务", u"大厅1"}) {
    std::u16string dir = scratch.Join(name);
    auto lines = RunProbeIn(dir, scratch);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], Utf16ToUtf8(dir));
    EXPECT_EQ(lines[1], Utf16ToUtf8(JoinPath(dir, u"Config.ini")));
  }
}

TEST(ExeDir, PathLongerThanTheClassicBuffers) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows refuses to start programs beyond MAX_PATH without long-path support";
#endif
  ScratchDir scratch;
  std::u16string dir = scratch.path();
  while (dir.size() < 400) dir = JoinPath(dir, u"深层目录deep-folder-name");
  auto lines = RunProbeIn(dir, scratch);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], Utf16ToUtf8(dir));
}

TEST(ExeDir, ModuleDirKeepsItsSeparator) {
  std::u16string withSep = GetModuleDirWithSeparator();
  ASSERT_FALSE(withSep.empty());
  EXPECT_EQ(withSep.back(), kPathSeparator);
  EXPECT_EQ(withSep, GetExeDir() + kPathSeparator);
}

TEST(ExeDir, ModuleContainingAnAddress) {
  EXPECT_EQ(ModulePathContaining(reinterpret_cast<const void*>(&ProbeName)), GetModulePath());
  int onTheStack = 0;
  EXPECT_EQ(ModulePathContaining(&onTheStack), u"");  // no module holds it
}

}  // namespace
}  // namespace kavenor
