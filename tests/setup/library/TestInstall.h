#pragma once
// A small install description built in code, shared by the install tests
// and by the setup program they start as a process (install_program_main):
// a root install into "C:\Program Files\Ostra Kit" with two directories
// ("\Bin", "\Help"), four files taken from the archive by their ids, a
// registry component whose entries use a path specifier, and the uninstall
// program. Also a user interface that records what the run shows.

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Forms.h"
#include "platform/rtl/Components.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "setup/library/cmp_InstallUI.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TInstallFile.h"
#include "setup/library/cmp_TInstallRegistry.h"
#include "setup/library/cmp_TTrevCompress.h"
#include "setup/library/cmp_TUninstallEXE.h"

namespace installtest {

// Records every message of the run as one line; answers questions from a
// queue (first button when it is empty) and can abort at a page.
class TRecordingUI : public setup::TInstallUI {
 public:
  void Status(const std::string& Text) override { Add("status " + Text); }
  void ResetStatus() override { Add("reset status"); }
  void FileStatus(const setup::TFileStatusParameter& S) override {
    if (S.Finished) {
      Add("file " + S.FileName + " " + std::to_string(S.FilePercentDone) + "% overall " +
          std::to_string(S.OverallPercentDone) + "%");
    }
  }
  void NewDisk(setup::TDiskParameter& Disk) override {
    Add("new disk " + std::to_string(Disk.Disk));
  }
  void DownloadStatus(const setup::TDownloadStatusParameter& S) override {
    Add("download " + S.FileName + " " + std::to_string(S.Percentage) + "%");
  }
  void Pages(setup::TDialogMoment Moment) override {
    static const char* names[] = {"before install", "good install", "bad install", "reboot"};
    Add(std::string("pages ") + names[Moment]);
    if (AbortAt == static_cast<int>(Moment)) throw setup::EAIUserAbort();
  }
  void Notify(int32_t) override {}
  setup::TInstallAnswer MessageBox(const std::string& Text, setup::TInstallButtons B) override {
    Add("message " + Text);
    if (!Answers.empty()) {
      const setup::TInstallAnswer a = Answers.front();
      Answers.erase(Answers.begin());
      return a;
    }
    return B == setup::ibYesNo ? setup::iaYes : setup::iaOK;
  }
  void ShowException(const std::string& ClassName, const std::string& Message) override {
    Add("exception " + ClassName + ": " + Message);
  }
  void Terminate() override { Add("terminate"); }

  void Add(const std::string& line) {
    Transcript.push_back(line);
    if (!LogFile.empty()) {
      std::ofstream out(plat::win::HostPath(LogFile), std::ios::app);
      out << line << "\n";
    }
  }

  std::vector<std::string> Transcript;
  std::vector<setup::TInstallAnswer> Answers;
  int AbortAt = -1;
  std::string LogFile;  // Windows path the lines are also appended to
};

inline const std::vector<std::pair<std::string, std::string>>& KitSources() {
  static const std::vector<std::pair<std::string, std::string>> sources = {
      {"engine.dll", "the engine, new\n"},
      {"kit.hlp", "help pages\n"},
      {"readme.txt", "read me first\n"},
      {"uninstall.exe", "uninstaller\n"},
  };
  return sources;
}

// The description on a form of its own.
struct TTestKit {
  std::unique_ptr<plat::TComponent> Form = std::make_unique<plat::TForm>(nullptr);
  setup::TCustomInstall* Install;
  setup::TInstallDirectory* Bin;
  setup::TInstallDirectory* Help;
  setup::TCustomInstallFile* Engine;
  setup::TCustomInstallFile* HelpFile;
  setup::TCustomInstallFile* Readme;
  setup::TUninstallEXE* Uninstaller;
  setup::TCustomInstallRegistry* Registry;

  TTestKit() {
    using namespace setup;
    Form->SetName("MainForm");
    Install = new TCustomInstall(Form.get());
    Install->SetName("Install");
    Install->Information().SetCompanyName("Ostra");
    Install->Information().SetProductName("Ostra Kit");
    Install->Information().SetVersion("1.5");
    Install->SetDestDirType(FindStandardSpecifier("TpsProgramFiles"));
    Install->SetDestDir("\\Ostra Kit");
    Install->SetArchiveFileType(FindStandardSpecifier("TpsMainArchiveFile"));

    Bin = Directory("dirBin", "\\Bin");
    Help = Directory("dirHelp", "\\Help");
    Engine = File("fileEngine", "engine.dll", Bin);
    HelpFile = File("fileHelp", "kit.hlp", Help);
    HelpFile->SetRegisterAsHelp(true);
    Readme = File("fileReadme", "readme.txt", Install);
    Uninstaller = new TUninstallEXE(Form.get());
    Uninstaller->SetName("fileUninstall");
    Describe(*Uninstaller, "uninstall.exe", Install);

    Registry = new TCustomInstallRegistry(Form.get());
    Registry->SetName("regKit");
    Registry->SetContainer(Install);
    Registry->SetKeySpecifierType(ksProductName);
    TRegistryEntry* path = Registry->Entries().Add();
    path->SetIdent("InstallPath");
    path->SetPathSpecifier(Bin->PathSpecifier());
    TRegistryEntry* version = Registry->Entries().Add();
    version->SetIdent("Version");
    version->SetText("%p");
    TRegistryEntry* build = Registry->Entries().Add();
    build->SetIdent("Build");
    build->SetInteger(42);
    TRegistryEntry* shared = Registry->Entries().Add();
    shared->SetIdent("Shared");
    shared->SetBoolean(true);
  }
  ~TTestKit() { Form.reset(); }

  setup::TInstallDirectory* Directory(const char* name, const char* dir) {
    auto* d = new setup::TInstallDirectory(Form.get());
    d->SetName(name);
    d->SetContainer(Install);
    d->SetDestDir(dir);
    d->SetDescription(name);
    return d;
  }
  static void Describe(setup::TCustomInstallFile& f, const char* file,
                       setup::TInstallContainer* container) {
    f.SetContainer(container);
    f.SetIncludeFromDir("C:\\src");
    f.SetFileName(file);
    f.SetDestName(file);
  }
  setup::TCustomInstallFile* File(const char* name, const char* file,
                                  setup::TInstallContainer* container) {
    auto* f = new setup::TCustomInstallFile(Form.get());
    f->SetName(name);
    Describe(*f, file, container);
    return f;
  }

  std::vector<setup::TCustomInstallFile*> Files() const {
    return {Engine, HelpFile, Readme, Uninstaller};
  }

  // Writes the sources to C:\src and compresses each under its file's id
  // into Dist\files.1.
  void BuildArchive(const std::string& Dist) const {
    plat::win::ForceDirectories("C:\\src");
    plat::win::ForceDirectories(Dist);
    for (const auto& [name, content] : KitSources()) {
      std::ofstream out(plat::win::HostPath("C:\\src\\" + name), std::ios::binary);
      out << content;
    }
    setup::TTrevCompress archive(nullptr);
    archive.SetCompressedFile(Dist + "\\files.1");
    bool append = false;
    for (setup::TCustomInstallFile* f : Files()) {
      archive.FilesToProcess().Add("C:\\src\\" + f->FileName());
      archive.Compress(append, f->UniqueID());
      append = true;
    }
  }
};

}  // namespace installtest
