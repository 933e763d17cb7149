#include "setup/library/cmp_TInstall.h"

#include <cctype>
#include <cmath>
#include <fstream>

#include "platform/forms/Forms.h"
#include "platform/os/Files.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"
#include "platform/win/Registry.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"
#include "setup/library/cmp_TInstallBuild.h"
#include "setup/library/cmp_TInstallFile.h"
#include "setup/library/cmp_TInstallFormsUI.h"
#include "setup/library/cmp_TInstallRegistry.h"
#include "setup/library/cmp_TNetInstallLocation.h"
#include "setup/library/cmp_TTranslator.h"
#include "setup/library/cmp_TUninstallEXE.h"
#include "setup/library/cmp_TProgramLauncher.h"
#include "setup/library/cmp_TTrevCompressRecord.h"
#include "setup/library/routines_API.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace w = plat::win;

namespace {

TCustomInstall*& TheInstall() {
  static TCustomInstall* install = nullptr;
  return install;
}

constexpr char kLetters[8] = {'b', 'f', 'd', 'e', 'r', 's', 'c', 'n'};

constexpr const char* kInvalidParameter =
    "Invalid parameter <%s>. Valid command line parameters are: -b (Build), -d (Debug), -f "
    "(Transfer to floppies), -e (Called by self-extractor), -r (After reboot)";
constexpr const char* kNoUnfinished =
    "The TInstall could not either write or read unfinished business from the registry";
constexpr const char* kQuillaneKey = "\\Software\\Quillane";
constexpr const char* kNubraKey = "\\SOFTWARE\\Nubra";
// The block at the end of a self-extractor and the archive offset in it.
constexpr int64_t kSelfExtractBlock = 56;
constexpr size_t kOffArchiveOffset = 24;

struct TTypedStep {
  int32_t Type;
  const char* Status;
};
constexpr TTypedStep kTypedPass[] = {
    {2750, "Installing ODBC drivers..."},
    {2875, "Installing ODBC sources..."},
    {3000, "Installing Borland Database Engine aliases..."},
    {7000, "Installing shell links..."},
    {8000, "Installing shell links..."},
    {4000, "Installing INI files..."},
    {8500, "Installing registry keys..."},
    {8700, nullptr},
    {9052, nullptr},
    {9050, nullptr},
    {9054, nullptr},
};

bool HasSubKeys(const std::string& Key) {
  w::TRegistry reg;
  reg.SetRootKey(w::HKEY_LOCAL_MACHINE);
  return reg.OpenKey(Key, false) && reg.HasSubKeys();
}

void DeleteKeyWhenEmpty(const std::string& Key) {
  w::TRegistry reg;
  reg.SetRootKey(w::HKEY_LOCAL_MACHINE);
  if (reg.KeyExists(Key) && !HasSubKeys(Key)) reg.DeleteKey(Key);
}

std::vector<std::string>& ProgramArguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

}  // namespace

void SetProgramArguments(std::vector<std::string> Arguments) {
  ProgramArguments() = std::move(Arguments);
}

TCustomInstall* CurrentInstall() {
  return TheInstall();
}

std::string NewBatchFileName() {
  const std::string temporary = GetTempFile(false);
  return temporary.substr(0, temporary.size() - w::ExtractWinFileExt(temporary).size()) + ".bat";
}

bool WriteBatchFile(const std::string& Name, const std::vector<std::string>& Lines) {
  std::ofstream out(w::HostPath(Name), std::ios::binary | std::ios::trunc);
  for (const std::string& line : Lines) out << line << "\r\n";
  out.close();
  return static_cast<bool>(out);
}

// --- Creation --------------------------------------------------------------------------------

TCustomInstall::TCustomInstall(plat::TComponent* AOwner) : TFileContainer(AOwner) {
  if (TheInstall() != nullptr) {
    throw IEInstall(
        "The TInstall component does not currently support the use of 2 TInstall components in "
        "the same project");
  }
  if (dynamic_cast<plat::TCustomForm*>(AOwner) == nullptr) {
    throw IEInstall(
        "The Owner of the TInstall component must either be a class of type TCustomForm (Delphi "
        "3) or TForm (Delphi 2.0,C++Builder 1.0)");
  }
  TheInstall() = this;
  // Where a disk request of an earlier install in this process found its
  // archive says nothing about this install's distributables.
  SetMainArchiveDirectory("");
  arguments_ = ProgramArguments();
  archive_ = std::make_unique<TTrevCompress>(nullptr);
  SetInstallTypes(TInstallTypeSet{itFull});
}

TCustomInstall::~TCustomInstall() {
  UnhookMainForm();
  if (TheInstall() == this) {
    TheInstall() = nullptr;
    SetMainArchiveDirectory("");
  }
  if (!pendingBatch_.empty()) {
    try {
      TProgramLauncher launcher(nullptr);
      launcher.SetFileName(pendingBatch_);
      launcher.SetShowMode(smHide);
      launcher.Execute();
    } catch (const plat::Exception&) {
      // Only the temporary copy stays behind; nobody is left to tell.
    }
  }
}

// --- Form text -------------------------------------------------------------------------------

const plat::TPropList& TControlPanelExtensionInformation::PublishedProperties() const {
  using T = TControlPanelExtensionInformation;
  auto text = [](std::string T::*field) {
    return std::make_pair([field](T& o) { return o.*field; },
                          [field](T& o, const std::string& v) { o.*field = v; });
  };
  auto [commentsGet, commentsSet] = text(&T::Comments);
  auto [contactGet, contactSet] = text(&T::Contact);
  auto [helpLinkGet, helpLinkSet] = text(&T::HelpLink);
  auto [telephoneGet, telephoneSet] = text(&T::HelpTelephone);
  auto [productGet, productSet] = text(&T::ProductID);
  auto [aboutGet, aboutSet] = text(&T::URLInfoAbout);
  auto [updateGet, updateSet] = text(&T::URLUpdateInfo);
  static const plat::TPropList list =
      plat::TPublished<T>()
          .String("Comments", commentsGet, commentsSet)
          .String("Contact", contactGet, contactSet)
          .Component("DisplayIcon", [](T& o) { return o.DisplayIcon; },
                     [](T& o, TCustomInstallFile* v) { o.DisplayIcon = v; })
          .String("HelpLink", helpLinkGet, helpLinkSet)
          .String("HelpTelephone", telephoneGet, telephoneSet)
          .String("ProductID", productGet, productSet)
          .Component("ReadMe", [](T& o) { return o.ReadMe; },
                     [](T& o, TCustomInstallFile* v) { o.ReadMe = v; })
          .String("URLInfoAbout", aboutGet, aboutSet)
          .String("URLUpdateInfo", updateGet, updateSet);
  return list;
}

const plat::TPropList& TCustomInstall::PublishedProperties() const {
  using T = TCustomInstall;
  static const plat::TPropList list =
      plat::TPublished<T>(TFileContainer::PublishedProperties())
          .Set("InstallTypes", &T::InstallTypes, &T::SetInstallTypes,
               {"itFull", "itDefault", "itCompact", "itCustom"}, TInstallTypeSet{itFull})
          .Boolean("AutoMaximizeWindow", &T::AutoMaximizeWindow, &T::SetAutoMaximizeWindow, true)
          .Boolean("HideMainForm", &T::HideMainForm, &T::SetHideMainForm, false)
          .Boolean("RunAutomatic", &T::RunAutomatic, &T::SetRunAutomatic, true)
          .Boolean("UseLoadingProgram", &T::UseLoadingProgram, &T::SetUseLoadingProgram, true)
          .Boolean("Reboot", &T::Reboot, &T::SetReboot, false)
          .Boolean("NoUninstall", &T::NoUninstall, &T::SetNoUninstall, false)
          .Enumeration("DistributeType", &T::DistributeType, &T::SetDistributeType,
                       {"dtTraditional", "dtWeb", "dtTraditionalNet"}, dtTraditional)
          .Strings("PresetupFiles", [](T& o) -> plat::TStrings& { return o.PresetupFiles(); })
          .Persistent("Information", &T::Information)
          .Persistent("RegistrationInformation", &T::RegistrationInformation)
          .Persistent("win2KExtendedInformation", &T::win2KExtendedInformation)
          .Event("OnAfterInitialized", &T::OnAfterInitialized, &T::EventBindings)
          .Event("OnBeforeReadArchiveInfo", &T::OnBeforeReadArchiveInfo, &T::EventBindings)
          .Event("OnAfterReadArchiveInfo", &T::OnAfterReadArchiveInfo, &T::EventBindings)
          .Event("OnBeforeReboot", &T::OnBeforeReboot, &T::EventBindings)
          .Event("OnFailedReboot", &T::OnFailedReboot, &T::EventBindings)
          .Event("OnBeforeNotifyGoodInstall", &T::OnBeforeNotifyGoodInstall, &T::EventBindings)
          .Event("OnAfterNotifyGoodInstall", &T::OnAfterNotifyGoodInstall, &T::EventBindings)
          .Event("OnBeforeNotifyBadInstall", &T::OnBeforeNotifyBadInstall, &T::EventBindings)
          .Event("OnAfterNotifyBadInstall", &T::OnAfterNotifyBadInstall, &T::EventBindings)
          .Event("OnBeforeCleanup", &T::OnBeforeCleanup, &T::EventBindings)
          .Event("OnBeforeRunFile", &T::OnBeforeRunFile, &T::EventBindings)
          .Event("OnBeforeShutdown", &T::OnBeforeShutdown, &T::EventBindings)
          .Event("OnUserAbort", &T::OnUserAbort, &T::EventBindings);
  return list;
}

void RegisterInstallClasses() {
  plat::RegisterClass<TCustomInstall>("TInstall");
  plat::RegisterClass<TInstallDirectory>("TInstallDirectory");
  plat::RegisterClass<TCustomInstallGroup>("TInstallGroup");
  plat::RegisterClass<TCustomInstallFile>("TInstallFile");
  plat::RegisterClass<TUninstallEXE>("TUninstallEXE");
  plat::RegisterClass<TCustomInstallRegistry>("TInstallRegistry");
  plat::RegisterClass<TpsFileContainer>("TpsFileContainer");
  plat::RegisterClass<TPathSpecifier>("TPathSpecifier");
  for (const TTableSpecifier::TEntry& entry : StandardSpecifierClasses()) {
    plat::RegisterClass(entry.ClassName, [&entry](plat::TComponent* owner) -> plat::TComponent* {
      return new TTableSpecifier(owner, entry);
    });
  }
}

// --- Loading and the command line ------------------------------------------------------------

void TCustomInstall::ReadCommandLine() {
  options_ = TCommandOptions{};
  for (std::string& v : values_) v.clear();
  for (const std::string& arg : arguments_) {
    if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '*')) {
      throw IException(plat::Format(kInvalidParameter, {arg}));
    }
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(arg[1])));
    int32_t bit = -1;
    for (int32_t i = 0; i < 8; ++i) {
      if (kLetters[i] == letter) bit = i;
    }
    if (bit < 0) {
      if (arg[0] == '*') continue;
      throw IException(plat::Format(kInvalidParameter, {arg}));
    }
    options_.Include(static_cast<TCommandOption>(bit));
    values_[bit] = arg.substr(2);
  }
}

void TCustomInstall::Loaded() {
  TFileContainer::Loaded();
  if (ComponentState().Contains(plat::csDesigning)) return;
  ReadCommandLine();
  if (HasOption(coDebug) &&
      (!HasOption(coSource) || plat::Trim(OptionValue(coSource)).empty())) {
    throw IEInstall(
        "You forgot to pass in the build directory. In Run | Parameters, follow this format: -d "
        "\"-sC:\\My Build\"");
  }
  sourceDir_ = HasOption(coSource) ? AddTrailingBackslash(OptionValue(coSource))
                                   : w::ExtractWinFilePath(w::GetModuleFileName());
  recordKey_ = FindSetupRecord(false);
  archive_->SetCompressedFile(GetFullArchiveFile());
  SelectInstallType();
  mainForm_ = plat::Application()->MainForm();
  if (mainForm_ == nullptr) mainForm_ = dynamic_cast<plat::TCustomForm*>(Owner());
  if (mainForm_ == nullptr && runAutomatic_) {
    throw IEInstall(
        "Application.MainForm is undefined and the TInstall is not on a form. Therefore, "
        "therefore the TInstall can't run the installation automatically");
  }
  if (mainForm_ != nullptr) mainForm_->FreeNotification(this);
  if (ui_ == nullptr) {
    formsUI_ = std::make_unique<TFormsInstallUI>();
    ui_ = formsUI_.get();
  }
  if (HasOption(coBuild) || HasOption(coFloppies)) {
    RunBuildSide();
    return;
  }
  if (HasOption(coReboot)) {
    ContinueAfterReboot();
    return;
  }
  HookMainForm();
}

// The build side answers in a message box and the program ends after it.
void TCustomInstall::RunBuildSide() {
  try {
    // A value after -b asks for the self-extracting program; -f copies the
    // self-extractor named by -e (else the running program) onto floppies.
    if (HasOption(coBuild)) {
      BuildDistributables(*this, !OptionValue(coBuild).empty(), w::GetModuleFileName());
    }
    if (HasOption(coFloppies)) {
      TransferToFloppies(*this, HasOption(coSelfExtract)
                                    ? sourceDir_ + OptionValue(coSelfExtract)
                                    : w::GetModuleFileName());
    }
  } catch (const plat::Exception& e) {
    if (ui_ != nullptr) ui_->MessageBox(e.Message(), ibOK);
  }
  TerminateApplication();
}

void TCustomInstall::HookMainForm() {
  if (mainForm_ == nullptr || hooked_) return;
  previousActivate_ = mainForm_->OnActivate;
  mainForm_->OnActivate = [this](plat::TObject*) { FirstActivation(); };
  hooked_ = true;
}

void TCustomInstall::UnhookMainForm() {
  if (!hooked_) return;
  hooked_ = false;
  // A form that owns the install and is going away has no handler left to
  // put back.
  if (mainForm_ != nullptr && !mainForm_->ComponentState().Contains(plat::csDestroying)) {
    mainForm_->OnActivate = previousActivate_;
  }
  previousActivate_ = nullptr;
}

void TCustomInstall::Notification(plat::TComponent* AComponent, plat::TOperation Operation) {
  TFileContainer::Notification(AComponent, Operation);
  if (Operation == plat::opRemove && AComponent == mainForm_) {
    mainForm_ = nullptr;
    hooked_ = false;
    previousActivate_ = nullptr;
  }
}

void TCustomInstall::SetDistributeType(TDistributeType Value) {
  // A form read at run time brings the value chosen while designing; its
  // net location is fixed up after it.
  if (ComponentState().Contains(plat::csLoading)) {
    distributeType_ = Value;
    return;
  }
  if (!ComponentState().Contains(plat::csDesigning)) {
    throw IEInstall("DistributeType can only be set at design-time");
  }
  if (Value != dtTraditional && NetLocation() == nullptr) {
    throw IEInstall(
        "Must assign a net location via the NetLocation property before you can set the "
        "distribute type");
  }
  distributeType_ = Value;
}

void TCustomInstall::SelectInstallType() {
  SetInstallTypeIndex(0);
  if (InstallTypes().Contains(itDefault)) {
    SetInstallTypeIndex(1);
  } else if (InstallTypes().Contains(itCompact)) {
    SetInstallTypeIndex(2);
  } else if (InstallTypes().Contains(itFull)) {
    SetInstallTypeIndex(0);
  }
}

void TCustomInstall::FirstActivation() {
  if (runStarted_) return;
  runStarted_ = true;
  if (mainForm_ != nullptr) {
    if (previousActivate_) previousActivate_(mainForm_);
    // The forms here have no window state: a maximised form is one that
    // keeps its place, so AutoMaximizeWindow asks for nothing more.
    if (hideMainForm_) {
      mainForm_->SetLeft(-2 * mainForm_->Width());
      mainForm_->SetTop(-2 * mainForm_->Height());
    }
  }
  if (runAutomatic_) {
    UnhookMainForm();
    Process();
  }
}

bool TCustomInstall::ConfirmUserAbort() {
  bool value = true;
  if (OnUserAbort) OnUserAbort(this, value);
  return value;
}

// --- Messages to the user interface ---------------------------------------------------------

int32_t TCustomInstall::Broadcast(int32_t Code, plat::TObject* Param) {
  const int32_t result = TFileContainer::Broadcast(Code, Param);
  if (ui_ == nullptr) return result;
  switch (Code) {
    case msg::kStatus:
      if (auto* p = dynamic_cast<TMessageParameter*>(Param)) ui_->Status(TranslateText(p->Text));
      break;
    case msg::kResetStatus:
      ui_->ResetStatus();
      break;
    case msg::kFileStatus:
      if (auto* p = dynamic_cast<TFileStatusParameter*>(Param)) ui_->FileStatus(*p);
      break;
    case msg::kNewDisk:
      if (auto* p = dynamic_cast<TDiskParameter*>(Param)) ui_->NewDisk(*p);
      break;
    case msg::kDataReceived:
      if (auto* p = dynamic_cast<TDownloadStatusParameter*>(Param)) ui_->DownloadStatus(*p);
      break;
    case msg::kBeforeInstallPages:
      ui_->Pages(dmBeforeInstall);
      break;
    case msg::kGoodInstallPages:
      ui_->Pages(dmAfterGoodInstall);
      break;
    case msg::kBadInstallPages:
      ui_->Pages(dmAfterBadInstall);
      break;
    case msg::kRebootPages:
      ui_->Pages(dmReboot);
      break;
    default:
      ui_->Notify(Code);
      break;
  }
  return result;
}

void TCustomInstall::TerminateApplication() {
  terminated_ = true;
  if (ui_ != nullptr) ui_->Terminate();
}

// --- The run ---------------------------------------------------------------------------------

void TCustomInstall::Process() {
  try {
    aborted_ = false;
    startTime_ = plat::Now();
    comRetries_.clear();
    unfinishedCount_ = 0;
    inRun_ = true;
    if (useLoadingProgram_ && !HasOption(coSource)) {
      throw IEInstall(
          "The path of the loading program was not passed correctly. If you are running your "
          "install project in the IDE, then you need to add two command line parameters. In Run "
          "| Parameters | \"Run Parameters\", type in: -d \"-sBUILDPATH\" where BUILDPATH is the "
          "path into which you built the distributables. Example: -d \"-sC:\\My Build\".");
    }
    if (HasOption(coNew)) DropUnfinished();
    recordKey_ = FindSetupRecord(true);
    DropUnfinished();
    if (HasOption(coSelfExtract)) ReadSelfExtractInfo();
    archive_->SetCompressedFile(GetFullArchiveFile());
    ReadArchiveInformation();
    if (OnAfterInitialized) OnAfterInitialized(this);
    Broadcast(msg::kBeforeInstall, nullptr);
    Broadcast(msg::kBeforeInstallPages, nullptr);
    if (!aborted_) {
      try {
        Install();
        const std::vector<TCustomInstallFile*> retries = comRetries_;
        for (TCustomInstallFile* f : retries) f->RegisterActiveX();
        InstallTypedPass();
      } catch (...) {
        if (OnAfterInstallObjects) OnAfterInstallObjects(this, archive_->Abort());
        throw;
      }
    }
    if (OnAfterInstallObjects) OnAfterInstallObjects(this, archive_->Abort());
    if (unfinishedCount_ > 0 || reboot_) RegisterRestart();
    if (reboot_) {
      if (!recordKey_.empty()) {
        const TTranslator* translator = GlobalTranslator();
        WriteRegInteger(hkLocalMachine, recordKey_, "Language",
                        translator != nullptr ? translator->TranslateIntoLanguage() : tlUser);
      }
      while (reboot_) {
        Broadcast(msg::kRebootPages, nullptr);
        bool reboot = reboot_;
        if (OnBeforeReboot) OnBeforeReboot(this, reboot);
        reboot_ = reboot;
        if (reboot_) {
          if (!RestartWindows()) {
            if (OnFailedReboot) {
              OnFailedReboot(this);
            } else if (ui_ != nullptr) {
              ui_->MessageBox(
                  TranslateText("Could not reboot windows. Please manually reboot windows."), ibOK);
            }
          }
          break;
        }
      }
      TerminateApplication();
      inRun_ = false;
      return;
    }
    FinishGoodInstall();
  } catch (...) {
    HandleRunException(std::current_exception());
  }
}

void TCustomInstall::HandleRunException(std::exception_ptr Error) {
  auto show = [this](std::exception_ptr e) {
    if (ui_ == nullptr) return;
    try {
      std::rethrow_exception(e);
    } catch (const plat::Exception& x) {
      ui_->ShowException(x.ClassName(), x.Message());
    } catch (const std::exception& x) {
      ui_->ShowException("Exception", x.what());
    }
  };
  if (!inRun_) {
    show(Error);
    return;
  }
  inRun_ = false;
  aborted_ = true;
  try {
    try {
      std::rethrow_exception(Error);
    } catch (const EAIUserAbort&) {
      NotifyBadInstall();
      WriteCleanupBatch();
      RemoveSetupRecord();
      if (runAutomatic_) Shutdown();
    } catch (...) {
      NotifyBadInstall();
      show(Error);
      Shutdown();
    }
  } catch (...) {
    if (runAutomatic_) TerminateApplication();
  }
}

void TCustomInstall::ReadSelfExtractInfo() {
  const std::string file = AddTrailingBackslash(sourceDir_) + OptionValue(coSelfExtract);
  const std::string refused = plat::Format(
      "Could not read the extraction info from the archive file %s when trying to find the "
      "correct offset into the self extracting file",
      {file});
  plat::TOSFile f;
  if (!w::FileExists(file) ||
      !f.Open(w::HostPath(file), plat::TFileAccess::faRead, plat::TFileShare::fsDenyNone)) {
    throw IEInstall(refused);
  }
  const int64_t size = f.Size();
  uint8_t block[kSelfExtractBlock];
  if (size < kSelfExtractBlock ||
      f.ReadAt(size - kSelfExtractBlock, block, kSelfExtractBlock) != kSelfExtractBlock) {
    throw IEInstall(refused);
  }
  archive_->SetOffset(archive::LoadI32(block + kOffArchiveOffset));
}

void TCustomInstall::ReadArchiveInformation() {
  if (archiveInfoReadInRun_) return;
  if (OnBeforeReadArchiveInfo) OnBeforeReadArchiveInfo(this);
  Broadcast(msg::kBeforeReadArchiveInfo, nullptr);
  ShowStatus("Reading file information...");
  try {
    ReadArchiveInfo();
    if (distributeType_ != dtTraditional) ReadRemoteFileList();
  } catch (...) {
    Broadcast(msg::kResetStatus, nullptr);
    throw;
  }
  Broadcast(msg::kResetStatus, nullptr);
  archiveInfoReadInRun_ = true;
  if (OnAfterReadArchiveInfo) OnAfterReadArchiveInfo(this);
  Broadcast(msg::kAfterReadArchiveInfo, nullptr);
}

void TCustomInstall::ReadRemoteFileList() {
  TCustomNetInstallLocation* location = NetLocation();
  if (location == nullptr) {
    throw IEFileRel_NoNetLocation(
        plat::Format("Could not find a net install location for %s", {Name()}));
  }
  const std::string local = GetTempFile(false);
  const auto removeCopy = plat::OnScopeExit([&local] { w::DeleteFile(local); });
  location->Download("filelist.lst", local);
  if (DownloadAbort()) throw EAIUserAbort();
  std::string data;
  std::ifstream in(w::HostPath(local), std::ios::binary);
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::vector<TFileListEntry> entries;
  if (in.bad() || !DecodeFileList(data, entries)) {
    throw IEInstall(plat::Format("Cannot read the remote list of files: %s", {"filelist.lst"}));
  }
  for (const TFileListEntry& e : entries) {
    for (TCustomInstallFile* file : InstallFiles()) {
      if (plat::SameText(file->Name(), e.Name)) file->TakeListedInfo(e.Size, e.DateTime, e.Version);
    }
  }
}

void TCustomInstall::InstallTypedPass() {
  for (const TTypedStep& step : kTypedPass) {
    bool shown = false;
    const std::vector<TInstallContainer*> containers = InstallContainers();
    for (TInstallContainer* c : containers) {
      if (c->RegisteredType() != step.Type) continue;
      if (!shown && step.Status != nullptr && !plat::Trim(step.Status).empty()) {
        ShowStatus(step.Status);
        shown = true;
      }
      c->Install();
    }
    if (shown) Broadcast(msg::kResetStatus, nullptr);
  }
}

void TCustomInstall::FinishGoodInstall() {
  NotifyGoodInstall();
  WriteCleanupBatch();
  RemoveSetupRecord();
  if (runAutomatic_) Shutdown();
  RunAfterInstallFiles();
  inRun_ = false;
}

void TCustomInstall::NotifyGoodInstall() {
  if (OnBeforeNotifyGoodInstall) OnBeforeNotifyGoodInstall(this);
  Broadcast(msg::kGoodInstall, nullptr);
  Broadcast(msg::kGoodInstallPages, nullptr);
  if (OnAfterNotifyGoodInstall) OnAfterNotifyGoodInstall(this);
}

void TCustomInstall::NotifyBadInstall() {
  if (OnBeforeNotifyBadInstall) OnBeforeNotifyBadInstall(this);
  Broadcast(msg::kBadInstall, nullptr);
  Broadcast(msg::kBadInstallPages, nullptr);
  if (OnAfterNotifyBadInstall) OnAfterNotifyBadInstall(this);
}

void TCustomInstall::Shutdown() {
  bool value = true;
  if (OnBeforeShutdown) OnBeforeShutdown(this, value);
  if (value) TerminateApplication();
}

void TCustomInstall::RunAfterInstallFiles() {
  TProgramLauncher launcher(nullptr);
  const std::vector<TCustomInstallFile*> files = InstallFiles();
  for (TCustomInstallFile* f : files) {
    if (!f->RunAfterInstall()) continue;
    bool run = true;
    if (OnBeforeRunFile) OnBeforeRunFile(this, f, run);
    if (!run) continue;
    launcher.SetFileName(f->DestinationPath());
    launcher.SetParameters(f->RunParameters());
    launcher.SetShowMode(smNormal);
    launcher.Execute();
  }
}

// --- The per-setup record ----------------------------------------------------------------------

std::string TCustomInstall::FindSetupRecord(bool Create) {
  const std::string program = w::GetModuleFileName();
  const int64_t size = w::FileSize(program);
  const double date = w::FileDateToDateTime(w::FileAge(program));
  const double lastRun = startTime_ != 0 ? startTime_ : plat::Now();
  try {
    w::TRegistry reg;
    reg.SetRootKey(w::HKEY_LOCAL_MACHINE);
    if (!reg.OpenKey(kInstallRecordKey, true)) return std::string();
    const std::vector<std::string> names = reg.GetKeyNames();
    for (const std::string& name : names) {
      const std::string key = std::string(kInstallRecordKey) + "\\" + name;
      w::TRegistry sub;
      sub.SetRootKey(w::HKEY_LOCAL_MACHINE);
      if (!sub.OpenKey(key, false)) continue;
      double created;
      int32_t recorded;
      try {
        sub.ReadString("Path");
        created = sub.ReadFloat("CreationDate");
        recorded = sub.ReadInteger("Size");
      } catch (const plat::Exception&) {
        continue;  // not a record of ours
      }
      if (std::fabs(date - created) < 1e-7 && recorded == size) {
        sub.WriteFloat("LastRunDate", lastRun);
        sub.WriteString("Path", program);
        return key;
      }
    }
    if (!Create) return std::string();
    std::string name;
    for (int32_t n = 0;; ++n) {
      name = "Install" + std::to_string(n);
      bool used = false;
      for (const std::string& existing : names) used = used || w::SameName(existing, name);
      if (!used) break;
    }
    const std::string key = std::string(kInstallRecordKey) + "\\" + name;
    w::TRegistry sub;
    sub.SetRootKey(w::HKEY_LOCAL_MACHINE);
    if (!sub.OpenKey(key, true)) return std::string();
    sub.WriteString("Path", program);
    sub.WriteFloat("LastRunDate", lastRun);
    sub.WriteFloat("CreationDate", date);
    sub.WriteInteger("Size", static_cast<int32_t>(size));
    if (HasOption(coSelfExtract)) {
      sub.WriteString("SelfExtract",
                      AddTrailingBackslash(OptionValue(coSource)) + OptionValue(coSelfExtract));
    }
    return key;
  } catch (const plat::Exception&) {
    return std::string();  // the run goes on without a record
  }
}

void TCustomInstall::RemoveSetupRecord() {
  if (recordKey_.empty()) return;
  w::TRegistry reg;
  reg.SetRootKey(w::HKEY_LOCAL_MACHINE);
  if (reg.OpenKey(recordKey_, false)) {
    for (const std::string& name : reg.GetKeyNames()) {
      const std::string sub = recordKey_ + "\\" + name;
      const std::string local = ReadRegString(hkLocalMachine, sub, "LocalFile", "");
      if (!plat::Trim(local).empty()) w::DeleteFile(local);
      DeleteRegTree(hkLocalMachine, sub);
    }
  }
  reg.CloseKey();
  DeleteRegTree(hkLocalMachine, recordKey_);
  DeleteKeyWhenEmpty(kInstallRecordKey);
  // The record's parent was made for it as well.
  DeleteKeyWhenEmpty(kNubraKey);
  DeleteKeyWhenEmpty(kQuillaneKey);
  recordKey_.clear();
}

void TCustomInstall::AddUnfinished(const std::string& Subject, int32_t Kind) {
  if (recordKey_.empty()) throw IEInstall(kNoUnfinished);
  try {
    WriteRegString(hkLocalMachine, recordKey_ + "\\Unfinished", Subject, std::to_string(Kind));
  } catch (const EIRCannotWriteValue&) {
    throw IEInstall(kNoUnfinished);
  }
  ++unfinishedCount_;
}

void TCustomInstall::DropUnfinished() {
  // Without a record there is nothing left over to drop.
  if (recordKey_.empty()) return;
  DeleteRegTree(hkLocalMachine, recordKey_ + "\\Unfinished");
}

void TCustomInstall::AddComRetry(TCustomInstallFile* File) {
  comRetries_.push_back(File);
}

// --- The restart ---------------------------------------------------------------------------------

std::string TCustomInstall::DistributablesProgramFile() const {
  if (HasOption(coSelfExtract)) return AddTrailingBackslash(sourceDir_) + OptionValue(coSelfExtract);
  if (useLoadingProgram_ && arguments_.size() >= 2) {
    return AddTrailingBackslash(sourceDir_) + arguments_[1];
  }
  return w::GetModuleFileName();
}

std::string TCustomInstall::RestartCommand() const {
  const std::string program = w::GetModuleFileName();
  const std::string distributables = DistributablesProgramFile();
  const std::string dir = RemoveTrailingBackslash(w::ExtractWinFilePath(distributables));
  std::string command = "\"" + program + "\" -r ";
  if (HasOption(coSelfExtract)) {
    command += "\"-e" + w::ExtractWinFileName(distributables) + "\" ";
  }
  command += "\"-s" + dir + "\"";
  if (HasOption(coCleanup)) command += " -c";
  return command;
}

void TCustomInstall::RegisterRestart() {
  if (!AddRunOnce(kUnfinishedRunOnce, RestartCommand(), false)) {
    throw IEInstall("Cannot register the install to be run on reboot in the RunOnce key in the registry");
  }
}

bool TCustomInstall::RestartWindows() {
  switch (GetOSVersion()) {
    case oswin95:
    case oswin98:
    case oswinME:
      return w::ExitWindowsEx(w::EWX_REBOOT);
    case oswinNT:
    case oswin2K:
    case oswinXP:
      return w::EnableShutdownPrivilege() && w::ExitWindowsEx(w::EWX_REBOOT);
    default:
      return false;
  }
}

void TCustomInstall::ContinueAfterReboot() {
  inRun_ = true;
  try {
    recordKey_ = FindSetupRecord(false);
    if (recordKey_.empty()) throw IEInstall(kNoUnfinished);
    if (TTranslator* translator = GlobalTranslator()) {
      const int32_t language = ReadRegInteger(hkLocalMachine, recordKey_, "Language",
                                              translator->TranslateIntoLanguage());
      if (language >= 0 && language <= tlVietnamese) {
        translator->SetTranslateIntoLanguage(static_cast<TTrevLanguage>(language));
      }
    }
    // The subject stays the value's name and the kind its data, so a path
    // holding ";" comes back whole.
    std::vector<std::pair<std::string, std::string>> entries;
    {
      w::TRegistry reg;
      reg.SetRootKey(w::HKEY_LOCAL_MACHINE);
      if (reg.OpenKey(recordKey_ + "\\Unfinished", false)) {
        for (const std::string& name : reg.GetValueNames()) {
          entries.emplace_back(name, reg.ReadString(name));
        }
      }
    }
    DeleteRegTree(hkLocalMachine, recordKey_ + "\\Unfinished");
    for (const auto& [subject, kindText] : entries) {
      int32_t kind = 0;
      if (!plat::TryStrToInt(plat::Trim(kindText), kind)) {
        throw IEInstall(plat::Format("There is an invalid entry for the unfinished install list %s",
                                     {subject + ";" + kindText}));
      }
      if (kind == 1) {
        w::DeleteFile(subject);
      } else if (kind == 0) {
        const std::vector<TInstallContainer*> containers = InstallContainers();
        for (TInstallContainer* c : containers) {
          if (w::SameName(c->Name(), subject)) c->FinishAfterReboot();
        }
      }
    }
    FinishGoodInstall();
  } catch (...) {
    HandleRunException(std::current_exception());
  }
}

// --- The clean-up ----------------------------------------------------------------------------------

void TCustomInstall::WriteCleanupBatch() {
  if (!useLoadingProgram_ || !HasOption(coCleanup) || HasOption(coDebug) ||
      ComponentState().Contains(plat::csDesigning)) {
    return;
  }
  bool cleanup = true;
  if (OnBeforeCleanup) OnBeforeCleanup(this, cleanup);
  if (!cleanup) return;
  const std::string program = w::GetModuleFileName();
  const std::string dir = RemoveTrailingBackslash(w::ExtractWinFilePath(program));
  // Only the temporary copy a loading program made is removed: a folder
  // below the temporary folder, never one a person started the program in.
  const std::string temp = plat::UpperCase(AddTrailingBackslash(w::GetTempPath()));
  const std::string upperDir = plat::UpperCase(AddTrailingBackslash(dir));
  if (upperDir.size() <= temp.size() || upperDir.compare(0, temp.size(), temp) != 0) return;
  for (const w::TWinFindData& f : w::FindFiles(dir + "\\*.*")) {
    if ((f.Attributes & w::FILE_ATTRIBUTE_DIRECTORY) == 0) w::DeleteFile(dir + "\\" + f.Name);
  }
  w::RemoveDirectory(dir);
  const std::string batch = NewBatchFileName();
  const std::string pif =
      batch.substr(0, batch.size() - w::ExtractWinFileExt(batch).size()) + ".PIF";
  const bool written = WriteBatchFile(
      batch, {":Repeat", "ERASE \"" + program + "\"", "IF EXIST \"" + program + "\" GOTO Repeat",
              "DELTREE /Y \"" + dir + "\"", "ERASE \"" + pif + "\"", "ERASE \"" + batch + "\""});
  if (written) pendingBatch_ = batch;
}

}  // namespace setup
