#include "setup/library/cmp_TInstallContainer.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"
#include "platform/win/Registry.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TInstallFile.h"
#include "setup/library/cmp_TNetInstallLocation.h"
#include "setup/library/routines_API.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace w = plat::win;

namespace {

std::vector<TInstallContainer*>& ContainerList() {
  static std::vector<TInstallContainer*> list;
  return list;
}

// The shared standard specifier of a class, when a form made one.
TCustomPathSpecifier* StandardOrNull(const std::string& ClassName) {
  try {
    return FindStandardSpecifier(ClassName);
  } catch (const IEPathSpecifier&) {
    return nullptr;  // no form gave the classes instances: nothing to link
  }
}

bool Loading(const plat::TComponent& c) {
  return c.ComponentState().Contains(plat::csLoading);
}

// A percentage of a total; nothing to do counts as nothing done until it is
// finished.
int32_t Percent(int64_t Done, int64_t Total, bool Finished) {
  if (Total <= 0) return Finished ? 100 : 0;
  return static_cast<int32_t>(
      std::lround(std::min(1.0, static_cast<double>(Done) / static_cast<double>(Total)) * 100.0));
}

}  // namespace

const std::vector<TInstallContainer*>& InstallContainers() {
  return ContainerList();
}

bool InstallRunActive() {
  return CurrentInstall() != nullptr && CurrentInstall()->InRun();
}

// --- TInstallContainer ----------------------------------------------------------------

TInstallContainer::TInstallContainer(plat::TComponent* AOwner) : plat::TComponent(AOwner) {
  os_ = OSSet{oswin95, oswinNT, oswin2K, oswin98, oswinME, oswinXP};
  ContainerList().push_back(this);
  EnsureStandardSpecifiers(AOwner);
}

TInstallContainer::~TInstallContainer() {
  auto& list = ContainerList();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  for (TInstallContainer* c : list) c->ComponentRemoved(this);
}

void TInstallContainer::Notification(plat::TComponent* AComponent, plat::TOperation Operation) {
  plat::TComponent::Notification(AComponent, Operation);
  if (Operation == plat::opRemove) ComponentRemoved(AComponent);
}

void TInstallContainer::ComponentRemoved(plat::TComponent* AComponent) {
  if (destDirType_ == AComponent) destDirType_ = nullptr;
  if (messageTarget_ == AComponent) messageTarget_ = nullptr;
  helpers_.erase(std::remove(helpers_.begin(), helpers_.end(), AComponent), helpers_.end());
}

void TInstallContainer::SetDestDirType(TCustomPathSpecifier* Value) {
  if (Value != nullptr && !Loading(*this)) Value->ValidateObject(this);
  destDirType_ = Value;
  // Siblings on a form are not told of each other's end otherwise.
  if (Value != nullptr) Value->FreeNotification(this);
}

void TInstallContainer::SetInstallTypes(TInstallTypeSet Value) {
  installTypes_ = Value.Empty() ? TInstallTypeSet{itFull} : Value;
}

void TInstallContainer::SetInstallTypeIndex(int32_t Value) {
  for (TInstallContainer* h : helpers_) h->SetInstallTypeIndex(Value);
  installTypeIndex_ = Value;
}

TInstallContainer* TInstallContainer::Helpers(int32_t Index) const {
  if (Index < 0 || Index >= HelperCount()) {
    throw IEInstallContainer(plat::Format(
        "Tried to reference a helper component in the following component: %s. The following "
        "index was used: %d",
        {Name(), Index}));
  }
  return helpers_[static_cast<size_t>(Index)];
}

TInstallContainer* TInstallContainer::Comp(const std::string& ClassName, int32_t Index) const {
  int32_t n = 0;
  for (TInstallContainer* h : helpers_) {
    if (h->ClassName() == ClassName && n++ == Index) return h;
  }
  throw IEInstallContainer(plat::Format(
      "Tried to reference a helper component in the following component: %s. The following "
      "index was used: %d",
      {Name(), Index}));
}

int32_t TInstallContainer::GetFileContainerCount() const {
  return 0;
}

TFileContainer* TInstallContainer::GetFileContainer(int32_t) const {
  return nullptr;
}

void TInstallContainer::ShowStatus(const std::string& Text) {
  TMessageParameter parameter(Text);
  Broadcast(msg::kStatus, &parameter);
}

void TInstallContainer::DoInformationEventControl(TInstallContainer* Sender, int32_t Code,
                                                  TInformation& Param) {
  if (Container() != nullptr) Container()->DoInformationEventControl(Sender, Code, Param);
}

int32_t TInstallContainer::InstallMessage(TInstallContainer*, int32_t, plat::TObject*) {
  return 0;
}

int32_t TInstallContainer::Broadcast(int32_t Code, plat::TObject* Param) {
  if (messageTarget_ != nullptr) return messageTarget_->InstallMessage(this, Code, Param);
  int32_t result = 0;
  const std::vector<TInstallContainer*> helpers = helpers_;
  for (TInstallContainer* h : helpers) {
    if (h->RegisteredType() >= 2000) result = h->InstallMessage(this, Code, Param);
  }
  return result;
}

std::string TInstallContainer::GetFullDestDir() {
  const std::string base = destDirType_ != nullptr ? destDirType_->Expand(this) : std::string();
  return RemoveTrailingBackslash(base + destDir_);
}

int32_t TInstallContainer::RegisteredType() const {
  throw IEInstallContainer("Class must declare a registered type");
}

void TInstallContainer::AddHelper(TInstallContainer* Helper) {
  if (Helper == nullptr) {
    throw IEInstallContainer(
        plat::Format("Cannot add a blank base helper component to %s", {Name()}));
  }
  for (TInstallContainer* c = this; c != nullptr; c = c->Container()) {
    if (c == Helper) throw IEInstallContainer("Circular reference");
  }
  if (std::find(helpers_.begin(), helpers_.end(), Helper) != helpers_.end()) return;
  auto at = helpers_.end();
  if (plat::UpperCase(Helper->ClassName()) == "TINSTALLBDE") {
    at = helpers_.begin();
  } else {
    const int32_t type = Helper->RegisteredType();
    // After the helpers of its own type, so that helpers of one type keep
    // the order they were added in.
    at = std::find_if(helpers_.begin(), helpers_.end(),
                      [type](TInstallContainer* h) { return h->RegisteredType() > type; });
  }
  helpers_.insert(at, Helper);
}

void TInstallContainer::RemoveHelper(TInstallContainer* Helper) {
  helpers_.erase(std::remove(helpers_.begin(), helpers_.end(), Helper), helpers_.end());
}

bool TInstallContainer::IsIncluded() const {
  return include_ && (installTypeIndex_ == itCustom ||
                      installTypes_.Contains(static_cast<TInstallType>(installTypeIndex_)));
}

void TInstallContainer::Install() {
  if (!os_.Contains(GetOSVersion())) include_ = false;
  try {
    if (OnBeforeProcess) OnBeforeProcess(this);
    if (!include_) return;
    if (installTypeIndex_ != itCustom &&
        !installTypes_.Contains(static_cast<TInstallType>(installTypeIndex_))) {
      return;
    }
    ProcessHelpers();
    processed_ = true;
    TCustomInstall* install = CurrentInstall();
    if (install != nullptr && uninstall_) {
      // With its separator, so the records are subkeys of the product key.
      WriteUninstallInfo(kUninstallListKey + install->Information().ProductName() + "\\");
    }
    if (OnAfterProcess) OnAfterProcess(this);
  } catch (const plat::EAbort&) {
    // A step that stops itself silently ends this container only.
  }
}

void TInstallContainer::ProcessHelpers() {
  processed_ = true;
  const std::vector<TInstallContainer*> helpers = helpers_;
  for (TInstallContainer* h : helpers) {
    if (h->InstalledByContainer()) h->Install();
  }
}

// --- TInstallObject ----------------------------------------------------------------------

TInstallObject::~TInstallObject() {
  if (container_ != nullptr) container_->RemoveHelper(this);
}

void TInstallObject::ComponentRemoved(plat::TComponent* AComponent) {
  TInstallContainer::ComponentRemoved(AComponent);
  if (container_ == AComponent) container_ = nullptr;
}

void TInstallObject::SetContainer(TInstallContainer* Value) {
  if (Value == container_) return;
  if (Value != nullptr) Value->AddHelper(this);
  if (container_ != nullptr) container_->RemoveHelper(this);
  container_ = Value;
  if (Loading(*this)) return;
  TCustomPathSpecifier* containerDir = StandardOrNull("TpsContainerDestDir");
  if (container_ != nullptr) {
    if (containerDir != nullptr) SetDestDirType(containerDir);
  } else if (DestDirType() != nullptr && DestDirType() == containerDir) {
    SetDestDirType(nullptr);
  }
}

void TInstallObject::SetOrder(int32_t Value) {
  order_ = Value;
  if (container_ != nullptr) {
    container_->RemoveHelper(this);
    container_->AddHelper(this);
  }
}

void TInstallObject::Install() {
  if (InstallRunActive() && container_ != nullptr && !container_->Processed()) return;
  TInstallContainer::Install();
}

// --- TFileRelated ----------------------------------------------------------------------------

void TFileRelated::ComponentRemoved(plat::TComponent* AComponent) {
  TInstallObject::ComponentRemoved(AComponent);
  if (archiveFileType_ == AComponent) archiveFileType_ = nullptr;
  if (netLocation_ == AComponent) netLocation_ = nullptr;
}

void TFileRelated::SetNetLocation(TCustomNetInstallLocation* Value) {
  netLocation_ = Value;
  if (Value != nullptr) Value->FreeNotification(this);
}

void TFileRelated::Download() {
  if (TakeRecordedLocalArchive()) return;
  TCustomNetInstallLocation* location = nullptr;
  for (TInstallContainer* c = this; c != nullptr && location == nullptr; c = c->Container()) {
    if (auto* related = dynamic_cast<TFileRelated*>(c)) location = related->NetLocation();
  }
  TCustomInstall* install = CurrentInstall();
  if (location == nullptr && install != nullptr) location = install->NetLocation();
  if (location == nullptr) {
    throw IEFileRel_NoNetLocation(
        plat::Format("Could not find a net install location for %s", {Name()}));
  }
  if (!location->IsValid(location->LoginInformation())) {
    throw IEFileRelated(plat::Format(
        netLocation_ != nullptr
            ? "%s could not install itself because the TNetLocation component's properties, in "
              "the NetLocation property, have not been filled in"
            : "%s could not install itself because the LoginInformation property of the TInstall "
              "component has not been properly filled in",
        {Name()}));
  }
  const std::string temporary = GetTempFile(false);
  const std::string local =
      temporary.substr(0, temporary.size() - w::ExtractWinFileExt(temporary).size()) + ".1";
  // Progress goes up the tree while this download lasts.
  struct THook {
    TCustomNetInstallLocation& l;
    TNetProgressEvent saved;
    ~THook() { l.OnDownloadStatus = saved; }
  } hook{*location, location->OnDownloadStatus};
  location->OnDownloadStatus = [this, &hook](plat::TObject* Sender, TCustomNetInstallLocation* L,
                                             const char* Buffer, int32_t Size, int32_t Position,
                                             int32_t Chunk) {
    if (hook.saved) hook.saved(Sender, L, Buffer, Size, Position, Chunk);
    DownloadStatus(Name() + ".1", Size, Position, Chunk);
  };
  try {
    location->Download(Name() + ".1", local);
  } catch (...) {
    w::DeleteFile(local);
    throw;
  }
  // An aborted download is an abort, and what came of it is no archive.
  if (DownloadAbort() || !w::FileExists(local)) {
    w::DeleteFile(local);
    throw EAIUserAbort();
  }
  SetLocalArchive(local);
  if (install != nullptr && !install->RecordKey().empty()) {
    try {
      WriteRegString(hkLocalMachine, install->RecordKey() + "\\" + Name(), "LocalFile", local);
    } catch (const EIRCannotWriteValue&) {
      // Without the note the copy is fetched again after a restart.
    }
  }
}

void TFileRelated::DownloadStatus(const std::string& File, int32_t Total, int32_t Received,
                                  int32_t LastValue) {
  TDownloadStatusParameter status;
  status.FileName = File;
  status.Total = Total;
  status.Received = Received;
  status.Percentage = Percent(Received, Total, false);
  status.LastValue = LastValue;
  if (OnDataReceived) OnDataReceived(this, status);
  Broadcast(msg::kDataReceived, &status);
  TInformation information;
  information.Download = &status;
  if (Container() != nullptr) {
    Container()->DoInformationEventControl(this, info::kDownload, information);
  }
}

void TFileRelated::SetArchiveFileType(TCustomPathSpecifier* Value) {
  if (Value != nullptr && !Loading(*this)) Value->ValidateObject(this);
  archiveFileType_ = Value;
  if (Value != nullptr) Value->FreeNotification(this);
}

void TFileRelated::SetContainer(TInstallContainer* Value) {
  TInstallObject::SetContainer(Value);
  if (Loading(*this) || Value == nullptr) return;
  if (dynamic_cast<TFileRelated*>(Value) != nullptr) {
    if (TCustomPathSpecifier* s = StandardOrNull("TpsContainerArchiveFile")) SetArchiveFileType(s);
  }
}

std::string TFileRelated::GetFullArchiveFile() {
  const std::string base =
      archiveFileType_ != nullptr ? archiveFileType_->Expand(this) : std::string();
  return RemoveTrailingBackslash(base + archiveFile_);
}

bool TFileRelated::TakeRecordedLocalArchive() {
  TCustomInstall* install = CurrentInstall();
  if (install == nullptr || install->RecordKey().empty()) return false;
  const std::string local =
      ReadRegString(hkLocalMachine, install->RecordKey() + "\\" + Name(), "LocalFile", "");
  if (plat::Trim(local).empty() || !w::FileExists(local)) return false;
  SetLocalArchive(local);
  return true;
}

// --- TFileContainer ----------------------------------------------------------------------------

TFileContainer::TFileContainer(plat::TComponent* AOwner) : TFileRelated(AOwner) {
  // A container made by the reader of a form waits for the text: the
  // specifier stored for it there is its own (see Loaded).
  if (AOwner == nullptr || !Loading(*AOwner)) MakePathSpecifier();
}

void TFileContainer::MakePathSpecifier() {
  plat::TComponent* form = Owner() != nullptr ? Owner() : this;
  pathSpecifier_ = new TpsFileContainer(form);
  pathSpecifier_->SetFileContainer(this);
  pathSpecifier_->FreeNotification(this);
  std::string name = "psFileContainer";
  for (int32_t n = 1; form->FindComponent(name) != nullptr; ++n) {
    name = "psFileContainer" + std::to_string(n);
  }
  pathSpecifier_->SetName(name);
}

void TFileContainer::Loaded() {
  TFileRelated::Loaded();
  if (pathSpecifier_ != nullptr || Owner() == nullptr) {
    if (pathSpecifier_ == nullptr) MakePathSpecifier();
    return;
  }
  for (int32_t i = 0; i < Owner()->ComponentCount(); ++i) {
    auto* s = dynamic_cast<TpsFileContainer*>(Owner()->Components(i));
    if (s != nullptr && s->FileContainer() == this) {
      AdoptPathSpecifier(s);
      return;
    }
  }
  MakePathSpecifier();
}

void TFileContainer::AdoptPathSpecifier(TpsFileContainer* Specifier) {
  if (Specifier == pathSpecifier_ || Specifier == nullptr) return;
  TpsFileContainer* made = pathSpecifier_;
  pathSpecifier_ = Specifier;
  Specifier->SetFileContainer(this);
  Specifier->FreeNotification(this);
  if (made != nullptr && made->FileContainer() == this) {
    made->SetFileContainer(nullptr);
    std::unique_ptr<TpsFileContainer> own(made);
  }
}

TFileContainer::~TFileContainer() {
  // Its files go with it.
  std::vector<TCustomInstallFile*> files;
  for (int32_t i = 0; i < HelperCount(); ++i) {
    auto* f = dynamic_cast<TCustomInstallFile*>(Helpers(i));
    if (f != nullptr && f->Container() == this &&
        !f->ComponentState().Contains(plat::csDestroying)) {
      files.push_back(f);
    }
  }
  for (TCustomInstallFile* f : files) std::unique_ptr<TCustomInstallFile> own(f);
  if (pathSpecifier_ != nullptr) {
    pathSpecifier_->SetFileContainer(nullptr);
    if (!pathSpecifier_->ComponentState().Contains(plat::csDestroying)) {
      std::unique_ptr<TpsFileContainer> own(pathSpecifier_);
    }
  }
}

void TFileContainer::ComponentRemoved(plat::TComponent* AComponent) {
  TFileRelated::ComponentRemoved(AComponent);
  if (pathSpecifier_ == AComponent) pathSpecifier_ = nullptr;
}

int32_t TFileContainer::GetFileContainerCount() const {
  int32_t n = 0;
  for (int32_t i = 0; i < HelperCount(); ++i) {
    if (dynamic_cast<TFileContainer*>(Helpers(i)) != nullptr) ++n;
  }
  return n;
}

TFileContainer* TFileContainer::GetFileContainer(int32_t Index) const {
  int32_t n = 0;
  for (int32_t i = 0; i < HelperCount(); ++i) {
    auto* c = dynamic_cast<TFileContainer*>(Helpers(i));
    if (c != nullptr && n++ == Index) return c;
  }
  return nullptr;
}

int64_t TFileContainer::GetOwnSize(bool All) {
  int64_t size = 0;
  for (int32_t i = 0; i < HelperCount(); ++i) {
    auto* f = dynamic_cast<TCustomInstallFile*>(Helpers(i));
    if (f != nullptr && (All || f->IsIncluded())) size += f->UncompressedSize();
  }
  return size;
}

int64_t TFileContainer::GetTotalSize(bool All) {
  int64_t size = GetOwnSize(All);
  for (int32_t i = 0; i < GetFileContainerCount(); ++i) {
    TFileContainer* c = GetFileContainer(i);
    if (All || c->IsIncluded()) size += c->GetTotalSize(All);
  }
  return size;
}

void TFileContainer::ReadArchiveInfo() {
  for (int32_t i = 0; i < HelperCount(); ++i) {
    if (auto* f = dynamic_cast<TCustomInstallFile*>(Helpers(i))) f->ReadInfoFromArchive();
  }
  for (int32_t i = 0; i < GetFileContainerCount(); ++i) GetFileContainer(i)->ReadArchiveInfo();
  archiveInfoRead_ = true;
}

bool TFileContainer::ArchiveAborted() const {
  TCustomInstall* install = CurrentInstall();
  return install != nullptr && install->Archive().Abort();
}

void TFileContainer::Replacing(TCustomInstallFile* File) {
  if (OnReplacing) OnReplacing(File);
  Broadcast(msg::kReplacing, File);
}

void TFileContainer::Status(TCustomInstallFile* File, TFileStatusParameter& Status) {
  if (OnStatus) OnStatus(File, Status);
  Broadcast(msg::kFileStatus, &Status);
}

void TFileContainer::NewDisk(TCustomInstallFile* File, TDiskParameter& Disk) {
  if (OnNewDisk) OnNewDisk(File, Disk.Disk, Disk.Path);
  Broadcast(msg::kNewDisk, &Disk);
}

void TFileContainer::DoInformationEventControl(TInstallContainer* Sender, int32_t Code,
                                               TInformation& Param) {
  if (mode_ == 0) return;
  switch (Code) {
    case info::kReplacing:
      if (Param.File == nullptr) {
        throw IEFileContainer("DoInformationEventControl parameter is not TInstallFile");
      }
      Replacing(Param.File);
      break;
    case info::kExtracting:
    case info::kCompressing:
    case info::kCopying: {
      if (Param.File == nullptr || Param.Status == nullptr) {
        throw IEFileContainer("DoInformationEventControl--Not engouh parameters for status event");
      }
      TFileStatusParameter& s = *Param.Status;
      s.OverallBytesDone = bytesDone_ + s.FileBytesDone;
      s.OverallPercentDone = Percent(s.OverallBytesDone, totalBytes_, s.Finished && mode_ != 0);
      Status(Param.File, s);
      if (s.Finished && mode_ >= 1 && mode_ <= 4) bytesDone_ += s.FileBytesDone;
      break;
    }
    case info::kNewDisk:
      if (Param.File == nullptr || Param.Disk == nullptr) {
        throw IEFileContainer("DoInformationEventControl says bad second parameter");
      }
      NewDisk(Param.File, *Param.Disk);
      break;
    case info::kDownload:
      if (Param.Download == nullptr) {
        throw IEFileContainer(plat::Format(
            "The PO object passed to %s is not a TDownloadStatusParameter object", {Name()}));
      }
      if (OnDataReceived) OnDataReceived(this, *Param.Download);
      Broadcast(msg::kDataReceived, Param.Download);
      break;
    case info::kFileDone:
    case info::kFileSkipped: {
      if (Param.File == nullptr) {
        throw IEFileContainer("DoInformationEventControl parameter is not TInstallFile");
      }
      TFileStatusParameter s;
      s.FileName = Param.File->FileName();
      s.FileBytesDone = Param.File->UncompressedSize();
      s.FilePercentDone = 100;
      s.Finished = true;
      s.OverallBytesDone = bytesDone_ + s.FileBytesDone;
      s.OverallPercentDone = Percent(s.OverallBytesDone, totalBytes_, true);
      Status(Param.File, s);
      bytesDone_ += s.FileBytesDone;
      break;
    }
    default:
      break;
  }
  TInstallContainer::DoInformationEventControl(Sender, Code, Param);
}

void TFileContainer::ProcessHelpers() {
  mode_ = 2;
  struct TIdle {
    TFileContainer& self;
    ~TIdle() {
      self.mode_ = 0;
      try {
        self.Broadcast(msg::kCloseCopyPages, nullptr);
        if (dynamic_cast<TCustomInstall*>(&self) == nullptr && self.OnAfterInstallObjects) {
          self.OnAfterInstallObjects(&self, self.ArchiveAborted());
        }
      } catch (...) {
        // Closing pages after a failure: the failure itself is what counts.
      }
    }
  } idle{*this};
  TakeRecordedLocalArchive();
  ReadArchiveInfo();
  Broadcast(msg::kContainerStart, nullptr);
  TInformation none;
  TInstallContainer::DoInformationEventControl(this, info::kContainerStart, none);
  totalBytes_ = GetTotalSize(false);
  bytesDone_ = 0;
  if (OnBeforeInstallObjects) OnBeforeInstallObjects(this);
  TInstallContainer::ProcessHelpers();
  TInstallContainer::DoInformationEventControl(this, info::kContainerEnd, none);
}

// --- The build side ----------------------------------------------------------------------------

// Archives started in one Compress call: a second component writing into
// one of them adds to it instead of starting it afresh.
struct TFileContainer::TCompressPass {
  std::vector<std::string> Started;
  bool Start(const std::string& Archive) {
    for (const std::string& a : Started) {
      if (w::SameName(a, Archive)) return false;
    }
    Started.push_back(Archive);
    return true;
  }
};

TCustomNetInstallLocation* TFileRelated::EffectiveNetLocation() {
  for (TInstallContainer* c = this; c != nullptr; c = c->Container()) {
    if (auto* related = dynamic_cast<TFileRelated*>(c); related && related->NetLocation()) {
      return related->NetLocation();
    }
  }
  TCustomInstall* install = CurrentInstall();
  return install != nullptr ? install->NetLocation() : nullptr;
}

std::string NetArchiveDirectory(TCustomNetInstallLocation* Location, const std::string& Base) {
  std::string sub = Location != nullptr ? Location->LoginInformation().Directory() : "";
  std::replace(sub.begin(), sub.end(), '/', '\\');
  while (!sub.empty() && sub.front() == '\\') sub.erase(0, 1);
  sub = RemoveTrailingBackslash(sub);
  return sub.empty() ? RemoveTrailingBackslash(Base) : AddTrailingBackslash(Base) + sub;
}

void TFileContainer::Compress(int32_t Options) {
  if ((Options & coForceNetFilesLocal) != 0 && (Options & coForceFilesNet) != 0) {
    throw IEFileContainer("Cannot pass both coForceNetFilesLocal and coForceFilesNet to Compress");
  }
  TCompressPass pass;
  CompressTree(Options, pass);
}

// The archive a helper writes into: a network file's own archive ("<name>.1"
// below its location's directory), a network file's container's network
// archive, else the container's archive.
std::string TFileContainer::ChooseArchive(TFileRelated& Helper, int32_t Options,
                                          TCompressPass&) {
  TCustomInstall* install = CurrentInstall();
  const std::string own = GetFullArchiveFile();
  auto* file = dynamic_cast<TCustomInstallFile*>(&Helper);
  if (file == nullptr) return own;  // a sub-container starts from this archive
  const bool distributed = install != nullptr && install->DistributeType() != dtTraditional;
  const bool net = (Options & coForceNetFilesLocal) == 0 &&
                   ((Options & coForceFilesNet) != 0 ||
                    (distributed && (file->Net() || install->DistributeType() == dtWeb)));
  if (!net) return own;
  const std::string base =
      (Options & coBuildDirArchives) != 0 && install != nullptr
          ? w::ExtractWinFileDir(install->GetFullArchiveFile())
          : w::ExtractWinFileDir(own);
  const TOverwriteType mode = file->OverwriteMode();
  const bool ownArchive =
      file->NetLocation() != nullptr || mode == owVersion || mode == owDate || mode == owVersionDate;
  TFileRelated& holder = ownArchive ? static_cast<TFileRelated&>(*file) : *this;
  return NetArchiveDirectory(holder.EffectiveNetLocation(), base) + "\\" + holder.Name() + ".1";
}

void TFileContainer::CompressTree(int32_t Options, TCompressPass& Pass) {
  TCustomInstall* install = CurrentInstall();
  const int32_t oldMode = mode_;
  mode_ = 1;
  struct TIdle {
    TFileContainer& self;
    int32_t mode;
    ~TIdle() {
      self.mode_ = mode;
      try {
        self.Broadcast(msg::kCloseCopyPages, nullptr);
      } catch (...) {
        // Closing pages after a failure: the failure itself is what counts.
      }
    }
  } idle{*this, oldMode};
  const std::string archive = GetFullArchiveFile();
  const bool adds = (Options & coAddEveryFile) != 0 || AddToArchive() == lzcOnlyAdd;
  if (!plat::Trim(archive).empty() && Pass.Start(archive) && !adds && w::FileExists(archive) &&
      !w::DeleteFile(archive)) {
    throw IEFileContainer(
        plat::Format("%s cannot delete the archive file %s", {Name(), archive}));
  }
  totalBytes_ = 0;
  bytesDone_ = 0;
  // The sources below this container, as the archive records are not read
  // on the build side.
  for (TCustomInstallFile* f : InstallFiles()) {
    for (TInstallContainer* c = f->Container(); c != nullptr; c = c->Container()) {
      if (c != this) continue;
      totalBytes_ += std::max<int64_t>(
          0, w::FileSize(AddTrailingBackslash(f->IncludeFromDir()) + f->FileName()));
      break;
    }
  }
  std::vector<TInstallContainer*> helpers;
  for (int32_t i = 0; i < HelperCount(); ++i) helpers.push_back(Helpers(i));
  for (TInstallContainer* h : helpers) {
    auto* helper = dynamic_cast<TFileRelated*>(h);
    if (helper == nullptr) continue;
    if (install != nullptr && install->Archive().Abort()) break;
    // What the pass changes on the helper is put back, whatever happens.
    struct TRestore {
      TFileRelated& h;
      TlzhCommand add = h.AddToArchive();
      std::string file = h.ArchiveFile();
      TCustomPathSpecifier* type = h.ArchiveFileType();
      bool include = h.Include();
      ~TRestore() {
        h.SetAddToArchive(add);
        h.SetArchiveFile(file);
        h.SetArchiveFileType(type);
        h.SetInclude(include);
      }
    } restore{*helper};
    if ((Options & coIncludeAll) != 0) helper->SetInclude(true);
    if (auto* sub = dynamic_cast<TFileContainer*>(helper)) {
      if (!sub->Include()) continue;
      sub->CompressTree(Options, Pass);
      continue;
    }
    auto* file = dynamic_cast<TCustomInstallFile*>(helper);
    if (file == nullptr) continue;
    const std::string chosen = ChooseArchive(*file, Options, Pass);
    file->SetArchiveFileType(nullptr);
    file->SetArchiveFile(chosen);
    const bool fresh = file->Include() && Pass.Start(chosen);
    if (fresh && ((Options & coAddEveryFile) == 0 && file->AddToArchive() != lzcOnlyAdd) &&
        w::FileExists(chosen) && !w::DeleteFile(chosen)) {
      throw IEFileContainer(
          plat::Format("%s cannot delete the archive file %s", {Name(), chosen}));
    }
    file->Compress(w::FileExists(chosen));
  }
}

// --- TCustomInstallGroup ------------------------------------------------------------------------

void TCustomInstallGroup::SetContainer(TInstallContainer* Value) {
  if (Value != nullptr && dynamic_cast<TCustomInstall*>(Value) == nullptr &&
      dynamic_cast<TCustomInstallGroup*>(Value) == nullptr) {
    throw IEInstallGroup(
        "A TInstallGroup component can only be contained by a TInstall, or another "
        "TInstallGroup component");
  }
  TFileContainer::SetContainer(Value);
}

}  // namespace setup

namespace setup {

namespace {

const std::vector<std::string> kInstallTypeNames = {"itFull", "itDefault", "itCompact", "itCustom"};
const std::vector<std::string> kOSNames = {"os31win32", "oswin95",  "oswinNT", "oswinNT351",
                                           "osUnidentified", "osLinux", "oswin2K", "oswin98",
                                           "oswinME", "oswinXP"};

}  // namespace

const plat::TPropList& TInstallContainer::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TInstallContainer>(plat::TComponent::PublishedProperties())
          .String("DestDir", &TInstallContainer::DestDir, &TInstallContainer::SetDestDir)
          .Component("DestDirType", &TInstallContainer::DestDirType,
                     &TInstallContainer::SetDestDirType)
          .Boolean("Include", &TInstallContainer::Include, &TInstallContainer::SetInclude, true)
          .Set("InstallTypes", &TInstallContainer::InstallTypes,
               &TInstallContainer::SetInstallTypes, kInstallTypeNames,
               TInstallTypeSet{itFull, itDefault, itCompact})
          .Set("OS", &TInstallContainer::OS, &TInstallContainer::SetOS, kOSNames)
          .Boolean("Uninstall", &TInstallContainer::Uninstall, &TInstallContainer::SetUninstall,
                   true)
          .Event("OnBeforeProcess", &TInstallContainer::OnBeforeProcess, &TInstallContainer::EventBindings)
          .Event("OnAfterProcess", &TInstallContainer::OnAfterProcess, &TInstallContainer::EventBindings);
  return list;
}

const plat::TPropList& TInstallObject::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TInstallObject>(TInstallContainer::PublishedProperties())
          .Component("Container", &TInstallObject::Container, &TInstallObject::SetContainer)
          .Integer("Order", &TInstallObject::Order, &TInstallObject::SetOrder, -1);
  return list;
}

const plat::TPropList& TFileRelated::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TFileRelated>(TInstallObject::PublishedProperties())
          .String("ArchiveFile", &TFileRelated::ArchiveFile, &TFileRelated::SetArchiveFile)
          .Component("ArchiveFileType", &TFileRelated::ArchiveFileType,
                     &TFileRelated::SetArchiveFileType)
          .Enumeration("AddToArchive", &TFileRelated::AddToArchive, &TFileRelated::SetAddToArchive,
                       {"lzcOverwrite", "lzcOnlyAdd"}, lzcOverwrite)
          .Boolean("Net", &TFileRelated::Net, &TFileRelated::SetNet, true)
          .Component("NetLocation", &TFileRelated::NetLocation, &TFileRelated::SetNetLocation);
  return list;
}

const plat::TPropList& TFileContainer::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TFileContainer>(TFileRelated::PublishedProperties())
          .String("Description", &TFileContainer::Description, &TFileContainer::SetDescription)
          .Event("OnBeforeInstallObjects", &TFileContainer::OnBeforeInstallObjects, &TFileContainer::EventBindings)
          .Event("OnAfterInstallObjects", &TFileContainer::OnAfterInstallObjects, &TFileContainer::EventBindings)
          .Event("OnStatus", &TFileContainer::OnStatus, &TFileContainer::EventBindings)
          .Event("OnNewDisk", &TFileContainer::OnNewDisk, &TFileContainer::EventBindings)
          .Event("OnReplacing", &TFileContainer::OnReplacing, &TFileContainer::EventBindings);
  return list;
}

}  // namespace setup
