#include "setup/library/routines_FileSystem.h"

#include <gtest/gtest.h>

#include "platform/win/PeImageBuilder.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"
#include "setup/library/cmp_TInstallInformation.h"
#include "setup/library/routines_ExpandPaths.h"
#include "setup/library/routines_Registry.h"

namespace setup {
namespace {

namespace w = plat::win;

class FileSystemTest : public wintest::WinRootTest {};

class TFakeInstallFile : public plat::TComponent, public TInstallFileNaming {
 public:
  using plat::TComponent::TComponent;
};

TEST_F(FileSystemTest, AttributesBySet) {
  WriteFile("C:\\f.txt", "x");
  TTrevFileAttributesSet set;
  GetFileAttributesSet("C:\\f.txt", set);
  EXPECT_TRUE(set.Empty());
  SetFileAttributesFromSet("C:\\f.txt", {tfaReadOnly, tfaHidden, tfaCompressed});
  EXPECT_EQ(w::GetFileAttributes("C:\\f.txt"),
            w::FILE_ATTRIBUTE_READONLY | w::FILE_ATTRIBUTE_HIDDEN);
  GetFileAttributesSet("C:\\f.txt", set);
  EXPECT_EQ(set, TTrevFileAttributesSet{tfaReadOnly});
  GetFileAttributesSet("C:\\missing.txt", set);
  EXPECT_TRUE(set.Empty());
  try {
    SetFileAttributesFromSet("C:\\missing.txt", {tfaArchive});
    FAIL();
  } catch (const IEfcSetAttributes& e) {
    EXPECT_EQ(e.Message(),
              "Cannot set file attributes. Error : The system cannot find the file specified.");
  }
}

TEST_F(FileSystemTest, NearestExistingFolder) {
  ASSERT_TRUE(w::ForceDirectories("C:\\a"));
  EXPECT_EQ(NearestExistingFolder("C:\\a\\b\\c"), "C:\\a");
  EXPECT_EQ(NearestExistingFolder("C:\\a"), "C:\\a");
  EXPECT_EQ(NearestExistingFolder("Q:\\x\\y"), "");
  EXPECT_EQ(NearestExistingFolder("   "), "");
  EXPECT_EQ(NearestExistingFolder(""), "");
}

TEST_F(FileSystemTest, LibraryStrings) {
  WriteFile(w::GetSystemDirectory() + "\\shell32.dll",
            petest::BuildPe({{6, 9248 / 16 + 1, petest::StringBlock({{0, "Browse for Folder"}})}}));
  EXPECT_EQ(LoadLibraryString("shell32.dll", 9248), "Browse for Folder");
  EXPECT_EQ(LoadLibraryString("shell32", 9248), "Browse for Folder");
  EXPECT_EQ(LoadLibraryString("shell32.dll", 9249), "");
  EXPECT_EQ(LoadLibraryString("comdlg32.dll", 703), "");
}

TEST_F(FileSystemTest, UniqueComponentNames) {
  plat::TComponent owner(nullptr);
  auto* first = new TFakeInstallFile(&owner);
  auto* second = new TFakeInstallFile(&owner);
  EXPECT_EQ(MakeUniqueComponentName(*first, "readme.txt"), "IFreadme_txt");
  EXPECT_EQ(MakeUniqueComponentName(*second, "readme.txt"), "IFreadme_txt1");
  EXPECT_EQ(second->Name(), "IFreadme_txt1");
  auto* third = new TFakeInstallFile(&owner);
  EXPECT_EQ(MakeUniqueComponentName(*third, "my file-1.tar.gz"), "IFmy_file_1_tar_gz");
  auto* plain = new plat::TComponent(&owner);
  auto* plain2 = new plat::TComponent(&owner);
  EXPECT_EQ(MakeUniqueComponentName(*plain, "psFileContainer"), "psFileContainer");
  EXPECT_EQ(MakeUniqueComponentName(*plain2, "psFileContainer"), "psFileContainer1");
}

TEST_F(FileSystemTest, ShellFolderDefaults) {
  EXPECT_EQ(ProgramFilesPath(), "C:\\Program Files");
  EXPECT_EQ(CommonFilesPath(), "C:\\Program Files\\Common Files");
  EXPECT_EQ(ProgramsMenuPath().substr(ProgramsMenuPath().size() - 19), "Start Menu\\Programs");
  WriteRegString(hkCurrentUser, kShellFoldersKey, "Desktop", "C:\\My Desktop\\");
  EXPECT_EQ(DesktopPath(), "C:\\My Desktop");
  // Without the values the defaults below the Windows folder are used.
  w::TRegistry reg;
  ASSERT_TRUE(reg.DeleteKey(kShellFoldersKey));
  reg.SetRootKey(w::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey(kCurrentVersionKey, false));
  ASSERT_TRUE(reg.DeleteValue("ProgramFilesDir"));
  ASSERT_TRUE(reg.DeleteValue("CommonFilesDir"));
  EXPECT_EQ(StartMenuPath(), "C:\\WINDOWS\\Startmen");
  EXPECT_EQ(ProgramsMenuPath(), "C:\\WINDOWS\\Startmen\\Programs");
  EXPECT_EQ(DesktopPath(), "C:\\WINDOWS\\Desktop");
  EXPECT_EQ(StartupMenuPath(), "C:\\WINDOWS\\Startup");
  EXPECT_EQ(ProgramFilesPath(), "C:\\Program Files");
  EXPECT_EQ(CommonFilesPath(), "C:\\Program Files\\Common Files");
}

TEST(InstallInformation, DefaultsAndAssign) {
  TInstallInformation info;
  EXPECT_EQ(info.CompanyName(), "My Company");
  EXPECT_EQ(info.ProductName(), "My product");
  EXPECT_EQ(info.Version(), "1.0");
  TInstallInformation other;
  other.SetProductName("Zel");
  info.Assign(&other);
  EXPECT_EQ(info.ProductName(), "Zel");
  TRegistrationInformation reg;
  EXPECT_THROW(reg.Assign(&info), plat::EConvertError);
}

}  // namespace
}  // namespace setup
