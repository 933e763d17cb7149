#include "platform/win/WinFiles.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/os/Files.h"
#include "platform/win/HeldFile.h"
#include "platform/win/IniFiles.h"
#include "platform/win/Restart.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"

namespace plat::win {
namespace {

using wintest::WinRootTest;

class WinFilesTest : public WinRootTest {};

TEST_F(WinFilesTest, ReadOnlyIsTheWriteBitsAndOtherAttributesStayBesideTheFile) {
  WriteFile("C:\\a.txt", "x");
  EXPECT_EQ(GetFileAttributes("C:\\A.TXT"), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(SetFileAttributes("C:\\a.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  struct stat st {};
  ASSERT_EQ(::stat(HostPath("C:\\a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(GetFileAttributes("C:\\a.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  // The side file is not part of the folder as Windows shows it.
  for (const TWinFindData& f : FindFiles("C:\\*.*")) EXPECT_NE(f.Name, ".winattrs");

  EXPECT_FALSE(DeleteFile("C:\\a.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributes("C:\\a.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributes("C:\\a.txt"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(DeleteFile("C:\\a.txt"));
  EXPECT_EQ(GetFileAttributes("C:\\a.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributes("C:\\WINDOWS"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(WinFilesTest, AFileHeldByAnotherProcessCannotBeDeletedOrReplaced) {
  WriteFile("C:\\held.dll", "old");
  WriteFile("C:\\new.dll", "new");
  wintest::THeldFile held;
  ASSERT_NO_FATAL_FAILURE(held.Hold("C:\\held.dll", TFileShare::fsDenyWrite));
  EXPECT_TRUE(FileInUse("C:\\held.dll"));
  EXPECT_FALSE(DeleteFile("C:\\held.dll"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(CopyFile("C:\\new.dll", "C:\\held.dll", false));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(MoveFileEx("C:\\new.dll", "C:\\held.dll", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadFile("C:\\held.dll"), "old");
  EXPECT_EQ(held.Release(), 0);
  EXPECT_FALSE(FileInUse("C:\\held.dll"));
  EXPECT_TRUE(MoveFileEx("C:\\new.dll", "C:\\held.dll", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadFile("C:\\held.dll"), "new");
}

TEST_F(WinFilesTest, CopyAndMoveFollowWindowsRules) {
  WriteFile("C:\\src.txt", "data");
  ASSERT_TRUE(SetFileAttributes("C:\\src.txt", FILE_ATTRIBUTE_SYSTEM));
  EXPECT_TRUE(CopyFile("C:\\src.txt", "C:\\copy.txt", true));
  EXPECT_EQ(ReadFile("C:\\copy.txt"), "data");
  EXPECT_EQ(GetFileAttributes("C:\\copy.txt"), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(FileAge("C:\\copy.txt"), FileAge("C:\\src.txt"));
  EXPECT_FALSE(CopyFile("C:\\src.txt", "C:\\copy.txt", true));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_FALSE(CopyFile("C:\\missing.txt", "C:\\x.txt", false));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(CopyFile("C:\\src.txt", "C:\\no folder\\x.txt", false));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(MoveFile("C:\\src.txt", "C:\\copy.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFile("C:\\src.txt", "C:\\moved.txt"));
  EXPECT_EQ(GetFileAttributes("C:\\moved.txt"), FILE_ATTRIBUTE_SYSTEM);
  EXPECT_FALSE(FileExists("C:\\src.txt"));
  EXPECT_TRUE(MoveFile("C:\\moved.txt", "C:\\MOVED.TXT"));  // a change of case only
}

TEST_F(WinFilesTest, FoldersAreMadeAndRemoved) {
  EXPECT_FALSE(CreateDirectory("C:\\x\\y"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(ForceDirectories("C:\\x\\y\\z"));
  EXPECT_TRUE(DirectoryExists("c:\\X\\Y\\Z"));
  EXPECT_FALSE(RemoveDirectory("C:\\x"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  ASSERT_TRUE(SetFileAttributes("C:\\x\\y\\z", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(RemoveDirectory("C:\\x\\y\\z"));
  EXPECT_TRUE(RemoveDirectory("C:\\x\\y"));
}

TEST_F(WinFilesTest, DatesHaveTwoSecondSteps) {
  WriteFile("C:\\d.txt", "");
  // 2001-02-03 04:05:07 local time, odd seconds are cut to the even second.
  const int32_t age =
      static_cast<int32_t>((21u << 25) | (2u << 21) | (3u << 16) | (4u << 11) | (5u << 5) | 3u);
  ASSERT_TRUE(FileSetDate("C:\\d.txt", age));
  EXPECT_EQ(FileAge("C:\\d.txt"), age);
  const double dt = FileDateToDateTime(age);
  EXPECT_NEAR(dt, 36925.0 + (4 * 3600 + 5 * 60 + 6) / 86400.0, 1e-9);
  EXPECT_EQ(DateTimeToFileDate(dt + 1.0 / 86400.0), age);  // 07 seconds -> 06
  EXPECT_EQ(DateTimeToFileDate(1.0), 0);                   // before 1980
  EXPECT_EQ(FileAge("C:\\missing"), -1);
}

TEST_F(WinFilesTest, DelayedMovesAreRecordedOnTheNTLineOnly) {
  EXPECT_TRUE(
      MoveFileEx("C:\\a.1", "C:\\a", MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_TRUE(MoveFileEx("C:\\gone", "", MOVEFILE_DELAY_UNTIL_REBOOT));
  const std::vector<TPendingRename> pending = PendingRenames();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].Source, "C:\\a.1");
  EXPECT_EQ(pending[0].Target, "C:\\a");
  EXPECT_TRUE(pending[0].ReplaceExisting);
  EXPECT_EQ(pending[1].Source, "C:\\gone");
  EXPECT_EQ(pending[1].Target, "");
  SetWindowsVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, "A");
  EXPECT_FALSE(MoveFileEx("C:\\b.1", "C:\\b", MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
}

TEST_F(WinFilesTest, MasksMatchAsOnWindows) {
  struct Case {
    const char* name;
    const char* mask;
    bool match;
  };
  const Case cases[] = {
      {"readme.txt", "*.*", true}, {"README", "*.*", true},    {"a.TXT", "*.txt", true},
      {"a.txt", "?.txt", true},    {"ab.txt", "?.txt", false}, {"data", "data.", true},
      {"a.b.c", "*.c", true},      {"abc", "a*c*", true},      {"abc", "b*", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << c.name << " " << c.mask;
}

TEST_F(WinFilesTest, IniFilesKeepCommentsAndIgnoreCase) {
  WriteFile(
      "C:\\WINDOWS\\setup.ini",
      "; comment\r\n[Main]\r\nName = \"Quoted value\"\r\nCount=$1F\r\n\r\n[Other]\r\nx=1\r\n");
  TIniFile ini("setup.ini");  // a bare name is in the Windows folder
  EXPECT_EQ(ini.ReadString("MAIN", "name", ""), "Quoted value");
  EXPECT_EQ(ini.ReadInteger("main", "COUNT", 0), 31);
  EXPECT_EQ(ini.ReadInteger("main", "missing", 7), 7);
  ini.WriteString("Main", "New", "v");
  ini.WriteBool("Third", "Flag", true);
  ini.DeleteKey("other", "X");
  EXPECT_EQ(ini.ReadSection("Main"), (std::vector<std::string>{"Name", "Count", "New"}));
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Main", "Other", "Third"}));
  EXPECT_TRUE(ini.ReadBool("third", "flag", false));
  ini.EraseSection("OTHER");
  EXPECT_FALSE(ini.SectionExists("Other"));
  const std::string text = ReadFile("C:\\WINDOWS\\setup.ini");
  EXPECT_EQ(text.rfind("; comment\r\n[Main]\r\n", 0), 0u);
}

}  // namespace
}  // namespace plat::win
