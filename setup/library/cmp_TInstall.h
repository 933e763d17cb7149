#pragma once
// The root of an install description and its run: the command line, the
// choice between continuing after a restart and installing, the run step by
// step, the per-setup record in the registry, the unfinished business kept
// across a restart, the restart, the programs run after the install and the
// clean-up of a loading program's temporary copy.
//
// The per-setup record is a subkey of HKLM "\SOFTWARE\Nubra\Install" that
// matches the setup program's file by size and date; it holds "Path",
// "LastRunDate", "CreationDate", "Size", maybe "SelfExtract" and "Language",
// a subkey "Unfinished" (value name = subject, data = kind: 0 a container
// to finish, 1 a file to delete) and a subkey per downloaded archive with
// its "LocalFile". The record lives from the run's start to its good end.
//
// Rules of the run:
//  1. The in-run flag brackets the run; the exception handler acts only
//     while it is set, and an abort is handled as an abort (bad-install
//     pages, clean-up, record removal), never shown as an error.
//  2. Everything the run shows goes through the install UI (cmp_InstallUI.h).
//  3. The clean-up deletes only the temporary folder a loading program
//     started the setup program from, never a folder a person ran it from.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Lists.h"
#include "setup/library/cmp_InstallUI.h"
#include "setup/library/cmp_TInstallContainer.h"
#include "setup/library/cmp_TInstallInformation.h"
#include "setup/library/cmp_TTrevCompress.h"

namespace plat {
class TCustomForm;
}

namespace setup {

PLAT_DECLARE_EXCEPTION(IEInstall, IException);

class TFormsInstallUI;

// Makes the install description's classes known to the reader of component
// text: the install, directories, groups, files, the uninstaller, registry
// components and the path specifiers.
void RegisterInstallClasses();

// The program's arguments (without the program itself): an install read
// from a form reads them when it is loaded, before anyone could hand them
// to it. SetCommandLine replaces them for one install.
void SetProgramArguments(std::vector<std::string> Arguments);

enum TDistributeType : uint8_t { dtTraditional, dtWeb, dtTraditionalNet };

// Command-line option bits, one per letter.
enum TCommandOption : uint8_t {
  coBuild,       // b
  coFloppies,    // f
  coDebug,       // d
  coSelfExtract, // e
  coReboot,      // r
  coSource,      // s
  coCleanup,     // c
  coNew          // n
};
using TCommandOptions = plat::TSet<TCommandOption>;

inline constexpr const char* kInstallRecordKey = "\\SOFTWARE\\Nubra\\Install";
inline constexpr const char* kUninstallListKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr const char* kUnfinishedRunOnce = "QuillaneUnfinished";

// A new temporary file name with the extension ".bat" (the file does not
// exist yet), and a batch file written under a name: lines ended by CR LF.
std::string NewBatchFileName();
bool WriteBatchFile(const std::string& Name, const std::vector<std::string>& Lines);

// The Windows 2000 control-panel entry of the product.
class TControlPanelExtensionInformation : public plat::TPersistent {
 public:
  std::string ClassName() const override { return "TControlPanelExtensionInformation"; }
  const plat::TPropList& PublishedProperties() const override;
  std::string Comments, Contact, HelpLink, HelpTelephone, ProductID, URLInfoAbout, URLUpdateInfo;
  TCustomInstallFile* DisplayIcon = nullptr;
  TCustomInstallFile* ReadMe = nullptr;
};

class TBuildInfo : public plat::TPersistent {
 public:
  std::string ClassName() const override { return "TBuildInfo"; }
  bool AddUninstallOnCreate = true;
};

using TBoolVarEvent = std::function<void(TCustomInstall* Sender, bool& Value)>;
using TRunFileEvent =
    std::function<void(TCustomInstall* Sender, TCustomInstallFile* File, bool& Run)>;
using TInstallNotifyEvent = std::function<void(TCustomInstall* Sender)>;

class TCustomInstall : public TFileContainer {
 public:
  // Raises IEInstall when an install exists already or the owner is no form.
  explicit TCustomInstall(plat::TComponent* AOwner);
  ~TCustomInstall() override;
  std::string ClassName() const override { return "TInstall"; }
  const plat::TPropList& PublishedProperties() const override;

  // --- Properties.
  bool AutoMaximizeWindow() const { return autoMaximizeWindow_; }
  void SetAutoMaximizeWindow(bool Value) { autoMaximizeWindow_ = Value; }
  // Moves the main form out of sight when the run starts.
  bool HideMainForm() const { return hideMainForm_; }
  void SetHideMainForm(bool Value) { hideMainForm_ = Value; }
  bool RunAutomatic() const { return runAutomatic_; }
  void SetRunAutomatic(bool Value) { runAutomatic_ = Value; }
  bool UseLoadingProgram() const { return useLoadingProgram_; }
  void SetUseLoadingProgram(bool Value) { useLoadingProgram_ = Value; }
  bool Reboot() const { return reboot_; }
  void SetReboot(bool Value) { reboot_ = Value; }
  bool NoUninstall() const { return noUninstall_; }
  void SetNoUninstall(bool Value) { noUninstall_ = Value; }
  TDistributeType DistributeType() const { return distributeType_; }
  // Only while designing; a network distribution needs NetLocation first.
  void SetDistributeType(TDistributeType Value);
  TInstallInformation& Information() { return information_; }
  TRegistrationInformation& RegistrationInformation() { return registration_; }
  TControlPanelExtensionInformation& win2KExtendedInformation() { return extended_; }
  TBuildInfo& BuildInfo() { return buildInfo_; }
  // Files the build adds to "setup.1" after the setup program.
  plat::TStringList& PresetupFiles() { return presetupFiles_; }
  // The archive component files of the install's archive extract through.
  TTrevCompress& Archive() { return *archive_; }

  // The user interface of the run (not owned; nullptr: nobody is asked and
  // every question takes its first answer). Loading without one takes the
  // application's forms (TFormsInstallUI).
  void SetUI(TInstallUI* Value) { ui_ = Value; }
  TInstallUI* UI() const { return ui_; }

  // --- Loading: the program's arguments (without the program itself),
  // then Loaded reads them and dispatches.
  void SetCommandLine(std::vector<std::string> Arguments) { arguments_ = std::move(Arguments); }
  void Loaded() override;
  // Reads the arguments; raises IException for an invalid one.
  void ReadCommandLine();
  bool HasOption(TCommandOption Option) const { return options_.Contains(Option); }
  const std::string& OptionValue(TCommandOption Option) const { return values_[Option]; }
  // The distributables directory, with a trailing backslash.
  const std::string& SourceDir() const { return sourceDir_; }
  // 0 (itFull) unless InstallTypes holds itDefault (1) or itCompact (2).
  void SelectInstallType();
  // The form whose first activation starts the run (found by Loaded).
  plat::TCustomForm* MainForm() const { return mainForm_; }
  // What the main form's first activation does: the form's own handler,
  // then the run, with RunAutomatic.
  void FirstActivation();

  // --- The run.
  void Process();
  bool ConfirmUserAbort();
  bool InRun() const { return inRun_; }
  bool Aborted() const { return aborted_; }
  bool Terminated() const { return terminated_; }
  // The per-setup record key; empty when there is none.
  const std::string& RecordKey() const { return recordKey_; }
  // Finds the record (creating it with Create); the key or "".
  std::string FindSetupRecord(bool Create);
  void RemoveSetupRecord();
  // Unfinished business under the record.
  void AddUnfinished(const std::string& Subject, int32_t Kind);
  void DropUnfinished();
  int32_t UnfinishedCount() const { return unfinishedCount_; }
  // The restart command the RunOnce entry holds.
  std::string RestartCommand() const;
  // The continuation after a restart (-r).
  void ContinueAfterReboot();
  // The COM registrations to repeat at the end of the run.
  void AddComRetry(TCustomInstallFile* File);
  // The batch written by the clean-up, started when the install goes away.
  const std::string& PendingBatch() const { return pendingBatch_; }

  int32_t RegisteredType() const override { return 1000; }
  int32_t Broadcast(int32_t Code, plat::TObject* Param) override;

  TInstallNotifyEvent OnAfterInitialized;
  TInstallNotifyEvent OnBeforeReadArchiveInfo;
  TInstallNotifyEvent OnAfterReadArchiveInfo;
  TBoolVarEvent OnBeforeReboot;
  TInstallNotifyEvent OnFailedReboot;
  TInstallNotifyEvent OnBeforeNotifyGoodInstall;
  TInstallNotifyEvent OnAfterNotifyGoodInstall;
  TInstallNotifyEvent OnBeforeNotifyBadInstall;
  TInstallNotifyEvent OnAfterNotifyBadInstall;
  TBoolVarEvent OnBeforeCleanup;
  TRunFileEvent OnBeforeRunFile;
  TBoolVarEvent OnBeforeShutdown;
  TBoolVarEvent OnUserAbort;

 protected:
  void Notification(plat::TComponent* AComponent, plat::TOperation Operation) override;

 private:
  void HandleRunException(std::exception_ptr Error);
  void HookMainForm();
  // -b and -f: build the distributables or copy them onto floppies.
  void RunBuildSide();
  void UnhookMainForm();
  void ReadSelfExtractInfo();
  void ReadArchiveInformation();
  // A network distribution's "filelist.lst": sizes, dates and versions of
  // the files whose archives are fetched later.
  void ReadRemoteFileList();
  void InstallTypedPass();
  void RegisterRestart();
  bool RestartWindows();
  // The end of a good run: pages, clean-up, record removal, shutdown and
  // the programs to run after the install.
  void FinishGoodInstall();
  void NotifyGoodInstall();
  void NotifyBadInstall();
  void WriteCleanupBatch();
  void Shutdown();
  void RunAfterInstallFiles();
  void TerminateApplication();
  std::string DistributablesProgramFile() const;

  bool autoMaximizeWindow_ = true;
  bool hideMainForm_ = false;
  bool runAutomatic_ = true;
  bool useLoadingProgram_ = true;
  bool reboot_ = false;
  bool noUninstall_ = false;
  TDistributeType distributeType_ = dtTraditional;
  TInstallInformation information_;
  TRegistrationInformation registration_;
  TControlPanelExtensionInformation extended_;
  TBuildInfo buildInfo_;
  plat::TStringList presetupFiles_;
  // Not a component of the install: it is no part of the description.
  std::unique_ptr<TTrevCompress> archive_;
  TInstallUI* ui_ = nullptr;
  std::unique_ptr<TFormsInstallUI> formsUI_;
  plat::TCustomForm* mainForm_ = nullptr;
  plat::TNotifyEvent previousActivate_;
  bool hooked_ = false;

  std::vector<std::string> arguments_;
  TCommandOptions options_;
  std::string values_[8];
  std::string sourceDir_;
  std::string recordKey_;
  double startTime_ = 0;
  int32_t unfinishedCount_ = 0;
  bool runStarted_ = false;
  bool aborted_ = false;
  bool inRun_ = false;
  bool terminated_ = false;
  bool archiveInfoReadInRun_ = false;
  std::string pendingBatch_;
  std::vector<TCustomInstallFile*> comRetries_;
};

}  // namespace setup
