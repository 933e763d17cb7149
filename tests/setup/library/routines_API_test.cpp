#include "setup/library/routines_API.h"

#include <gtest/gtest.h>

#include "platform/win/WinFiles.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {
namespace {

class RoutinesAPITest : public wintest::WinRootTest {};

TEST(RoutinesAPI, VersionTable) {
  struct Case {
    uint32_t platform, major, minor;
    TOSVerType expected;
  };
  const Case cases[] = {
      {0, 3, 10, os31win32},  {1, 4, 0, oswin98},        {1, 4, 10, oswin98},
      {1, 4, 90, oswinME},    {2, 5, 1, oswinXP},        {2, 5, 2, oswinXP},
      {2, 5, 0, oswin2K},     {2, 4, 0, oswinNT},        {2, 6, 0, osUnidentified},
      {2, 3, 51, oswinNT351}, {3, 5, 1, osUnidentified},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OSVersionFromNumbers(c.platform, c.major, c.minor), c.expected)
        << c.platform << " " << c.major << "." << c.minor;
  }
  EXPECT_TRUE(kOSNTFamily.Contains(oswin2K));
  EXPECT_FALSE(kOSNTFamily.Contains(oswinME));
  EXPECT_TRUE(kOSWin98AndLater.Contains(oswinME));
}

TEST_F(RoutinesAPITest, SystemRoutinesOfTheRunningMachine) {
  EXPECT_EQ(GetOSVersion(), oswinXP);
  plat::win::SetWindowsVersion(1, 4, 90, 3000, "");
  EXPECT_EQ(GetOSVersion(), oswinME);
  EXPECT_EQ(GetWindowsDir(), "C:\\WINDOWS");
  EXPECT_EQ(GetSystemDir(), "C:\\WINDOWS\\SYSTEM");
  const std::string kept = GetTempFile(true);
  EXPECT_TRUE(plat::win::FileExists(kept));
  const std::string dropped = GetTempFile(false);
  EXPECT_FALSE(plat::win::FileExists(dropped));
  EXPECT_NE(kept, dropped);
  EXPECT_EQ(GetShortPath("C:\\WINDOWS"), "C:\\WINDOWS");
  EXPECT_EQ(GetShortPath("C:\\missing"), "");
  ASSERT_TRUE(plat::win::DeleteFile(kept));
  ASSERT_TRUE(plat::win::RemoveDirectory("C:\\WINDOWS\\TEMP"));
  try {
    GetTempFile(false);
    FAIL();
  } catch (const EAPIRoutines& e) {
    EXPECT_EQ(e.Message(), "Cannot create a temporary file");
  }
}

TEST(Exceptions, TreeAndTexts) {
  try {
    throw EAIUserAbort();
  } catch (const EAI& e) {
    EXPECT_EQ(e.Message(), "Installation aborted by the user");
    EXPECT_EQ(e.ClassName(), "EAIUserAbort");
  }
  EXPECT_THROW(throw EtcDiskFull("The disk is full"), ETrevCompress);
  EXPECT_THROW(throw EAPIRoutines("x"), EQuillaneAbnormal);
  EXPECT_THROW(throw IException("x"), ECustomQuillaneAbnormal);
  try {
    throw EProgramLauncherFailed(2, "File not found");
  } catch (const EProgramLauncher& e) {
    EXPECT_EQ(dynamic_cast<const EProgramLauncherFailed&>(e).Code(), 2);
  }
}

}  // namespace
}  // namespace setup
