// The kit's setup run end to end into a fresh virtual Windows.

#include "setup/app/frmMain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "setup/library/TestInstallChecks.h"
#include "platform/forms/Forms.h"
#include "platform/forms/FormsDriver.h"
#include "platform/win/Registry.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"
#include "setup/app/OstraDemoInstall.h"
#include "setup/library/cmp_TBackdrop.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TRotate3DLabel.h"
#include "setup/library/cmp_TStandardDlgs.h"
#include "setup/library/cmp_TTranslator.h"
#include "setup/library/cmp_TTrevCompress.h"

namespace setup {
namespace {

namespace w = plat::win;

const std::string kDest = "C:\\Program Files\\Ostra";

std::string Content(const TKitFile& f) {
  return "kit file " + std::to_string(f.Id) + " " + f.Name + "\n";
}

class SetupProgramTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    WinRootTest::SetUp();
    InstallLog().Clear();
    w::ForceDirectories(kKitSourceDir);
    w::ForceDirectories("C:\\dist");
    TTrevCompress archive(nullptr);
    archive.SetCompressedFile("C:\\dist\\files.1");
    bool append = false;
    for (const TKitFile& f : KitFiles()) {
      WriteFile(kKitSourceDir + "\\" + f.Name, Content(f));
      archive.FilesToProcess().Add(kKitSourceDir + "\\" + f.Name);
      archive.Compress(append, f.Id);
      append = true;
    }
  }
  void TearDown() override {
    plat::FreeApplication();
    SetProgramArguments({});
    WinRootTest::TearDown();
  }

  static void Write(w::HKEY root, const std::string& key, const std::string& name,
                    const std::string& value) {
    w::TRegistry reg;
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey(key, true));
    reg.WriteString(name, value);
  }
  static std::string Read(w::HKEY root, const std::string& key, const std::string& name) {
    w::TRegistry reg;
    reg.SetRootKey(root);
    if (!reg.OpenKey(key, false) || !reg.ValueExists(name)) return "<none>";
    return reg.ReadString(name);
  }
  void SeedDelphi5() {
    Write(w::HKEY_LOCAL_MACHINE, "\\software\\Borland\\Delphi\\5.0", "RootDir", "C:\\D5");
    Write(w::HKEY_CURRENT_USER, "\\software\\Borland\\Delphi\\5.0\\Known Packages",
          "C:\\D5\\Bin\\dclstd50.bpl", "Standard Components");
    Write(w::HKEY_CURRENT_USER, "\\software\\Borland\\Delphi\\5.0\\Library", "Search Path",
          "$(DELPHI)\\Lib;$(DELPHI)\\Bin");
    Write(w::HKEY_CURRENT_USER, "\\software\\Borland\\Delphi\\5.0\\Palette", "Data Access",
          "TZelTable");
    w::ForceDirectories("C:\\D5\\Help");
    WriteFile("C:\\D5\\Help\\delphi5.ohl", ":Index Delphi=delphi5.hlp\r\n");
    WriteFile("C:\\D5\\Help\\delphi5.gid", "cache");
  }
  static void Run(std::unique_ptr<plat::TFormsDriver> driver,
                  const std::string& source = "-sC:\\dist") {
    plat::Application()->SetDriver(std::move(driver));
    RunOstraDemoInstall({source});
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
};

TEST_F(SetupProgramTest, InstallsTheKitAndRegistersItWithDelphi5) {
  SeedDelphi5();
  Run(std::make_unique<plat::TAutomaticDriver>());
  EXPECT_TRUE(plat::Application()->Terminated());

  for (const TKitFile& f : KitFiles()) {
    std::string dir = kDest;
    if (f.Directory == "idMiscellaneous") dir += "\\Uninstall";
    if (f.Directory == "UtilsDir") dir += "\\Utils";
    if (f.Directory == "Delphi5") dir += "\\Delphi5";
    if (f.Directory == "HelpDir") dir += "\\Help";
    if (f.Directory == "DemoDir") dir += "\\Demo";
    if (f.Directory == "SysDir") dir = w::GetSystemDirectory();
    if (f.Id == 0) {
      EXPECT_TRUE(w::FileExists(dir + "\\" + f.Name)) << f.Name;
    } else {
      EXPECT_EQ(ReadFile(dir + "\\" + f.Name), Content(f)) << dir << "\\" << f.Name;
    }
  }
  EXPECT_EQ(Read(w::HKEY_LOCAL_MACHINE, "\\Software\\Kestavo Software\\Ostra", "InstallPath"),
            kDest);
  EXPECT_NE(Read(w::HKEY_LOCAL_MACHINE,
                 "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostra Database Engine",
                 "UninstallString"),
            "<none>");
  EXPECT_EQ(Read(w::HKEY_LOCAL_MACHINE, "\\Software\\Microsoft\\Windows\\Help", "ostra.hlp"),
            kDest + "\\Help");

  const std::string user = "\\software\\Borland\\Delphi\\5.0";
  const std::string package = kDest + "\\Delphi5\\dclzel15d5.bpl";
  EXPECT_EQ(Read(w::HKEY_CURRENT_USER, user + "\\Known Packages", package),
            "Ostra Database Engine");
  EXPECT_EQ(Read(w::HKEY_CURRENT_USER, user + "\\Known Packages", "C:\\D5\\Bin\\dclstd50.bpl"),
            "Standard Components");
  EXPECT_EQ(Read(w::HKEY_CURRENT_USER, user + "\\Library", "Search Path"),
            "$(DELPHI)\\Lib;$(DELPHI)\\Bin;" + kDest + "\\Delphi5");
  EXPECT_EQ(Read(w::HKEY_CURRENT_USER, user + "\\Palette", "Data Access"),
            "TZelTable;TZelDatabase;TZelQuery");
  EXPECT_EQ(ReadFile("C:\\D5\\Help\\delphi5.ohl"),
            ":Index Delphi=delphi5.hlp\r\n:Link ostra.hlp\r\n");
  EXPECT_FALSE(w::FileExists("C:\\D5\\Help\\delphi5.gid"));

  const std::vector<std::string> log = Lines(ReadFile(kDest + "\\instlog.txt"));
  const std::vector<std::string> expected = {
      "Commencing Installation - Ostra Database Engine",
      "Starting find products",
      "Found Delphi 5 installation",
      "Looking for: \\software\\Borland\\C++Builder\\6.0",
      "Finished finding products",
      "Install1AfterInitialized. Moving Dir to: " + kDest,
      "Install1AfterInitialized",
      "Delphi Ver Dlg skip - True",
      "Installation Settings",
      "",
      "Ostra Database Engine V153",
      "Evaluation version",
      "",
      "Product Versions to install:",
      "     Delphi 5",
      "",
      "Installation directory:",
      kDest,
      "  ",
      "Installing product. Product - Delphi 5 Starting",
      "Install into palette. Product - Delphi 5. Found Reg Key",
      "Install into palette. Product - Delphi 5. Existing components: TZelTable",
      "Install into palette. Product - Delphi 5. Updating Registry",
      "Install into palette. Product - Delphi 5. Completed",
      "Install into VCL. Product - Delphi 5.Installing component: " + package,
      "Adding package: " + package,
      "Install into VCL. Updating library path",
      "Install into VCL. Existing search path: $(DELPHI)\\Lib;$(DELPHI)\\Bin",
      "Install into VCL. Installing component path: " + kDest + "\\Delphi5",
      "Install into VCL. Updating search path to: $(DELPHI)\\Lib;$(DELPHI)\\Bin;" + kDest +
          "\\Delphi5",
      "Install into VCL. Product - Delphi 5. Completed",
      "Installing product. Product - Delphi 5 Done"};
  EXPECT_EQ(log, expected);
}

TEST_F(SetupProgramTest, AScriptSeesThePagesInOrderAndASecondRunProposesTheFormerPath) {
  SeedDelphi5();
  auto* script = new plat::TScriptedDriver(
      "expect caption 'Welcome'\n"
      "expect TextLabel 'This program will install a copy of the Ostra evaluation version for "
      "Delphi 5 onto your computer.'\n"
      "click Next >\n"
      "expect caption 'Software license agreement'\n"
      "click Accept >\n"
      "expect caption 'Choose Destination Location'\n"
      "type DestinationEdit 'C:\\Tools\\Ostra'\n"
      "click Next >\n"
      "expect caption 'Confirm install details'\n"
      "click Next >\n"
      "expect caption 'Installation successful'\n"
      "click Next >\n"
      "expect caption 'Installation complete'\n"
      "click Finish\n");
  Run(std::unique_ptr<plat::TFormsDriver>(script));
  EXPECT_EQ(script->Remaining(), 0);
  EXPECT_TRUE(w::FileExists("C:\\Tools\\Ostra\\readme.txt"));
  EXPECT_TRUE(w::FileExists("C:\\Tools\\Ostra\\instlog.txt"));

  // Again: the destination page shows where the kit went.
  plat::FreeApplication();
  InstallLog().Clear();
  auto* again = new plat::TScriptedDriver(
      "click Next >\n"
      "click Accept >\n"
      "expect caption 'Choose Destination Location'\n"
      "expect DestinationEdit 'C:\\Tools\\Ostra'\n"
      "click Browse\n"
      "folder 'C:\\Apps'\n"
      "expect DestinationEdit 'C:\\Apps\\Ostra'\n"
      "click Cancel\n");
  w::ForceDirectories("C:\\Apps");
  Run(std::unique_ptr<plat::TFormsDriver>(again));
  EXPECT_EQ(again->Remaining(), 0);
  // The dialog opened on the former destination, which stays.
  EXPECT_TRUE(w::DirectoryExists("C:\\Tools\\Ostra"));
}

TEST_F(SetupProgramTest, WithoutAnIDETheIDEPageSaysSoAndStays) {
  auto* script = new plat::TScriptedDriver(
      "click Next >\n"
      "click Accept >\n"
      "expect caption 'Delphi version selection'\n"
      "click Next >\n"
      "answer OK\n"
      "expect caption 'Delphi version selection'\n"
      "click Cancel\n");
  Run(std::unique_ptr<plat::TFormsDriver>(script));
  EXPECT_EQ(script->Remaining(), 0);
  const std::string message =
      "message custom 'No Delphi products are selected or the correct version of Delphi is "
      "not present on this system. Installation is unable to proceed.' -> OK";
  EXPECT_NE(std::find(script->Transcript().begin(), script->Transcript().end(), message),
            script->Transcript().end());
  EXPECT_FALSE(w::FileExists(kDest + "\\readme.txt"));
}

// The main form's text holds the dialog managers, the dialog components,
// the translator and the visuals; FormCreate only renames the product.
TEST_F(SetupProgramTest, TheDescriptionHoldsTheDialogsTranslatorAndVisuals) {
  RegisterSetupClasses();
  auto* form = new TMainForm(plat::Application());
  struct Dialog {
    const char* Name;
    const char* Manager;  // "" for none
    TManagerType Type;
    int32_t Order;
  };
  const Dialog dialogs[] = {
      {"LicenseDlg", "DialogManager", TManagerType::dmBeforeInstall, 10},
      {"ReadmeDlg1", "DialogManager1", TManagerType::dmAfterGoodInstall, 10},
      {"BadInstallationDlg", "DialogManager2", TManagerType::dmAfterBadInstall, 10},
      {"CopyFileDlg", "DialogManager3", TManagerType::dmDuringCopyFiles, -1},
      {"ChangeDiskDlg", "DialogManager4", TManagerType::dmChangeDisk, -1},
      {"RebootDlg", "DialogManager5", TManagerType::dmReboot, 10},
      {"InstallStatusDlg", "", TManagerType::dmBeforeInstall, -1},
  };
  for (const Dialog& d : dialogs) {
    SCOPED_TRACE(d.Name);
    auto* dialog = dynamic_cast<TCustomBaseInstallDlg*>(form->FindComponent(d.Name));
    ASSERT_NE(dialog, nullptr);
    if (*d.Manager == 0) {
      EXPECT_EQ(dialog->DialogManager(), nullptr);
      continue;
    }
    auto* manager = dynamic_cast<TDialogManager*>(form->FindComponent(d.Manager));
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(dialog->DialogManager(), manager);
    EXPECT_EQ(manager->ManagerType(), d.Type);
    EXPECT_EQ(manager->Container(), form->Install1());
    if (d.Order > 0) {
      EXPECT_EQ(dialog->Order(), d.Order);
    }
  }
  auto* readme = dynamic_cast<TReadmeDlg*>(form->FindComponent("ReadmeDlg1"));
  ASSERT_NE(readme, nullptr);
  EXPECT_EQ(readme->ReadmeText().Strings(0),
            "The engine's design package is registered with the IDEs you chose.");
  EXPECT_NE(dynamic_cast<TTranslator*>(form->FindComponent("MainTranslator")), nullptr);
  TRotate3DLabel* label = form->ProductLabel();
  EXPECT_EQ(label->Caption(), "Ostra Database Engine");
  EXPECT_EQ(label->Parent(), form->FindComponent("Backdrop"));
}

// The program started with -b beside its BUILD.INF builds the kit's set;
// an install from that set alone puts the kit in place.
TEST_F(SetupProgramTest, MinusBBuildsASetThatAFollowingInstallConsumes) {
  SeedDelphi5();
  // The installer library on the IDE's search path, with its loading program.
  w::ForceDirectories("C:\\D5\\Lib");
  WriteFile("C:\\D5\\Lib\\T32V52.TXT", "");
  WriteFile("C:\\D5\\Lib\\QuillaneLoadProgram.exe", "the loading program\n");
  const std::string program = "C:\\Build\\OstraDemoInstall.exe";
  w::ForceDirectories("C:\\Build");
  ASSERT_TRUE(w::CopyFile(w::WinPathFromHost(ZEL_SETUP_PROGRAM), program, false));
  std::filesystem::permissions(w::HostPath(program), std::filesystem::perms::owner_all);
  WriteFile("C:\\Build\\BUILD.INF", "C:\\out\r\n");
  ::setenv("ZEL_UI", "auto", 1);
  const int code = installtest::StartProgram(w::HostPath(program), "-b");
  ::unsetenv("ZEL_UI");
  ASSERT_EQ(code, 0);
  EXPECT_EQ(ReadFile("C:\\out\\setup.exe").substr(0, 20), "the loading program\n");
  TTrevCompress files(nullptr);
  files.SetCompressedFile("C:\\out\\files.1");
  EXPECT_EQ(files.FileCount(), static_cast<int32_t>(KitFiles().size()));

  // Neither the sources nor the demo's archive are left to take files from.
  std::filesystem::remove_all(w::HostPath(kKitSourceDir));
  std::filesystem::remove_all(w::HostPath("C:\\dist"));
  Run(std::make_unique<plat::TAutomaticDriver>(), "-sC:\\out");
  for (const TKitFile& f : KitFiles()) {
    if (f.Directory == "MainDir") {
      EXPECT_EQ(ReadFile(kDest + "\\" + f.Name), Content(f)) << f.Name;
    }
  }
  EXPECT_EQ(ReadFile(kDest + "\\Delphi5\\dclzel15d5.bpl"), Content(KitFiles()[8]));
  EXPECT_EQ(Read(w::HKEY_CURRENT_USER, "\\software\\Borland\\Delphi\\5.0\\Palette", "Data Access"),
            "TZelTable;TZelDatabase;TZelQuery");
}

}  // namespace
}  // namespace setup
