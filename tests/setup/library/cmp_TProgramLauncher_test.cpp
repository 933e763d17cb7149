#include "setup/library/cmp_TProgramLauncher.h"

#include <gtest/gtest.h>

#include "platform/os/Os.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinTestRoot.h"

namespace setup {
namespace {

class LauncherTest : public wintest::WinRootTest {};

TEST(LauncherErrors, TextsByCode) {
  struct Case {
    int32_t code;
    const char* text;
  };
  const Case cases[] = {{0, "Out of memory"},
                        {8, "Out of memory"},
                        {2, "File not found"},
                        {3, "Path not found"},
                        {13, "Invalid DOS version"},
                        {31, "File type has no association"},
                        {21, "Application requires Win32"},
                        {99, "Unknown error"}};
  for (const Case& c : cases) {
    try {
      LauncherError(c.code);
    } catch (const EProgramLauncherFailed& e) {
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_EQ(e.Message(), c.text);
    }
  }
}

TEST_F(LauncherTest, StartsAProgramWithItsParameters) {
  TProgramLauncher launcher(nullptr);
  EXPECT_EQ(launcher.Action(), "Open");
  EXPECT_EQ(launcher.Timeout(), -1);
  EXPECT_TRUE(launcher.Wait());
  launcher.SetFileName("Z:\\bin\\sh");
  launcher.SetParameters("-c \"echo started > " + Root() + "/C/out.txt\"");
  launcher.SetShowMode(smHide);
  launcher.Execute();
  for (int i = 0; i < 500 && !plat::win::FileExists("C:\\out.txt"); ++i) plat::Sleep(2);
  for (int i = 0; i < 500 && ReadFile("C:\\out.txt") != "started\n"; ++i) plat::Sleep(2);
  EXPECT_EQ(ReadFile("C:\\out.txt"), "started\n");
}

TEST_F(LauncherTest, AFailedStartReportsOutOfMemoryWithCodeZero) {
  WriteFile("C:\\setup.exe", "MZ windows program");
  for (const char* file : {"C:\\setup.exe", "C:\\missing.exe"}) {
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName(file);
    try {
      launcher.Execute();
      ADD_FAILURE() << file;
    } catch (const EProgramLauncherFailed& e) {
      EXPECT_EQ(e.Code(), 0);
      EXPECT_EQ(e.Message(), "Out of memory");
    }
  }
}

}  // namespace
}  // namespace setup
