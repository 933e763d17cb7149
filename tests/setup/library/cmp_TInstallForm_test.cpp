// An install described in form text, read with its form and run by the
// application under the automatic driver, into a fresh virtual Windows.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Forms.h"
#include "platform/forms/FormsDriver.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Lists.h"
#include "platform/win/Registry.h"
#include "platform/win/Restart.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TInstallFile.h"
#include "setup/library/cmp_TInstallRegistry.h"
#include "setup/library/cmp_TTranslator.h"
#include "setup/library/cmp_TTrevCompress.h"
#include "setup/library/cmp_TUninstallEXE.h"
#include "TestInstall.h"
#include "TestInstallChecks.h"

namespace setup {
namespace {

namespace w = plat::win;
using installtest::KeyExists;
using installtest::Reg;

// The kit: two directories, files taken from the archive by their ids, the
// uninstaller, registry entries (one through the specifier stored for the
// "Bin" directory) and the standard specifiers the form has.
const char* const kKitText = R"(object KitForm: TKitForm
  Caption = 'Ostra Kit'
  OnActivate = FormActivate
  object Install: TInstall
    DestDir = '\Ostra Kit'
    DestDirType = psProgramFiles
    ArchiveFileType = psMainArchiveFile
    Information.CompanyName = 'Ostra'
    Information.ProductName = 'Ostra Kit'
    Information.Version = '1.5'
    OnAfterInitialized = InstallInitialized
    #REBOOT#
  end
  object dirBin: TInstallDirectory
    DestDir = '\Bin'
    DestDirType = psContainerDestDir
    Container = Install
    ArchiveFileType = psContainerArchiveFile
    Description = 'Program'
  end
  object dirHelp: TInstallDirectory
    DestDir = '\Help'
    DestDirType = psContainerDestDir
    Container = Install
    ArchiveFileType = psContainerArchiveFile
    Description = 'Help'
  end
  object fileEngine: TInstallFile
    DestDirType = psContainerDestDir
    Container = dirBin
    ArchiveFileType = psContainerArchiveFile
    FileName = 'engine.dll'
    IncludeFromDir = 'C:\src'
    DestName = 'engine.dll'
    UniqueID = 7
  end
  object fileHelp: TInstallFile
    DestDirType = psContainerDestDir
    Container = dirHelp
    ArchiveFileType = psContainerArchiveFile
    FileName = 'kit.hlp'
    IncludeFromDir = 'C:\src'
    DestName = 'kit.hlp'
    RegisterAsHelp = True
    UniqueID = 3
  end
  object fileReadme: TInstallFile
    DestDirType = psContainerDestDir
    Container = Install
    ArchiveFileType = psContainerArchiveFile
    FileName = 'readme.txt'
    IncludeFromDir = 'C:\src'
    DestName = 'readme.txt'
    UniqueID = 12
  end
  object fileUninstall: TUninstallEXE
    DestDirType = psContainerDestDir
    Container = Install
    ArchiveFileType = psContainerArchiveFile
    FileName = 'uninstall.exe'
    IncludeFromDir = 'C:\src'
    DestName = 'uninstall.exe'
    UniqueID = 0
  end
  object regKit: TInstallRegistry
    Container = Install
    KeySpecifierType = ksProductName
    Entries = <
      item
        Ident = 'InstallPath'
        Text = '%p'
        PathSpecifier = psBin
      end
      item
        Ident = 'Version'
        Text = '%p'
      end
      item
        Ident = 'Build'
        EntryType = retInteger
        Integer = 42
      end
      item
        Ident = 'Shared'
        EntryType = retBoolean
        Boolean = True
      end>
  end
  object psBin: TpsFileContainer
    FileContainer = dirBin
  end
end
)";

// The archive ids the text gives the kit's files.
int32_t IdOf(const std::string& file) {
  return file == "engine.dll" ? 7 : file == "kit.hlp" ? 3 : file == "readme.txt" ? 12 : 0;
}

class TKitForm : public plat::TForm {
 public:
  TKitForm(plat::TComponent* owner, const std::string& text) : plat::TForm(owner) {
    Methods().Add<void(plat::TObject*)>("FormActivate", [this](plat::TObject*) { ++Activations; });
    Methods().Add<void(TCustomInstall*)>("InstallInitialized", [this](TCustomInstall* install) {
      RecordDuringRun = install->RecordKey();
    });
    LoadFormText({text});
  }
  std::string ClassName() const override { return "TKitForm"; }
  int Activations = 0;
  std::string RecordDuringRun;
};

class InstallFormTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    WinRootTest::SetUp();
    RegisterInstallClasses();
    w::ForceDirectories("C:\\src");
    w::ForceDirectories("C:\\dist");
    TTrevCompress archive(nullptr);
    archive.SetCompressedFile("C:\\dist\\files.1");
    bool append = false;
    for (const auto& [name, content] : installtest::KitSources()) {
      std::ofstream out(w::HostPath("C:\\src\\" + name), std::ios::binary);
      out << content;
      out.close();
      archive.FilesToProcess().Add("C:\\src\\" + name);
      archive.Compress(append, IdOf(name));
      append = true;
    }
    SetProgramArguments({"-sC:\\dist"});
  }
  void TearDown() override {
    plat::FreeApplication();
    SetProgramArguments({});
    WinRootTest::TearDown();
  }

  // Makes the form as the program does and runs the application.
  TKitForm* RunKit(const std::string& text) {
    TKitForm* form = new TKitForm(plat::Application(), text);
    plat::Application()->SetMainForm(form);
    plat::Application()->Run();
    return form;
  }

  static std::string KitText(const std::string& reboot) {
    std::string text = kKitText;
    text.replace(text.find("#REBOOT#"), 8, reboot);
    return text;
  }

  // The status lines of the driver's transcript.
  static std::vector<std::string> Statuses() {
    std::vector<std::string> lines;
    for (const std::string& line : plat::Application()->Driver().Transcript()) {
      if (line.rfind("status ", 0) == 0) lines.push_back(line);
    }
    return lines;
  }
};

TEST_F(InstallFormTest, ADescriptionReadFromFormTextInstallsEndToEnd) {
  plat::Application()->SetDriver(std::make_unique<plat::TAutomaticDriver>());
  // The form's own handler runs on its first activation too, before the run.
  TKitForm* form = RunKit(KitText(""));
  auto* install = dynamic_cast<TCustomInstall*>(form->FindComponent("Install"));
  ASSERT_NE(install, nullptr);
  EXPECT_EQ(form->Activations, 1);
  EXPECT_EQ(install->MainForm(), form);
  EXPECT_TRUE(plat::Application()->Terminated());
  EXPECT_FALSE(install->InRun());

  // The specifier stored for a directory is its own; the others made theirs.
  auto* bin = dynamic_cast<TInstallDirectory*>(form->FindComponent("dirBin"));
  auto* help = dynamic_cast<TInstallDirectory*>(form->FindComponent("dirHelp"));
  ASSERT_NE(bin, nullptr);
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(bin->PathSpecifier(), form->FindComponent("psBin"));
  ASSERT_NE(help->PathSpecifier(), nullptr);
  ASSERT_NE(install->PathSpecifier(), nullptr);
  EXPECT_NE(help->PathSpecifier(), install->PathSpecifier());
  int32_t specifiers = 0;
  for (int32_t i = 0; i < form->ComponentCount(); ++i) {
    if (auto* s = dynamic_cast<TpsFileContainer*>(form->Components(i))) {
      ++specifiers;
      EXPECT_NE(s->FileContainer(), nullptr) << s->Name();
    }
  }
  EXPECT_EQ(specifiers, 3);
  EXPECT_EQ(dynamic_cast<TCustomInstallFile*>(form->FindComponent("fileEngine"))->UniqueID(), 7);

  // Files where their specifiers put them, each from its own archive member,
  // the registry values and uninstall layout, the record gone.
  installtest::ExpectKitInstalled();
  // The install's events reach the form's methods: the record existed then.
  EXPECT_EQ(form->RecordDuringRun, "\\SOFTWARE\\Nubra\\Install\\Install0");

  // The typed pass, in order, as the driver saw it.
  EXPECT_EQ(Statuses(), (std::vector<std::string>{"status 'Reading file information...'",
                                                  "status ''",
                                                  "status 'Installing registry keys...'",
                                                  "status ''"}));
  // The run happens in the form's first activation, which comes with its
  // showing; the run ends the application, so no step was asked for.
  EXPECT_EQ(plat::Application()->Driver().Transcript(),
            (std::vector<std::string>{"status 'Reading file information...'", "status ''",
                                      "status 'Installing registry keys...'", "status ''",
                                      "page KitForm 'Ostra Kit'"}));
}

TEST_F(InstallFormTest, WhatTheRunShowsIsTranslatedAndTheLanguageIsKeptForTheRestart) {
  setenv("ZEL_UI", "auto", 1);
  TTranslator translator(nullptr);
  auto setText = [](TLanguage& language, const std::string& text) {
    plat::TStringList lines;
    lines.SetText(text);
    language.Text().Assign(&lines);
  };
  setText(*translator.LanguageByIdent(tlEnglish),
          "1;Reading file information...\n2;Installing registry keys...\n");
  setText(*translator.LanguageByIdent(tlPortugese),
          "1;Lendo os arquivos...\n2;Gravando o registro...\n");
  translator.SetTranslateIntoLanguage(tlPortugese);

  std::string text = KitText("Reboot = True\n    HideMainForm = True");
  text.replace(text.find("  Caption"), 0, "  Width = 400\n  Height = 300\n");
  TKitForm* form = RunKit(text);
  // Out of sight while the run goes on.
  EXPECT_EQ(form->Left(), -800);
  EXPECT_EQ(form->Top(), -600);
  unsetenv("ZEL_UI");
  EXPECT_EQ(plat::Application()->Driver().Name(), "auto");
  EXPECT_EQ(Statuses(), (std::vector<std::string>{"status 'Lendo os arquivos...'", "status ''",
                                                  "status 'Gravando o registro...'",
                                                  "status ''"}));
  // A restart run keeps its record, with the language the person saw.
  auto* install = dynamic_cast<TCustomInstall*>(form->FindComponent("Install"));
  ASSERT_NE(install, nullptr);
  const std::string record = install->RecordKey();
  ASSERT_FALSE(record.empty());
  EXPECT_EQ(Reg(record, "Language"), std::to_string(tlPortugese));
  EXPECT_TRUE(w::RestartRequested());

  // The continuation after the restart speaks it again, then finishes and
  // drops the record.
  plat::FreeApplication();
  translator.SetTranslateIntoLanguage(tlEnglish);
  SetProgramArguments({"-r", "-sC:\\dist"});
  plat::Application()->SetDriver(std::make_unique<plat::TAutomaticDriver>());
  new TKitForm(plat::Application(), KitText(""));
  EXPECT_EQ(translator.TranslateIntoLanguage(), tlPortugese);
  EXPECT_FALSE(KeyExists(record));
  EXPECT_TRUE(plat::Application()->Terminated());
}


// Questions of the run are message boxes of the application: a script
// declines to copy over a file the person has.
TEST_F(InstallFormTest, AQuestionOfTheRunIsAMessageBoxTheDriverAnswers) {
  w::ForceDirectories(installtest::kKitDir);
  {
    std::ofstream out(w::HostPath(installtest::kKitDir + "\\readme.txt"), std::ios::binary);
    out << "my own notes";
  }
  auto* script = new plat::TScriptedDriver("answer No\n");
  plat::Application()->SetDriver(std::unique_ptr<plat::TFormsDriver>(script));
  std::string text = KitText("");
  const std::string readme = "DestName = 'readme.txt'";
  text.replace(text.find(readme), readme.size(), readme + "\n    OverwriteMode = owAsk");
  RunKit(text);
  EXPECT_EQ(script->Remaining(), 0);
  EXPECT_EQ(installtest::ReadWinFile(installtest::kKitDir + "\\readme.txt"), "my own notes");
  bool asked = false;
  for (const std::string& line : script->Transcript()) {
    if (line.find("'Copy This File readme.txt?' -> No") != std::string::npos) asked = true;
  }
  EXPECT_TRUE(asked);
  EXPECT_EQ(installtest::ReadWinFile(installtest::kKitDir + "\\Bin\\engine.dll"),
            installtest::ReadWinFile("C:\\src\\engine.dll"));
}

// A run that fails shows the error in a message box and ends the program.
TEST_F(InstallFormTest, AFailedRunShowsItsErrorAndEnds) {
  plat::Application()->SetDriver(std::make_unique<plat::TAutomaticDriver>());
  std::string text = KitText("");
  text.replace(text.find("FileName = 'engine.dll'"), 23, "FileName = 'missing.dll'");
  RunKit(text);
  EXPECT_TRUE(plat::Application()->Terminated());
  std::vector<std::string> messages;
  for (const std::string& line : plat::Application()->Driver().Transcript()) {
    if (line.rfind("message ", 0) == 0) messages.push_back(line);
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("message error '", 0), 0u) << messages[0];
  EXPECT_NE(messages[0].find("missing.dll"), std::string::npos) << messages[0];
  // Only an abort drops the per-setup record; a failed run keeps it for
  // the next one.
  EXPECT_TRUE(KeyExists("\\SOFTWARE\\Nubra\\Install\\Install0"));
}

// What is read from a form is written back the same way, and reads again.
TEST_F(InstallFormTest, AWrittenDescriptionReadsBackTheSame) {
  std::string written;
  {
    TKitForm form(nullptr, KitText("RunAutomatic = False"));
    written = plat::WriteComponentText(form);
  }
  TKitForm again(nullptr, written);
  EXPECT_EQ(plat::WriteComponentText(again), written);
}

// The rules of reading an install description and of its parts' lifetimes.
TEST_F(InstallFormTest, ReadingAndFreeingTheDescription) {
  plat::Application()->SetDriver(std::make_unique<plat::TAutomaticDriver>());
  // An install lives on a form only.
  plat::TComponent plain(nullptr);
  try {
    TCustomInstall install(&plain);
    ADD_FAILURE() << "an install without a form";
  } catch (const IEInstall& e) {
    EXPECT_NE(e.Message().find("The Owner of the TInstall component must either be"),
              std::string::npos);
  }

  // A stored id that a living file holds is refused; the read leaves
  // nothing behind and the other file keeps its id.
  TCustomInstallFile other(&plain);
  other.SetUniqueID(12);
  EXPECT_THROW(TKitForm(nullptr, KitText("")), plat::EReadError);
  EXPECT_EQ(CurrentInstall(), nullptr);
  EXPECT_EQ(other.UniqueID(), 12);
  other.SetUniqueID(40);

  // A file whose text gives no id takes the lowest free one once read.
  std::string text = KitText("RunAutomatic = False");
  const std::string id = "UniqueID = 0\n";
  text.erase(text.find(id), id.size());
  auto form = std::make_unique<TKitForm>(nullptr, text);
  auto* uninstaller = dynamic_cast<TUninstallEXE*>(form->FindComponent("fileUninstall"));
  ASSERT_NE(uninstaller, nullptr);
  EXPECT_EQ(uninstaller->UniqueID(), 0);
  EXPECT_TRUE(uninstaller->Net());

  // Naming a container's specifier after another component renames that one.
  auto* bin = dynamic_cast<TInstallDirectory*>(form->FindComponent("dirBin"));
  ASSERT_NE(bin, nullptr);
  plat::TComponent* holder = form->FindComponent("psProgramFiles");
  ASSERT_NE(holder, nullptr);
  bin->PathSpecifier()->SetName("psProgramFiles");
  EXPECT_EQ(form->FindComponent("psProgramFiles"), bin->PathSpecifier());
  EXPECT_EQ(holder->Name(), "nameClash");

  // A directory takes its files and its specifier with it.
  const int32_t before = form->ComponentCount();
  delete bin;
  EXPECT_EQ(form->FindComponent("fileEngine"), nullptr);
  EXPECT_EQ(form->FindComponent("psProgramFiles"), nullptr);
  EXPECT_EQ(form->ComponentCount(), before - 3);
}

}  // namespace
}  // namespace setup
