#include "platform/win/BatchFiles.h"

#include <gtest/gtest.h>

#include "platform/win/Processes.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinTestRoot.h"

namespace plat::win {
namespace {

class BatchTest : public wintest::WinRootTest {
 protected:
  // Starts a batch as the launcher does and waits for it; false when it did
  // not start.
  static bool Run(const std::string& batch) {
    TProcessInformation process;
    TStartupInfo startup;
    if (!CreateProcess(batch, "\"" + batch + "\"", false, NORMAL_PRIORITY_CLASS, "", startup,
                       process)) {
      return false;
    }
    WaitForSingleObject(process, INFINITE);
    return true;
  }
};

TEST_F(BatchTest, RunsTheCommandsTheSetupProgramWrites) {
  ForceDirectories("C:\\Temp\\copy\\sub");
  WriteFile("C:\\Temp\\copy\\setup.exe", "x");
  WriteFile("C:\\Temp\\copy\\sub\\data.bin", "x");
  WriteFile("C:\\Temp\\clean.PIF", "x");
  ForceDirectories("C:\\Kit Dir");
  WriteFile("C:\\Kit Dir\\engine.dll.1", "new");
  WriteFile("C:\\Kit Dir\\engine.dll", "old");
  WriteFile("C:\\Temp\\clean.bat",
            "@ECHO OFF\r\n"
            ":Repeat\r\n"
            "ERASE \"C:\\Temp\\copy\\setup.exe\"\r\n"
            "IF EXIST \"C:\\Temp\\copy\\setup.exe\" GOTO Repeat\r\n"
            "DELTREE /Y \"C:\\Temp\\copy\"\r\n"
            "erase \"C:\\Kit Dir\\engine.dll\"\r\n"
            "move \"C:\\Kit Dir\\engine.dll.1\" \"C:\\Kit Dir\\engine.dll\"\r\n"
            "ERASE \"C:\\Temp\\clean.PIF\"\r\n"
            "ERASE \"C:\\Temp\\clean.bat\"\r\n");
  ASSERT_TRUE(Run("C:\\Temp\\clean.bat"));
  EXPECT_FALSE(DirectoryExists("C:\\Temp\\copy"));
  EXPECT_EQ(ReadFile("C:\\Kit Dir\\engine.dll"), "new");
  EXPECT_FALSE(FileExists("C:\\Kit Dir\\engine.dll.1"));
  EXPECT_FALSE(FileExists("C:\\Temp\\clean.PIF"));
  EXPECT_FALSE(FileExists("C:\\Temp\\clean.bat"));
}

TEST_F(BatchTest, AnyOtherBatchFailsToStart) {
  ForceDirectories("C:\\Temp");
  const char* refused[] = {"format c:\r\n", "ERASE a b\r\n", "GOTO Nowhere\r\n",
                           "IF EXIST x GOTO Missing\r\n", "copy a b\r\n"};
  for (const char* text : refused) {
    WriteFile("C:\\Temp\\other.bat", text);
    EXPECT_FALSE(Run("C:\\Temp\\other.bat")) << text;
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT) << text;
  }
}

TEST_F(BatchTest, ALoopThatNeverEndsIsCutShort) {
  std::vector<TBatchCommand> commands;
  std::string error;
  ASSERT_TRUE(ParseBatch(":Again\r\nGOTO Again\r\n", commands, error));
  // Each round runs the label and the jump; the rounds are bounded.
  EXPECT_EQ(RunBatch(commands, 5, 1), 2 * (5 + 1));
}

}  // namespace
}  // namespace plat::win
