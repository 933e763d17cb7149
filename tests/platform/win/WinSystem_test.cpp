#include "platform/win/WinSystem.h"

#include <gtest/gtest.h>

#include "platform/win/Registry.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinTestRoot.h"

namespace plat::win {
namespace {

using wintest::WinRootTest;

class WinSystemTest : public WinRootTest {};

TEST_F(WinSystemTest, ReportsWindowsXPUnlessConfigured) {
  TOSVersionInfoA info;
  ASSERT_TRUE(GetVersionEx(info));
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(info.dwMajorVersion, 5u);
  EXPECT_EQ(info.dwMinorVersion, 1u);
  EXPECT_EQ(GetSystemDirectory(), "C:\\WINDOWS\\system32");
  SetWindowsVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000, " ");
  ASSERT_TRUE(GetVersionEx(info));
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(info.dwMinorVersion, 90u);
  EXPECT_EQ(GetSystemDirectory(), "C:\\WINDOWS\\SYSTEM");
  EXPECT_TRUE(DirectoryExists(GetSystemDirectory()));
  info.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionEx(info));
}

TEST_F(WinSystemTest, ShellFoldersComeFromSeededValues) {
  std::string path;
  ASSERT_TRUE(SHGetSpecialFolderPath(CSIDL_PROGRAMS, path));
  EXPECT_EQ(path.rfind("C:\\Documents and Settings\\", 0), 0u);
  EXPECT_EQ(path.substr(path.size() - 19), "Start Menu\\Programs");
  EXPECT_TRUE(DirectoryExists(path));
  ASSERT_TRUE(SHGetSpecialFolderPath(CSIDL_COMMON_PROGRAMS, path));
  EXPECT_EQ(path, "C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
  ASSERT_TRUE(SHGetSpecialFolderPath(CSIDL_PROGRAM_FILES, path));
  EXPECT_EQ(path, "C:\\Program Files");
  for (int32_t virtualFolder : {CSIDL_CONTROLS, CSIDL_PRINTERS, CSIDL_BITBUCKET}) {
    EXPECT_FALSE(SHGetSpecialFolderPath(virtualFolder, path)) << virtualFolder;
  }
  // A changed value is what the shell reports.
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                          false));
  reg.WriteString("Recent", "D:\\Recent\\");
  ASSERT_TRUE(SHGetSpecialFolderPath(CSIDL_RECENT, path));
  EXPECT_EQ(path, "D:\\Recent");
}

TEST_F(WinSystemTest, TemporaryFilesAndShortPaths) {
  std::string name;
  const uint32_t number = GetTempFileName(GetTempPath(), "bat", 0, name);
  ASSERT_NE(number, 0u);
  EXPECT_EQ(name.rfind("C:\\WINDOWS\\TEMP\\bat", 0), 0u);
  EXPECT_EQ(name.substr(name.size() - 4), ".TMP");
  EXPECT_TRUE(FileExists(name));
  std::string second;
  ASSERT_NE(GetTempFileName("C:\\WINDOWS\\TEMP", "bat", 0, second), 0u);
  EXPECT_NE(second, name);
  EXPECT_EQ(GetTempFileName("C:\\missing", "bat", 0, name), 0u);
  std::string shortPath;
  EXPECT_TRUE(GetShortPathName("C:\\Program Files", shortPath));
  EXPECT_EQ(shortPath, "C:\\Program Files");
  EXPECT_FALSE(GetShortPathName("C:\\missing", shortPath));
}

TEST_F(WinSystemTest, RestartRequestsAndLanguageAreRecorded) {
  EXPECT_FALSE(RestartRequested());
  EXPECT_TRUE(EnableShutdownPrivilege());
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT));
  EXPECT_TRUE(RestartRequested());
  ClearRestartRequest();
  EXPECT_FALSE(RestartRequested());
  EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
  SetUserDefaultLangID(0x0816);
  EXPECT_EQ(GetUserDefaultLangID(), 0x0816);
}

TEST_F(WinSystemTest, FloppyCapacityLimitsFreeSpace) {
  uint64_t total = 0, free = 0;
  SetFloppyCapacity(1000);
  WriteFile("A:\\f", std::string(300, 'x'));
  ASSERT_TRUE(GetDiskFreeSpace("A:\\", total, free));
  EXPECT_EQ(total, 1000u);
  EXPECT_EQ(free, 700u);
  EXPECT_FALSE(GetDiskFreeSpace("Q:\\", total, free));
}

}  // namespace
}  // namespace plat::win
