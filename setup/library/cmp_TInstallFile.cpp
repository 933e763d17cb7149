#include "setup/library/cmp_TInstallFile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <memory>

#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Strings.h"
#include "platform/win/IniFiles.h"
#include "platform/win/Registry.h"
#include "platform/win/VersionInfo.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinLibraries.h"
#include "platform/win/WinPaths.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TProgramLauncher.h"
#include "setup/library/cmp_TTranslator.h"
#include "setup/library/cmp_TTrevCompress.h"
#include "setup/library/routines_API.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace w = plat::win;

namespace {

std::vector<TCustomInstallFile*>& FileList() {
  static std::vector<TCustomInstallFile*> list;
  return list;
}

// Which UniqueIDs living files hold.
std::array<bool, TCustomInstallFile::kMaxUniqueID>& UsedIds() {
  static std::array<bool, TCustomInstallFile::kMaxUniqueID> used{};
  return used;
}

constexpr const char* kBlankDestination =
    "Cannot compress,copy, or install the following file because it's destination directory is "
    "blank. File is :%s";
constexpr const char* kSharedDllsKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
// "Files", "Files1", ... "Files9": a record that fits in none of them is an
// error, not an endless search.
constexpr int32_t kFilesKeys = 10;

std::string ShortOrSame(const std::string& Path) {
  const std::string s = GetShortPath(Path);
  return s.empty() ? Path : s;
}

TCustomInstall& RequireInstall() {
  TCustomInstall* install = CurrentInstall();
  if (install == nullptr) {
    throw IEInstall("The TInstall could not either write or read unfinished business from the registry");
  }
  return *install;
}

}  // namespace

const std::vector<TCustomInstallFile*>& InstallFiles() {
  return FileList();
}

TCustomInstallFile::TCustomInstallFile(plat::TComponent* AOwner) : TFileRelated(AOwner) {
  SetNet(false);
  if (AOwner == nullptr || !AOwner->ComponentState().Contains(plat::csLoading)) TakeFreeID();
  FileList().push_back(this);
}

void TCustomInstallFile::TakeFreeID() {
  auto& used = UsedIds();
  for (int32_t id = 0; id < kMaxUniqueID; ++id) {
    if (!used[static_cast<size_t>(id)]) {
      used[static_cast<size_t>(id)] = true;
      uniqueID_ = id;
      break;
    }
  }
}

void TCustomInstallFile::Loaded() {
  TFileRelated::Loaded();
  if (uniqueID_ < 0) TakeFreeID();
}

const plat::TPropList& TCustomInstallFile::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TCustomInstallFile>(TFileRelated::PublishedProperties())
          .Boolean("Net", &TCustomInstallFile::Net, &TCustomInstallFile::SetNet, false)
          .String("FileName", &TCustomInstallFile::FileName, &TCustomInstallFile::SetFileName)
          .String("IncludeFromDir", &TCustomInstallFile::IncludeFromDir,
                  &TCustomInstallFile::SetIncludeFromDir)
          .String("DestName", &TCustomInstallFile::DestName, &TCustomInstallFile::SetDestName)
          .Set("InstallAttributes", &TCustomInstallFile::InstallAttributes,
               &TCustomInstallFile::SetInstallAttributes,
               {"tfaArchive", "tfaCompressed", "tfaDirectory", "tfaHidden", "tfaNormal",
                "tfaOffline", "tfaReadOnly", "tfaSystem", "tfaTemporary"},
               TTrevFileAttributesSet{})
          .Boolean("ActiveX", &TCustomInstallFile::ActiveX, &TCustomInstallFile::SetActiveX, false)
          .Enumeration("FileType", &TCustomInstallFile::FileType, &TCustomInstallFile::SetFileType,
                       {"iftNormal", "iftJustADLL", "iftApplicationSpecificDLL",
                        "iftVendorSharedDLL", "iftSystemWideDLL"},
                       iftNormal)
          .Enumeration("OverwriteMode", &TCustomInstallFile::OverwriteMode,
                       &TCustomInstallFile::SetOverwriteMode,
                       {"owAlways", "owNever", "owVersion", "owDate", "owVersionDate", "owAsk"},
                       owAlways)
          .Boolean("RegisterAsHelp", &TCustomInstallFile::RegisterAsHelp,
                   &TCustomInstallFile::SetRegisterAsHelp, false)
          .Boolean("RunAfterInstall", &TCustomInstallFile::RunAfterInstall,
                   &TCustomInstallFile::SetRunAfterInstall, false)
          .String("RunParameters", &TCustomInstallFile::RunParameters,
                  &TCustomInstallFile::SetRunParameters)
          .Boolean("UpdateDLLCounter", &TCustomInstallFile::UpdateDLLCounter,
                   &TCustomInstallFile::SetUpdateDLLCounter, false)
          .Integer("UniqueID", &TCustomInstallFile::UniqueID, &TCustomInstallFile::SetUniqueID)
          .Event("OnBeforeInstall", &TCustomInstallFile::OnBeforeInstall, &TCustomInstallFile::EventBindings)
          .Event("OnAfterInstall", &TCustomInstallFile::OnAfterInstall, &TCustomInstallFile::EventBindings)
          .Event("OnReplacing", &TCustomInstallFile::OnReplacing, &TCustomInstallFile::EventBindings)
          .Event("OnBeforeCompress", &TCustomInstallFile::OnBeforeCompress, &TCustomInstallFile::EventBindings)
          .Event("OnAfterCompress", &TCustomInstallFile::OnAfterCompress, &TCustomInstallFile::EventBindings)
          .Event("OnBeforeCopy", &TCustomInstallFile::OnBeforeCopy, &TCustomInstallFile::EventBindings)
          .Event("OnAfterCopy", &TCustomInstallFile::OnAfterCopy, &TCustomInstallFile::EventBindings)
          .Event("OnStatus", &TCustomInstallFile::OnStatus, &TCustomInstallFile::EventBindings)
          .Event("OnNewDisk", &TCustomInstallFile::OnNewDisk, &TCustomInstallFile::EventBindings);
  return list;
}

TCustomInstallFile::~TCustomInstallFile() {
  if (uniqueID_ >= 0) UsedIds()[static_cast<size_t>(uniqueID_)] = false;
  auto& list = FileList();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TCustomInstallFile::SetUniqueID(int32_t Value) {
  if (Value == uniqueID_) return;
  auto& used = UsedIds();
  if (Value < 0 || Value >= kMaxUniqueID || used[static_cast<size_t>(Value)]) {
    throw IECustomInstallFile(plat::Format("The UniqueID %d of %s is not free", {Value, Name()}));
  }
  if (uniqueID_ >= 0) used[static_cast<size_t>(uniqueID_)] = false;
  used[static_cast<size_t>(Value)] = true;
  uniqueID_ = Value;
}

// --- Classification --------------------------------------------------------------------

namespace {

// True when the version resource of a source names it a self-registering
// server.
bool SelfRegistering(const std::string& Source) {
  std::string block, translation, value;
  if (!w::GetFileVersionInfo(Source, block) ||
      !w::VerQueryValue(block, "\\VarFileInfo\\Translation", translation) ||
      translation.size() < 4) {
    return false;
  }
  const auto u16 = [&](size_t at) {
    return static_cast<int32_t>(static_cast<uint8_t>(translation[at]) |
                                static_cast<uint8_t>(translation[at + 1]) << 8);
  };
  char code[9];
  std::snprintf(code, sizeof code, "%04X%04X", static_cast<unsigned>(u16(0)),
                static_cast<unsigned>(u16(2)));
  const std::string sub = std::string("\\StringFileInfo\\") + code + "\\OLESelfRegister";
  return w::VerQueryValue(block, sub, value);
}

}  // namespace

void TCustomInstallFile::SetFileName(const std::string& Value) {
  fileName_ = Value;
  Classify(chFileName);
}

void TCustomInstallFile::SetIncludeFromDir(const std::string& Value) {
  includeFromDir_ = Value;
  Classify(chIncludeFromDir);
}

void TCustomInstallFile::SetDestName(const std::string& Value) {
  destName_ = Value;
  Classify(chDestName);
}

void TCustomInstallFile::SetDestDir(const std::string& Value) {
  TFileRelated::SetDestDir(Value);
  Classify(chDestDir);
}

void TCustomInstallFile::SetDestDirType(TCustomPathSpecifier* Value) {
  TFileRelated::SetDestDirType(Value);
  Classify(chDestDirType);
}

void TCustomInstallFile::SetActiveX(bool Value) {
  activeX_ = Value;
  if (Value && !ComponentState().Contains(plat::csLoading)) SetFileType(iftSystemWideDLL);
}

void TCustomInstallFile::SetFileType(TInstallFileType Value) {
  fileType_ = Value;
  if (ComponentState().Contains(plat::csLoading)) return;
  auto place = [this](const char* specifier, const char* dir) {
    try {
      TFileRelated::SetDestDirType(FindStandardSpecifier(specifier));
      TFileRelated::SetDestDir(dir);
    } catch (const IEPathSpecifier&) {
      // Without an install or a form of specifiers the destination stays.
    }
  };
  switch (Value) {
    case iftNormal:
      break;
    case iftJustADLL:
      overwriteMode_ = owVersionDate;
      break;
    case iftApplicationSpecificDLL:
      overwriteMode_ = owVersionDate;
      place("TpsMainInstall", "\\System");
      break;
    case iftVendorSharedDLL:
      updateDLLCounter_ = true;
      overwriteMode_ = owVersionDate;
      place("TpsCommonFiles", "\\System");
      break;
    case iftSystemWideDLL:
      updateDLLCounter_ = true;
      overwriteMode_ = owVersionDate;
      place("TpsSystem", "");
      break;
  }
}

void TCustomInstallFile::Classify(TChange Change) {
  if (ComponentState().Contains(plat::csLoading)) return;
  const std::string source = AddTrailingBackslash(includeFromDir_) + fileName_;
  if (FileContainer() != nullptr &&
      (Change == chContainer || Change == chFileName || Change == chIncludeFromDir)) {
    for (int32_t i = 0; i < FileContainer()->HelperCount(); ++i) {
      auto* other = dynamic_cast<TCustomInstallFile*>(FileContainer()->Helpers(i));
      if (other == nullptr || other == this || other->fileName_.empty()) continue;
      if (w::SameName(AddTrailingBackslash(other->includeFromDir_) + other->fileName_, source)) {
        throw IEfcDuplicateFile(plat::Format("There is already a file with the name :%s", {source}));
      }
    }
  }
  const std::string ext = plat::UpperCase(w::ExtractWinFileExt(fileName_));
  if (Change == chFileName && !plat::Trim(fileName_).empty()) destName_ = fileName_;
  if (Change == chFileName || Change == chIncludeFromDir) {
    registerAsHelp_ = ext == ".HLP" || ext == ".CNT";
    const bool server = ext == ".TLB" || ext == ".OCX" ||
                        (ext != ".EXE" && w::FileExists(source) && SelfRegistering(source));
    SetActiveX(server);
  }
  if (Change == chDestDirType && DestDirType() != nullptr &&
      (ext == ".DLL" || ext == ".OCX" || ext == ".BLL" || ext == ".EXE")) {
    const std::string kind = DestDirType()->ClassName();
    if (kind == "TpsWindow" || kind == "TpsBDEDLL") overwriteMode_ = owVersionDate;
    if (kind == "TpsSystem" && fileType_ != iftSystemWideDLL) SetFileType(iftSystemWideDLL);
  }
}

void TCustomInstallFile::SetContainer(TInstallContainer* Value) {
  if (Value != nullptr && dynamic_cast<TFileContainer*>(Value) == nullptr) {
    throw IECustomInstallFile(plat::Format(
        "The following TInstallFile component %s requires the Container property to be a "
        "component descended from the TFileContainer component",
        {Name()}));
  }
  TFileRelated::SetContainer(Value);
  Classify(chContainer);
}

TFileContainer* TCustomInstallFile::FileContainer() const {
  return dynamic_cast<TFileContainer*>(Container());
}

std::string TCustomInstallFile::DestinationPath() {
  return AddTrailingBackslash(GetFullDestDir()) + destName_;
}

void TCustomInstallFile::Report(int32_t Code, TFileStatusParameter* Status, TDiskParameter* Disk) {
  TInformation information;
  information.File = this;
  information.Status = Status;
  information.Disk = Disk;
  if (Container() != nullptr) Container()->DoInformationEventControl(this, Code, information);
}

// --- The archive record -------------------------------------------------------------------

void TCustomInstallFile::ReportArchiveStatus(const TlzhFileStats& Stats, int32_t Code) {
  TFileStatusParameter status;
  status.FileBytesDone = Stats.FileBytesDone;
  status.FilePercentDone = Stats.FilePercentDone;
  status.FileName = fileName_;
  status.Finished = Stats.Finished;
  if (OnStatus) OnStatus(this, status);
  Broadcast(msg::kFileStatus, &status);
  Report(Code, &status);
}

void TCustomInstallFile::TakeListedInfo(uint32_t Size, double DateTime, const std::string& Version) {
  uncompressedSize_ = Size;
  fileDateTime_ = DateTime;
  versionText_ = Version.substr(0, 20);
  recordRead_ = true;
}

void TCustomInstallFile::Compress(bool Append) {
  state_ = 1;
  struct TIdle {
    int32_t& state;
    ~TIdle() { state = 0; }
  } idle{state_};
  compressedInto_.clear();
  Report(info::kBeforeCompress);
  try {
    if (OnBeforeCompress) OnBeforeCompress(this);
  } catch (const plat::EAbort&) {
    return;
  }
  const std::string archiveName = GetFullArchiveFile();
  if (plat::Trim(archiveName).empty()) {
    throw IECustomInstallFile(plat::Format(
        "Cannot either compress or decompress the following file because it's archive file "
        "property is blank. File is :%s",
        {fileName_}));
  }
  if (!Include()) return;
  w::ForceDirectories(w::ExtractWinFileDir(archiveName));
  TCustomInstall* install = CurrentInstall();
  std::unique_ptr<TTrevCompress> temporary;
  TTrevCompress* archive = install != nullptr ? &install->Archive() : nullptr;
  if (archive == nullptr) {
    temporary = std::make_unique<TTrevCompress>(nullptr);
    archive = temporary.get();
  }
  struct TUnhook {
    TTrevCompress& a;
    ~TUnhook() { a.OnStatus = nullptr; }
  } unhook{*archive};
  archive->OnStatus = [this](plat::TObject*, TlzhFileStats& Stats) {
    ReportArchiveStatus(Stats, info::kCompressing);
  };
  archive->SetOffset(0);
  archive->SetCompressedFile(archiveName);
  archive->FilesToProcess().Clear();
  archive->FilesToProcess().Add(AddTrailingBackslash(includeFromDir_) + fileName_);
  archive->Compress(Append || AddToArchive() == lzcOnlyAdd, uniqueID_);
  if (archive->Abort()) {
    Broadcast(msg::kCloseCopyPages, nullptr);
    return;
  }
  compressedInto_ = archiveName;
  if (OnAfterCompress) OnAfterCompress(this);
  Report(info::kAfterCompress);
}

void TCustomInstallFile::ReadInfoFromArchive() {
  if (InstallRunActive() && recordRead_) return;
  std::string archiveName;
  if (HasLocalArchive()) {
    archiveName = LocalArchive();
  } else if (FileContainer() != nullptr && FileContainer()->HasLocalArchive()) {
    archiveName = FileContainer()->LocalArchive();
  } else {
    TCustomInstall* root = CurrentInstall();
    // As for the extraction, a web distribution fetches every file: it has
    // no main archive to read a record from.
    const bool network = root != nullptr && root->DistributeType() != dtTraditional &&
                         (Net() || root->DistributeType() == dtWeb);
    if (network && FileContainer() == nullptr) {
      throw IECustomInstallFile(plat::Format(
          "%s cannot perform ReadInfoFromArchive because either no container is assigned or the "
          "container is not TFileContainer",
          {Name()}));
    }
    // Nothing fetched yet: the record is read from the copy once it is.
    if (network) return;
    archiveName = GetFullArchiveFile();
  }
  if (plat::Trim(archiveName).empty()) {
    throw IECustomInstallFile(plat::Format(
        "Cannot either compress or decompress the following file because it's archive file "
        "property is blank. File is :%s",
        {fileName_}));
  }
  TCustomInstall* install = CurrentInstall();
  std::unique_ptr<TTrevCompress> temporary;
  TTrevCompress* archive;
  if (install != nullptr && w::SameName(archiveName, install->GetFullArchiveFile())) {
    archive = &install->Archive();
  } else {
    temporary = std::make_unique<TTrevCompress>(nullptr);
    archive = temporary.get();
  }
  archive->SetCompressedFile(archiveName);
  const int32_t index = archive->IndexOfID(uniqueID_);
  if (index < 0) return;  // extraction names the missing member
  const TFileHeader& h = archive->FileHeaders().FileHeaders(index);
  compressedSize_ = h.CompressedSize;
  fileDateTime_ = h.FileDate;
  uncompressedSize_ = h.UncompressedSize;
  versionText_ = h.FileVersion.substr(0, 20);
  recordRead_ = true;
}

// --- The run ------------------------------------------------------------------------------

bool TCustomInstallFile::Replaces(int32_t Decision) {
  if (Decision == 1 || Decision == 3) return false;
  if (Decision != 4) return true;
  TInstallUI* ui = CurrentInstall() != nullptr ? CurrentInstall()->UI() : nullptr;
  const std::string question = plat::Format(TranslateText("Copy This File %s?"), {fileName_});
  return ui == nullptr || ui->MessageBox(question, ibYesNo) == iaYes;
}

void TCustomInstallFile::Copy() {
  state_ = 3;
  struct TIdle {
    int32_t& state;
    ~TIdle() { state = 0; }
  } idle{state_};
  Report(info::kBeforeCopy);
  try {
    if (OnBeforeCopy) OnBeforeCopy(this);
  } catch (const plat::EAbort&) {
    return;
  }
  if (!Include()) return;
  const std::string dir = GetFullDestDir();
  if (plat::Trim(dir).empty()) {
    throw IECustomInstallFile(plat::Format(kBlankDestination, {fileName_}));
  }
  w::ForceDirectories(dir);
  const std::string source = AddTrailingBackslash(includeFromDir_) + fileName_;
  const std::string destination = DestinationPath();
  std::ifstream in(w::HostPath(source), std::ios::binary);
  if (!w::FileExists(source) || !in) {
    throw IECustomInstallFile(plat::Format("Cannot open the file %s", {source}));
  }
  bool copy = true;
  if (w::FileExists(destination)) {
    const int32_t decision = IsFileNewerByName(source, destination, overwriteMode_);
    if (decision == 0) throw IECustomInstallFile("Error comparing file versions in TTrevCompress");
    copy = Replaces(decision);
  }
  TFileStatusParameter status;
  status.FileName = fileName_;
  if (copy) {
    // Written beside the destination and renamed, so an abort or a failed
    // write leaves the former file as it was.
    const std::string partial = destination + ".$$$";
    const auto dropPartial = plat::OnScopeExit([&partial] { w::DeleteFile(partial); });
    std::ofstream out(w::HostPath(partial), std::ios::binary | std::ios::trunc);
    const int64_t size = std::max<int64_t>(0, w::FileSize(source));
    TCustomInstall* install = CurrentInstall();
    char block[8192];
    while (out && in.read(block, sizeof block), in.gcount() > 0) {
      if (install != nullptr && install->Archive().Abort()) {
        throw IECustomInstallFile("Creating Install Aborted!");
      }
      out.write(block, in.gcount());
      status.FileBytesDone += in.gcount();
      status.FilePercentDone =
          size > 0 ? static_cast<int32_t>(status.FileBytesDone * 100 / size) : 100;
      if (OnStatus) OnStatus(this, status);
      Broadcast(msg::kFileStatus, &status);
      Report(info::kCopying, &status);
    }
    out.close();
    if (!out || in.bad() || !w::MoveFileEx(partial, destination, w::MOVEFILE_REPLACE_EXISTING)) {
      throw IECustomInstallFile(plat::Format("Cannot create the file %s", {destination}));
    }
    w::FileSetDate(destination, w::FileAge(source));
  }
  status.Finished = true;
  status.FilePercentDone = 100;
  if (OnStatus) OnStatus(this, status);
  Broadcast(msg::kFileStatus, &status);
  Report(info::kCopying, &status);
  if (OnAfterCopy) OnAfterCopy(this);
  Report(info::kAfterCopy);
}

void TCustomInstallFile::ProcessHelpers() {
  inUse_ = false;
  extractName_.clear();
  Report(info::kFileStart);
  try {
    if (OnBeforeInstall) OnBeforeInstall(this);
  } catch (const plat::EAbort&) {
    Report(info::kFileDone);
    return;
  }
  if (plat::Trim(GetFullDestDir()).empty()) {
    throw IECustomInstallFile(plat::Format(kBlankDestination, {fileName_}));
  }
  const std::string destination = DestinationPath();
  bool copy = true;
  if (w::FileExists(destination)) {
    copy = Replaces(IsFileNewer(versionText_, destination, overwriteMode_, fileDateTime_));
  }
  if (copy) {
    try {
      PrepareDestination(destination);
    } catch (const plat::EAbort&) {
      copy = false;
    }
  }
  if (copy) {
    TakeRecordedLocalArchive();
    TCustomInstall* install = CurrentInstall();
    const bool network = install != nullptr && install->DistributeType() != dtTraditional &&
                         (Net() || install->DistributeType() == dtWeb);
    if (network) {
      // Its own archive when it has a location of its own or its version
      // counts, else its container's, fetched once.
      std::string local;
      if (NetLocation() != nullptr || overwriteMode_ == owVersion || overwriteMode_ == owDate ||
          overwriteMode_ == owVersionDate || FileContainer() == nullptr) {
        if (!HasLocalArchive()) Download();
        local = LocalArchive();
      } else {
        if (!FileContainer()->HasLocalArchive()) FileContainer()->Download();
        local = FileContainer()->LocalArchive();
      }
      TTrevCompress temporary(nullptr);
      Extract(temporary, local);
    } else if (install != nullptr &&
               w::SameName(GetFullArchiveFile(), install->GetFullArchiveFile()) &&
               !HasLocalArchive()) {
      Extract(install->Archive(), GetFullArchiveFile());
    } else {
      TTrevCompress temporary(nullptr);
      Extract(temporary, HasLocalArchive() ? LocalArchive() : GetFullArchiveFile());
    }
  } else {
    Report(info::kFileSkipped);
    AfterCopy();
    if (OnAfterInstall) OnAfterInstall(this);
    Report(info::kFileInstalled);
    TInstallContainer::ProcessHelpers();
  }
  installedThisRun_ = true;
}

void TCustomInstallFile::PrepareDestination(const std::string& Destination) {
  Report(info::kReplacing);
  if (OnReplacing) OnReplacing(this);
  if (!w::FileExists(Destination) || w::DeleteFile(Destination)) return;
  // In use: extract beside it and leave the swap to the restart.
  inUse_ = true;
  const std::string dir = GetFullDestDir();
  std::string sibling;
  for (int32_t n = 1;; ++n) {
    sibling = destName_ + "." + std::to_string(n);
    if (!w::FileExists(AddTrailingBackslash(dir) + sibling)) break;
    if (n == 9999) {
      throw IECustomInstallFile(plat::Format("%s cannot find a free name beside %s",
                                             {Name(), Destination}));
    }
  }
  extractName_ = sibling;
  const std::string oldShort = ShortOrSame(Destination);
  const std::string temporary = AddTrailingBackslash(ShortOrSame(dir)) + sibling;
  TCustomInstall& install = RequireInstall();
  if (!kOSNTFamily.Contains(GetOSVersion())) {
    w::TIniFile ini(AddTrailingBackslash(GetWindowsDir()) + "WININIT.INI");
    ini.WriteString("Rename", oldShort, temporary);
    install.SetReboot(true);
    return;
  }
  install.SetReboot(true);
  if (w::MoveFileEx(temporary, Destination,
                    w::MOVEFILE_REPLACE_EXISTING | w::MOVEFILE_DELAY_UNTIL_REBOOT)) {
    return;
  }
  // The move could not be recorded: a batch run at the next start does it.
  const std::string batchName = NewBatchFileName();
  const bool written = WriteBatchFile(
      batchName,
      {"erase \"" + oldShort + "\"", "move \"" + temporary + "\" \"" + oldShort + "\""});
  if (written) install.AddUnfinished(batchName, 1);
  if (!written || !AddRunOnce("QuillaneBatFile", batchName, false)) {
    throw IECustomInstallFile(plat::Format(
        "%s cannot register a routine in the register to move the files after the computer is "
        "reboot",
        {Name()}));
  }
}

void TCustomInstallFile::Extract(TTrevCompress& Archive, const std::string& ArchiveName) {
  state_ = 2;
  const std::string dir = GetFullDestDir();
  w::ForceDirectories(dir);
  TCustomInstall* install = CurrentInstall();
  Archive.SetCompressedFile(ArchiveName);
  Archive.SetExtractDirectory(dir);
  Archive.SetExtractAsName(extractName_.empty() ? destName_ : extractName_);
  Archive.SetOverwrite(overwriteMode_);
  struct TUnhook {
    TTrevCompress& a;
    ~TUnhook() {
      a.OnAborted = nullptr;
      a.OnNewDisk = nullptr;
      a.OnStatus = nullptr;
    }
  } unhook{Archive};
  Archive.OnAborted = [](plat::TObject*) { throw EAIUserAbort(); };
  Archive.OnNewDisk = [this, &Archive](plat::TObject*, int32_t Disk, std::string& Path) {
    TDiskParameter disk;
    disk.Disk = Disk;
    disk.Path = Path;
    Report(info::kNewDisk, nullptr, &disk);
    if (OnNewDisk) OnNewDisk(this, disk.Disk, disk.Path);
    TCustomInstall* root = CurrentInstall();
    if (!OnNewDisk && !disk.Handled && root != nullptr && root->UI() != nullptr) {
      const std::string text = plat::Format(TranslateText("Please insert disk #%d"), {Disk});
      if (root->UI()->MessageBox(text, ibOKCancel) == iaCancel) Archive.SetAbort(true);
    }
    Path = RemoveTrailingBackslash(disk.Path);
    SetMainArchiveDirectory(Path);
  };
  Archive.OnStatus = [this](plat::TObject*, TlzhFileStats& Stats) {
    ReportArchiveStatus(Stats, info::kExtracting);
  };
  Archive.FilesToProcess().Add(AddTrailingBackslash(includeFromDir_) + fileName_);
  try {
    Archive.Extract();
    AfterCopy();
    if (OnAfterInstall) OnAfterInstall(this);
    Report(info::kFileInstalled);
    TInstallContainer::ProcessHelpers();
  } catch (...) {
    if (install != nullptr && &Archive != &install->Archive() && Archive.Abort()) {
      install->Archive().SetAbort(true);
    }
    state_ = 0;
    throw;
  }
  if (install != nullptr && &Archive != &install->Archive() && Archive.Abort()) {
    install->Archive().SetAbort(true);
  }
  try {
    Broadcast(msg::kCloseCopyPages, nullptr);
  } catch (...) {
    if (install != nullptr) install->Archive().SetAbort(true);
    state_ = 0;
    throw;
  }
  state_ = 0;
}

void TCustomInstallFile::AfterCopy() {
  const std::string dir = GetFullDestDir();
  const std::string destination = DestinationPath();
  if (registerAsHelp_) {
    WriteRegString(hkLocalMachine, "\\SOFTWARE\\Microsoft\\Windows\\Help",
                   plat::UpperCase(destName_), dir);
  }
  if (updateDLLCounter_) {
    w::TRegistry reg;
    reg.SetRootKey(w::HKEY_LOCAL_MACHINE);
    if (!reg.OpenKey(kSharedDllsKey, true)) {
      throw IECustomInstallFile(plat::Format(
          "Could not open the key SharedDLLs key in the registry. File component %s. "
          "GetLastError return: %d",
          {Name(), static_cast<int32_t>(w::GetLastError())}));
    }
    const std::string shortName = ShortOrSame(destination);
    try {
      reg.WriteInteger(shortName, reg.ReadInteger(shortName) + 1);
    } catch (const plat::Exception&) {
      try {
        const int32_t count = reg.ValueExists(destination) ? reg.ReadInteger(destination) : 0;
        reg.WriteInteger(destination, count + 1);
      } catch (const plat::Exception&) {
        throw IECustomInstallFile(
            plat::Format("Cannot update the DLL count for the following file :%s:", {destination}));
      }
    }
  }
  if (inUse_) {
    RequireInstall().AddUnfinished(Name(), 0);
  } else if (activeX_) {
    try {
      RegisterActiveX();
    } catch (const plat::Exception&) {
      // Another server it needs may come later in the run: try once more at
      // its end.
      RequireInstall().AddComRetry(this);
    }
  }
}

void TCustomInstallFile::RegisterActiveX() {
  const std::string dir = GetFullDestDir();
  const std::string destination = DestinationPath();
  if (plat::Trim(dir).empty() || !w::FileExists(destination)) {
    throw IECustomInstallFile(plat::Format(kBlankDestination, {fileName_}));
  }
  const std::string ext = plat::UpperCase(w::ExtractWinFileExt(destination));
  if (ext == ".EXE") {
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName(destination);
    launcher.SetParameters("/REGSERVER");
    launcher.SetShowMode(smHide);
    launcher.Execute();
    return;
  }
  // Type libraries and in-process servers load into this process, which the
  // virtual Windows can only do for its own system libraries.
  const w::HMODULE module = w::LoadLibrary(destination);
  if (module == nullptr) {
    throw IECustomInstallFile(plat::Format(
        "Could not register the ActiveX component, %s, because the LoadLibrary(%s) procedure "
        "returned a value of 0. The file component is %s. The following value is the value of "
        "the GetLastError function: %d",
        {destination, destination, Name(), static_cast<int32_t>(w::GetLastError())}));
  }
  const w::FARPROC entry = w::GetProcAddress(module, "DllRegisterServer");
  const uint32_t error = w::GetLastError();
  w::FreeLibrary(module);
  if (entry == nullptr) {
    throw IECustomInstallFile(plat::Format(
        "Could not register the ActiveX component, %s, because the DllRegisterServer function "
        "could not be found. The file component is %s. The following value is the value of the "
        "GetLastError function: %d",
        {destination, Name(), static_cast<int32_t>(error)}));
  }
}

void TCustomInstallFile::FinishAfterReboot() {
  if (activeX_) RegisterActiveX();
  SetFileAttributesFromSet(DestinationPath(), installAttributes_);
}

void TCustomInstallFile::WriteUninstallInfo(const std::string& Key) {
  const std::string destination = DestinationPath();
  if (activeX_) {
    const std::string key = Key + "ActiveX";
    const int32_t n = plat::StrToIntDef(ReadRegString(hkLocalMachine, key, "Entries", "0"), 0) + 1;
    const std::string ext = plat::UpperCase(w::ExtractWinFileExt(destination));
    const char* kind = ext == ".EXE" ? "0" : ext == ".TLB" ? "2" : "1";
    WriteRegString(hkLocalMachine, key, "File" + std::to_string(n), destination + ";" + kind);
    WriteRegString(hkLocalMachine, key, "Entries", std::to_string(n));
    return;
  }
  for (int32_t attempt = 0;; ++attempt) {
    const std::string key = Key + "Files" + (attempt == 0 ? "" : std::to_string(attempt));
    try {
      const int32_t n =
          plat::StrToIntDef(ReadRegString(hkLocalMachine, key, "Entries", "0"), 0) + 1;
      WriteRegString(hkLocalMachine, key, "File" + std::to_string(n), destination);
      WriteRegString(hkLocalMachine, key, "Entries", std::to_string(n));
      return;
    } catch (const EIRCannotWriteValue&) {
      if (attempt + 1 == kFilesKeys) throw;
    }
  }
}

}  // namespace setup
