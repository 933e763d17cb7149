#include "platform/win/WinPaths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/win/WinTestRoot.h"

namespace plat::win {
namespace {

using wintest::WinRootTest;

class WinPathsTest : public WinRootTest {};

TEST_F(WinPathsTest, MapsDrivesAndFindsExistingNamesIgnoringCase) {
  ASSERT_EQ(::mkdir((Root() + "/C/Program Files/Kit").c_str(), 0777), 0);
  struct Case {
    const char* win;
    std::string host;
  };
  const Case cases[] = {
      {"C:\\", Root() + "/C"},
      {"c:\\PROGRAM FILES\\kit\\New File.TXT", Root() + "/C/Program Files/Kit/New File.TXT"},
      {"C:/Program Files/KIT/a/b", Root() + "/C/Program Files/Kit/a/b"},
      {"\\windows\\SYSTEM32", Root() + "/C/WINDOWS/system32"},
      {"C:\\WINDOWS\\..\\..\\..\\x", Root() + "/C/x"},
      {"C:\\a\\.\\b\\..\\c", Root() + "/C/a/c"},
      {"A:\\disk1", Root() + "/A/disk1"},
      {"Z:\\etc\\hosts", "/etc/hosts"},
      {"z:\\", "/"},
  };
  for (const Case& c : cases) EXPECT_EQ(HostPath(c.win), c.host) << c.win;
}

TEST_F(WinPathsTest, HostPathsMapBackToWindowsPaths) {
  EXPECT_EQ(WinPathFromHost(Root() + "/C/Program Files/x.txt"), "C:\\Program Files\\x.txt");
  EXPECT_EQ(WinPathFromHost(Root() + "/A"), "A:\\");
  EXPECT_EQ(WinPathFromHost("/usr/bin/env"), "Z:\\usr\\bin\\env");
  // A folder of the root that is not a drive is seen through Z:.
  EXPECT_EQ(WinPathFromHost(Root() + "/Registry/x.reg").substr(0, 3), "Z:\\");
}

TEST_F(WinPathsTest, FilePartsFollowWindowsRules) {
  struct Case {
    const char* path;
    const char* dir;
    const char* name;
    const char* ext;
    const char* drive;
  };
  const Case cases[] = {
      {"C:\\a\\b.txt", "C:\\a", "b.txt", ".txt", "C:"},
      {"C:\\b.txt", "C:\\", "b.txt", ".txt", "C:"},
      {"C:b.txt", "C:", "b.txt", ".txt", "C:"},
      {"a.tar.gz", "", "a.tar.gz", ".gz", ""},
      {"C:\\dir.x\\name", "C:\\dir.x", "name", "", "C:"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractWinFileDir(c.path), c.dir) << c.path;
    EXPECT_EQ(ExtractWinFileName(c.path), c.name) << c.path;
    EXPECT_EQ(ExtractWinFileExt(c.path), c.ext) << c.path;
    EXPECT_EQ(ExtractWinFileDrive(c.path), c.drive) << c.path;
  }
  EXPECT_EQ(ExtractWinFilePath("C:\\a\\b.txt"), "C:\\a\\");
}

TEST_F(WinPathsTest, NamesCompareIgnoringCaseBeyondAscii) {
  EXPECT_TRUE(SameName("Program Files", "PROGRAM files"));
  EXPECT_TRUE(SameName("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"));  // été / ÉTÉ
  EXPECT_FALSE(SameName("a", "b"));
}

}  // namespace
}  // namespace plat::win
