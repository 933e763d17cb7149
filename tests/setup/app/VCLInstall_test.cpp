#include "setup/app/VCLInstall.h"

#include <gtest/gtest.h>

#include "platform/win/Registry.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinTestRoot.h"

namespace {

using plat::win::HKEY_CURRENT_USER;
using plat::win::HKEY_LOCAL_MACHINE;

class PackageInstallerTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    WinRootTest::SetUp();
    setup::InstallLog().Clear();
  }

  static void Write(plat::win::HKEY root, const std::string& key, const std::string& name,
                    const std::string& value) {
    plat::win::TRegistry reg;
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey(key, true));
    reg.WriteString(name, value);
  }
  static std::string Read(plat::win::HKEY root, const std::string& key, const std::string& name) {
    plat::win::TRegistry reg;
    reg.SetRootKey(root);
    if (!reg.OpenKey(key, false)) return "<no key>";
    if (!reg.ValueExists(name)) return "<no value>";
    return reg.ReadString(name);
  }
  // An installed Delphi 5 rooted at C:\D5, with its user keys.
  void SeedDelphi5() {
    Write(HKEY_LOCAL_MACHINE, "\\software\\Borland\\Delphi\\5.0", "RootDir", "C:\\D5");
    Write(HKEY_CURRENT_USER, "\\software\\Borland\\Delphi\\5.0\\Known Packages",
          "C:\\D5\\dclstd50.bpl", "Standard");
    Write(HKEY_CURRENT_USER, "\\software\\Borland\\Delphi\\5.0\\Library", "Search Path",
          "$(DELPHI)\\Lib;$(DELPHI)\\Bin");
    Write(HKEY_CURRENT_USER, "\\software\\Borland\\Delphi\\5.0\\Palette", "Standard", "TButton");
  }
  static bool HasLine(const std::string& line) {
    for (const auto& l : setup::InstallLog().Lines()) {
      if (l == line) return true;
    }
    return false;
  }
};

TEST_F(PackageInstallerTest, DetectsIDEsInItsOrderAndLogsThem) {
  Write(HKEY_LOCAL_MACHINE, "\\software\\Borland\\Delphi\\3.0", "RootDir", "C:\\D3");
  Write(HKEY_LOCAL_MACHINE, "\\software\\Borland\\Delphi\\7.0", "RootDir", "C:\\D7");
  Write(HKEY_LOCAL_MACHINE, "\\software\\Borland\\C++Builder\\6.0", "RootDir", "C:\\CB6");
  setup::TPackageInstaller installer;
  const std::vector<std::string> expected = {
      "Starting find products",       "Found Delphi 7 installation",
      "Found Delphi 3 installation",  "Looking for: \\software\\Borland\\C++Builder\\6.0",
      "Found Builder 6 installation", "Finished finding products"};
  EXPECT_EQ(setup::InstallLog().Lines(), expected);
  EXPECT_TRUE(installer.Query(0).Found);
  EXPECT_EQ(installer.Query(0).HelpFile, "C:\\D3\\Help\\Delphi3.cfg");
  EXPECT_EQ(installer.Query(4).RegKey, "\\software\\Borland\\C++Builder\\6.0");
  EXPECT_EQ(installer.Query(4).HelpFile, "C:\\CB6\\Help\\bcb6.ohl");
  EXPECT_EQ(installer.Query(5).RootDir, "C:\\D7");
  for (int i : {1, 2, 3}) EXPECT_FALSE(installer.Query(i).Found) << i;
}

TEST_F(PackageInstallerTest, PaletteAddsMissingEntriesOnceInListOrder) {
  SeedDelphi5();
  const std::string key = "\\SOFTWARE\\Borland\\Delphi\\5.0\\Palette";
  const std::vector<std::string> components = {"TZelDatabase", "TZelTable", "TZelQuery"};
  struct Case {
    const char* before;  // nullptr: no value
    const char* after;
  };
  const Case cases[] = {
      {nullptr, "TZelDatabase;TZelTable;TZelQuery"},
      {"TZelTable", "TZelTable;TZelDatabase;TZelQuery"},
      {"TZelTable;", "TZelTable;TZelDatabase;TZelQuery"},
      // A name inside a longer entry is not the entry.
      {"TZelTableEx;tzelquery", "TZelTableEx;tzelquery;TZelDatabase;TZelTable"},
      {"TZelQuery;TZelDatabase;TZelTable", "TZelQuery;TZelDatabase;TZelTable"},
  };
  setup::TPackageInstaller installer;
  for (const Case& c : cases) {
    plat::win::TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(key, false));
    reg.DeleteValue("Data Access");
    if (c.before) reg.WriteString("Data Access", c.before);
    installer.Palette(2, "Data Access", components);
    EXPECT_EQ(Read(HKEY_CURRENT_USER, key, "Data Access"), c.after)
        << (c.before ? c.before : "none");
  }
  EXPECT_TRUE(HasLine("Install into palette. Product - Delphi 5. Existing components: TZelTable"));
  EXPECT_TRUE(HasLine("Install into palette. Product - Delphi 5. Completed"));
}

TEST_F(PackageInstallerTest, PaletteWithoutItsKeyChangesNothing) {
  Write(HKEY_LOCAL_MACHINE, "\\software\\Borland\\Delphi\\4.0", "RootDir", "C:\\D4");
  setup::TPackageInstaller installer;
  installer.Palette(1, "Data Access", {"TZelTable"});
  plat::win::TRegistry reg;
  reg.SetRootKey(HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.KeyExists("\\SOFTWARE\\Borland\\Delphi\\4.0\\Palette"));
}

TEST_F(PackageInstallerTest, PackageReplacesFormerOnesAndJoinsTheSearchPath) {
  SeedDelphi5();
  const std::string user = "\\software\\Borland\\Delphi\\5.0";
  Write(HKEY_CURRENT_USER, user + "\\Known Packages", "C:\\Old\\DCLZEL13D5.BPL", "Zel 1.3");
  Write(HKEY_CURRENT_USER, user + "\\Disabled Packages", "C:\\Old\\dclzel14d5.bpl", "Zel 1.4");
  Write(HKEY_CURRENT_USER, user + "\\Disabled Packages", "C:\\D5\\other.bpl", "Other");
  // The former install's folder holds a former package: its entry goes.
  ASSERT_TRUE(plat::win::ForceDirectories("C:\\Old"));
  WriteFile("C:\\Old\\dclzel13d5.bpl", "old");
  Write(HKEY_CURRENT_USER, user + "\\Library", "Search Path",
        "$(DELPHI)\\Lib; C:\\Old\\ ;$(DELPHI)\\Bin");

  setup::TPackageInstaller installer;
  const std::string package = "C:\\Program Files\\Ostra\\Delphi5\\dclzel15d5.bpl";
  const std::string list = setup::TPackageInstaller::OldPackages(2);
  EXPECT_EQ(installer.RegisterPackage(2, package, list, "Ostra Database Engine"), -1);

  EXPECT_EQ(Read(HKEY_CURRENT_USER, user + "\\Known Packages", package), "Ostra Database Engine");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, user + "\\Known Packages", "C:\\Old\\DCLZEL13D5.BPL"),
            "<no value>");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, user + "\\Known Packages", "C:\\D5\\dclstd50.bpl"), "Standard");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, user + "\\Disabled Packages", "C:\\Old\\dclzel14d5.bpl"),
            "<no value>");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, user + "\\Disabled Packages", "C:\\D5\\other.bpl"), "Other");
  const std::string path = "$(DELPHI)\\Lib;$(DELPHI)\\Bin;C:\\Program Files\\Ostra\\Delphi5";
  EXPECT_EQ(Read(HKEY_CURRENT_USER, user + "\\Library", "Search Path"), path);
  EXPECT_TRUE(HasLine("Deleting old package: C:\\Old\\DCLZEL13D5.BPL"));
  EXPECT_TRUE(HasLine("Adding package: " + package));
  EXPECT_TRUE(HasLine("Install into VCL. Updating search path to: " + path));

  // Once more: nothing left to change.
  installer.RegisterPackage(2, package, list, "Ostra Database Engine");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, user + "\\Library", "Search Path"), path);
  EXPECT_TRUE(HasLine("Install into VCL. Search path not required to update"));
  EXPECT_EQ(setup::InstallLog().Lines().back(), "Install into VCL. Product - Delphi 5. Completed");
}

TEST_F(PackageInstallerTest, PackageWithoutKnownPackagesLogsAndChangesNothing) {
  Write(HKEY_LOCAL_MACHINE, "\\software\\Borland\\Delphi\\5.0", "RootDir", "C:\\D5");
  const std::string user = "\\software\\Borland\\Delphi\\5.0";
  Write(HKEY_CURRENT_USER, user + "\\Library", "Search Path", "$(DELPHI)\\Lib");
  setup::TPackageInstaller installer;
  installer.RegisterPackage(2, "C:\\Kit\\dclzel15d5.bpl", setup::TPackageInstaller::OldPackages(2),
                            "x");
  EXPECT_EQ(setup::InstallLog().Lines().back(),
            "Error: Unable to open key:" + user + "\\Known Packages");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, user + "\\Library", "Search Path"), "$(DELPHI)\\Lib");
  plat::win::TRegistry reg;
  reg.SetRootKey(HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.KeyExists(user + "\\Known Packages"));
  // Saved at once: the trace is on disk.
  EXPECT_NE(ReadFile(setup::InstallLog().FileName()).find("Error: Unable to open key:"),
            std::string::npos);
}

TEST_F(PackageInstallerTest, HelpIndexGetsOneLinkAndLosesItsCache) {
  SeedDelphi5();
  ASSERT_TRUE(plat::win::ForceDirectories("C:\\D5\\Help"));
  setup::TPackageInstaller installer;
  struct Case {
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {":Index Delphi=delphi5.hlp\r\n", ":Index Delphi=delphi5.hlp\r\n:Link ostra.hlp\r\n"},
      // Linked in the third-party section already: left as it is.
      {":Link ostra.hlp\r\n;Third-Party Help\r\n:Link other.hlp\r\n",
       ":Link ostra.hlp\r\n;Third-Party Help\r\n:Link other.hlp\r\n:Link ostra.hlp\r\n"},
      {";Third-party Help\r\n:Link ostra.hlp\r\n:Link other.hlp\r\n",
       ";Third-party Help\r\n:Link ostra.hlp\r\n:Link other.hlp\r\n"},
  };
  for (const Case& c : cases) {
    WriteFile("C:\\D5\\Help\\delphi5.ohl", c.before);
    WriteFile("C:\\D5\\Help\\delphi5.gid", "cache");
    EXPECT_EQ(installer.RegisterHelp(2, "ostra.hlp"), 1);
    EXPECT_EQ(ReadFile("C:\\D5\\Help\\delphi5.ohl"), c.after);
    EXPECT_FALSE(plat::win::FileExists("C:\\D5\\Help\\delphi5.gid"));
  }
  plat::win::DeleteFile("C:\\D5\\Help\\delphi5.ohl");
  EXPECT_EQ(installer.RegisterHelp(2, "ostra.hlp"), -1);
  EXPECT_EQ(installer.RegisterHelp(0, "ostra.hlp"), -1);  // not installed
}

TEST_F(PackageInstallerTest, LogGoesToTheDestinationWhenItExists) {
  setup::LogAndSave("one");
  EXPECT_EQ(ReadFile("C:\\WINDOWS\\TEMP\\instlog.txt"), "one\r\n");
  setup::InstallLog().SetLogDir("C:\\Dest");
  setup::LogAndSave("two");  // not there yet: still the temporary folder
  EXPECT_EQ(ReadFile("C:\\WINDOWS\\TEMP\\instlog.txt"), "one\r\ntwo\r\n");
  ASSERT_TRUE(plat::win::ForceDirectories("C:\\Dest"));
  setup::LogAndSave("three");
  EXPECT_EQ(ReadFile("C:\\Dest\\instlog.txt"), "one\r\ntwo\r\nthree\r\n");
}

}  // namespace
