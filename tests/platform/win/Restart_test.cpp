#include "platform/win/Restart.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/os/Files.h"
#include "platform/win/HeldFile.h"
#include "platform/win/IniFiles.h"
#include "platform/win/Registry.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"

namespace plat::win {
namespace {

using wintest::WinRootTest;

class RestartTest : public WinRootTest {
 protected:
  static void AddRunOnce(HKEY root, const std::string& name, const std::string& command) {
    TRegistry reg;
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey(std::string("\\") + kRunOnceKey, true));
    reg.WriteString(name, command);
  }
};

TEST_F(RestartTest, AFileInUseIsReplacedAtTheRestartWhichThenRunsRunOnce) {
  ForceDirectories("C:\\Kit");
  WriteFile("C:\\Kit\\engine.dll", "old");
  wintest::THeldFile held;
  ASSERT_NO_FATAL_FAILURE(held.Hold("C:\\Kit\\engine.dll", TFileShare::fsDenyNone));

  // What the installer does for a file in use: a sibling, a delayed move,
  // a restart request and a command for after the restart.
  EXPECT_FALSE(DeleteFile("C:\\Kit\\engine.dll"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  WriteFile("C:\\Kit\\engine.dll.1", "new");
  ASSERT_TRUE(MoveFileEx("C:\\Kit\\engine.dll.1", "C:\\Kit\\engine.dll",
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(ExitWindowsEx(EWX_REBOOT));
  AddRunOnce(HKEY_CURRENT_USER, "Second",
             "Z:\\bin\\sh -c \"cat C:/dummy 2>/dev/null; echo user >> " + Root() + "/order\"");
  AddRunOnce(HKEY_LOCAL_MACHINE, "First",
             "Z:\\bin\\sh -c \"echo machine >> " + Root() + "/order\"");
  AddRunOnce(HKEY_LOCAL_MACHINE, "Broken", "C:\\Kit\\engine.dll");

  // The restart comes after every program has ended.
  EXPECT_EQ(held.Release(), 0);

  const TRestartReport report = ApplyPendingRestart(Root());
  EXPECT_EQ(report.Applied, 1);
  EXPECT_EQ(report.Ran, 2);
  ASSERT_EQ(report.Failures.size(), 1u);  // the file that is no program
  EXPECT_NE(report.Failures[0].find("RunOnce Broken"), std::string::npos);
  EXPECT_EQ(ReadFile("C:\\Kit\\engine.dll"), "new");
  EXPECT_FALSE(FileExists("C:\\Kit\\engine.dll.1"));
  EXPECT_EQ(ReadFile("Z:" + Root() + "/order"), "machine\nuser\n");
  EXPECT_TRUE(PendingRenames().empty());
  EXPECT_FALSE(RestartRequested());
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(std::string("\\") + kRunOnceKey, false));
  EXPECT_TRUE(reg.GetValueNames().empty());
}

TEST_F(RestartTest, WininitRenamesOfTheOlderWindowsLineAreApplied) {
  WriteFile("C:\\WINDOWS\\new.dll", "new");
  WriteFile("C:\\WINDOWS\\old.dll", "old");
  WriteFile("C:\\WINDOWS\\junk.tmp", "junk");
  TIniFile ini("C:\\WINDOWS\\WININIT.INI");
  ini.WriteString("Rename", "C:\\WINDOWS\\old.dll", "C:\\WINDOWS\\new.dll");
  ini.WriteString("Rename", "NUL", "C:\\WINDOWS\\junk.tmp");
  const TRestartReport report = ApplyPendingRestart(Root());
  EXPECT_EQ(report.Applied, 2);
  EXPECT_TRUE(report.Failures.empty());
  EXPECT_EQ(ReadFile("C:\\WINDOWS\\old.dll"), "new");
  EXPECT_FALSE(FileExists("C:\\WINDOWS\\junk.tmp"));
  EXPECT_FALSE(FileExists("C:\\WINDOWS\\WININIT.INI"));
  EXPECT_TRUE(FileExists("C:\\WINDOWS\\WININIT.BAK"));
}

TEST_F(RestartTest, AFailingRenameIsReportedAndNotRetried) {
  ASSERT_TRUE(MoveFileEx("C:\\missing", "C:\\target", MOVEFILE_DELAY_UNTIL_REBOOT));
  TRestartReport report = ApplyPendingRestart(Root());
  EXPECT_EQ(report.Failures.size(), 1u);
  report = ApplyPendingRestart(Root());
  EXPECT_TRUE(report.Failures.empty());
}

// The restart runs elsewhere: a relative name is recorded as the file it
// named when the move was asked for.
TEST_F(RestartTest, RelativeDelayedMovesAndDeletionsAreRecordedAbsolute) {
  ForceDirectories("C:\\Kit");
  WriteFile("C:\\Kit\\new.dll", "new");
  WriteFile("C:\\Kit\\junk.tmp", "junk");
  char* previous = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(HostPath("C:\\Kit").c_str()), 0);
  const bool moved = MoveFileEx("new.dll", "old.dll", MOVEFILE_DELAY_UNTIL_REBOOT);
  const bool deleted = MoveFileEx("junk.tmp", "", MOVEFILE_DELAY_UNTIL_REBOOT);
  ASSERT_EQ(::chdir(previous), 0);
  ::free(previous);
  ASSERT_TRUE(moved);
  ASSERT_TRUE(deleted);
  const std::vector<TPendingRename> pending = PendingRenames();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].Source, "C:\\Kit\\new.dll");
  EXPECT_EQ(pending[0].Target, "C:\\Kit\\old.dll");
  EXPECT_EQ(pending[1].Source, "C:\\Kit\\junk.tmp");
  EXPECT_EQ(pending[1].Target, "");
  const TRestartReport report = ApplyPendingRestart(Root());
  EXPECT_EQ(report.Applied, 2);
  EXPECT_EQ(ReadFile("C:\\Kit\\old.dll"), "new");
  EXPECT_FALSE(FileExists("C:\\Kit\\junk.tmp"));
}

}  // namespace
}  // namespace plat::win
