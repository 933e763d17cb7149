#include "platform/win/Processes.h"

#include <gtest/gtest.h>

#include "platform/win/WinFiles.h"
#include "platform/win/WinTestRoot.h"

namespace plat::win {
namespace {

using wintest::WinRootTest;

class ProcessesTest : public WinRootTest {};

TEST(CommandLine, SplitsArgumentsByTheWindowsRules) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"a b  c", {"a", "b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"-r \"-sC:\\My Build\"", {"-r", "-sC:\\My Build"}},
      {"C:\\dir\\ \"x\"", {"C:\\dir\\", "x"}},
      {"a\\\\\"b c\"", {"a\\b c"}},
      {"a\\\"b", {"a\"b"}},
      {"\"\"", {""}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(CommandLineToArgs(c.line), c.args) << c.line;
  std::string program, rest;
  SplitCommandLine("\"C:\\Program Files\\setup.exe\" -r \"-sA\"", program, rest);
  EXPECT_EQ(program, "C:\\Program Files\\setup.exe");
  EXPECT_EQ(rest, "-r \"-sA\"");
}

TEST_F(ProcessesTest, StartsHostProgramsOnTheSameMachine) {
  TProcessInformation process;
  TStartupInfo startup;
  ASSERT_TRUE(CreateProcess("", "Z:\\bin\\sh -c \"echo $ZEL_WINDOWS_ROOT > out.txt; exit 3\"",
                            false, NORMAL_PRIORITY_CLASS, "C:\\WINDOWS", startup, process));
  EXPECT_EQ(WaitForInputIdle(process, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(process, 5000), WAIT_OBJECT_0);
  uint32_t code = 0;
  ASSERT_TRUE(GetExitCodeProcess(process, code));
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(ReadFile("C:\\WINDOWS\\out.txt"), Root() + "\n");
}

TEST_F(ProcessesTest, FailsAsWindowsReportsIt) {
  WriteFile("C:\\setup.exe", "MZ\x90\x00 a windows program");
  WriteFile("C:\\data.txt", "not a program");
  struct Case {
    const char* line;
    uint32_t error;
  };
  const Case cases[] = {
      {"C:\\setup.exe -r", ERROR_BAD_EXE_FORMAT},
      {"C:\\setup -r", ERROR_BAD_EXE_FORMAT},  // ".exe" is added
      {"\"C:\\missing.exe\"", ERROR_FILE_NOT_FOUND},
      {"\"C:\\no folder\\a.exe\"", ERROR_PATH_NOT_FOUND},
      {"C:\\data.txt", ERROR_ACCESS_DENIED},
      {"no-such-program-here", ERROR_FILE_NOT_FOUND},
  };
  ForceDirectories("C:\\Program Files\\Shell Kit");
  ASSERT_TRUE(CopyFile("Z:\\bin\\sh", "C:\\Program Files\\Shell Kit\\sh.exe", false));
  TProcessInformation unquoted;
  EXPECT_TRUE(CreateProcess("", "C:\\Program Files\\Shell Kit\\sh -c \"exit 0\"", false, 0, "",
                            TStartupInfo{}, unquoted));
  for (const Case& c : cases) {
    TProcessInformation process;
    EXPECT_FALSE(CreateProcess("", c.line, false, 0, "", TStartupInfo{}, process)) << c.line;
    EXPECT_EQ(GetLastError(), c.error) << c.line;
  }
}

}  // namespace
}  // namespace plat::win
