#pragma once
// The install component tree. Every piece of an install description is a
// container: it has a destination, filters (included, Windows versions,
// install types) and an ordered list of helpers that it installs. Install
// objects know the container holding them; file-related ones have an
// archive; file containers hold install files and sub-containers and drive
// their extraction. The same tree carries status and disk reports up to the
// root, which hands them to the install's user interface.
//
// Rules the tree keeps:
//  1. Helpers are ordered by registered type (a new helper goes before the
//     first one of an equal or greater type); no container is its own helper
//     or a helper of one on its own chain of containers.
//  2. Every container is in the global container list while it lives; a
//     container going away is dropped from every helper list and container
//     link first.
//  3. Information codes travel from a file to its container and on upwards
//     only while that container is at work (mode not 0).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/ClassesBase.h"
#include "platform/rtl/Components.h"
#include "platform/rtl/Published.h"
#include "setup/library/cmp_InstallUI.h"
#include "setup/library/routines_API.h"
#include "setup/library/basedirs_Standard.h"

namespace setup {

class TCustomInstall;
class TCustomInstallFile;
class TCustomNetInstallLocation;
class TTrevCompress;
struct TlzhFileStats;

PLAT_DECLARE_EXCEPTION(IEInstallContainer, IException);
PLAT_DECLARE_EXCEPTION(IEInstallGroup, IException);
PLAT_DECLARE_EXCEPTION(IEFileRelated, IException);
PLAT_DECLARE_EXCEPTION(IEFileRel_NoNetLocation, IEFileRelated);
PLAT_DECLARE_EXCEPTION(IEFileContainer, IException);

enum TInstallType : uint8_t { itFull, itDefault, itCompact, itCustom };
using TInstallTypeSet = plat::TSet<TInstallType>;

// Manager messages the tree broadcasts.
namespace msg {
inline constexpr int32_t kStatus = -974;
inline constexpr int32_t kResetStatus = -973;
inline constexpr int32_t kFileStatus = -998;
inline constexpr int32_t kReplacing = -997;
inline constexpr int32_t kCloseCopyPages = -996;
inline constexpr int32_t kGoodInstall = -995;
inline constexpr int32_t kBadInstall = -994;
inline constexpr int32_t kNewDisk = -993;
inline constexpr int32_t kContainerStart = -992;
inline constexpr int32_t kDataReceived = -988;
inline constexpr int32_t kRebootPages = -987;
inline constexpr int32_t kBeforeInstall = -986;
inline constexpr int32_t kBeforeReadArchiveInfo = -984;
inline constexpr int32_t kAfterReadArchiveInfo = -983;
inline constexpr int32_t kBeforeInstallPages = -980;
inline constexpr int32_t kGoodInstallPages = -979;
inline constexpr int32_t kBadInstallPages = -978;
inline constexpr int32_t kInstallYourself = -968;
}  // namespace msg

// Information codes passed up the tree.
namespace info {
inline constexpr int32_t kFileInstalled = 1001;
inline constexpr int32_t kFileStart = 1002;
inline constexpr int32_t kReplacing = 1003;
inline constexpr int32_t kExtracting = 1008;
inline constexpr int32_t kCompressing = 1009;
inline constexpr int32_t kCopying = 1010;
inline constexpr int32_t kNewDisk = 1011;
inline constexpr int32_t kContainerStart = 1012;
inline constexpr int32_t kContainerEnd = 1013;
inline constexpr int32_t kDownload = 1014;
inline constexpr int32_t kFileDone = 1015;
inline constexpr int32_t kFileSkipped = 1016;
inline constexpr int32_t kBeforeCompress = 1004;
inline constexpr int32_t kAfterCompress = 1005;
inline constexpr int32_t kBeforeCopy = 1006;
inline constexpr int32_t kAfterCopy = 1007;
}  // namespace info

// How a file-related component treats its archive when it compresses.
enum TlzhCommand : uint8_t { lzcOverwrite, lzcOnlyAdd };

// The options of TFileContainer::Compress, as bits.
inline constexpr int32_t coAddEveryFile = 1;        // every file adds to its archive
inline constexpr int32_t coBuildDirArchives = 2;    // network archives below the build's
inline constexpr int32_t coForceNetFilesLocal = 8;  // no file goes to the network
inline constexpr int32_t coForceFilesNet = 16;      // every file goes to the network
inline constexpr int32_t coIncludeAll = 32;         // excluded components are built too

// The status text of -974.
class TMessageParameter : public plat::TObject {
 public:
  explicit TMessageParameter(std::string Text) : Text(std::move(Text)) {}
  std::string ClassName() const override { return "TMessageParameter"; }
  std::string Text;
};

// What an information code carries.
struct TInformation {
  TCustomInstallFile* File = nullptr;
  TFileStatusParameter* Status = nullptr;
  TDiskParameter* Disk = nullptr;
  TDownloadStatusParameter* Download = nullptr;
};

using TContainerNotifyEvent = std::function<void(TInstallContainer* Sender)>;

class TInstallContainer : public plat::TComponent {
 public:
  explicit TInstallContainer(plat::TComponent* AOwner);
  ~TInstallContainer() override;
  std::string ClassName() const override { return "TInstallContainer"; }
  const plat::TPropList& PublishedProperties() const override;

  const std::string& DestDir() const { return destDir_; }
  virtual void SetDestDir(const std::string& Value) { destDir_ = Value; }
  TCustomPathSpecifier* DestDirType() const { return destDirType_; }
  // Validated at once outside loading.
  virtual void SetDestDirType(TCustomPathSpecifier* Value);
  bool Include() const { return include_; }
  void SetInclude(bool Value) { include_ = Value; }
  TInstallTypeSet InstallTypes() const { return installTypes_; }
  // The empty set stores [itFull].
  void SetInstallTypes(TInstallTypeSet Value);
  int32_t InstallTypeIndex() const { return installTypeIndex_; }
  // Set on every helper first, recursively.
  void SetInstallTypeIndex(int32_t Value);
  OSSet OS() const { return os_; }
  void SetOS(OSSet Value) { os_ = Value; }
  bool Uninstall() const { return uninstall_; }
  void SetUninstall(bool Value) { uninstall_ = Value; }
  bool Processed() const { return processed_; }
  void SetMessageTarget(TInstallContainer* Value) { messageTarget_ = Value; }

  int32_t HelperCount() const { return static_cast<int32_t>(helpers_.size()); }
  TInstallContainer* Helpers(int32_t Index) const;
  // The Index-th helper (from 0) whose class is named ClassName.
  TInstallContainer* Comp(const std::string& ClassName, int32_t Index) const;

  virtual int32_t GetFileContainerCount() const;
  virtual TFileContainer* GetFileContainer(int32_t Index) const;
  virtual void ShowStatus(const std::string& Text);
  virtual void DoInformationEventControl(TInstallContainer* Sender, int32_t Code,
                                         TInformation& Param);
  // A manager message from Sender; the result of the last receiver.
  virtual int32_t InstallMessage(TInstallContainer* Sender, int32_t Code, plat::TObject* Param);
  virtual std::string GetFullDestDir();
  virtual int32_t RegisteredType() const;
  virtual void AddHelper(TInstallContainer* Helper);
  virtual void RemoveHelper(TInstallContainer* Helper);
  virtual void Install();
  virtual void ProcessHelpers();
  virtual bool IsIncluded() const;
  virtual void FinishAfterReboot() {}
  virtual void WriteUninstallInfo(const std::string& /*Key*/) {}
  // True for the helpers a container installs in ProcessHelpers.
  virtual bool InstalledByContainer() const { return false; }
  virtual TInstallContainer* Container() const { return nullptr; }

  // Sends a manager message to the helpers (or the message target).
  virtual int32_t Broadcast(int32_t Code, plat::TObject* Param);

  TContainerNotifyEvent OnBeforeProcess;
  TContainerNotifyEvent OnAfterProcess;
  // The names of the form's methods that its text bound to the events.
  plat::TEventBindings& EventBindings() { return eventBindings_; }

 protected:
  void Notification(plat::TComponent* AComponent, plat::TOperation Operation) override;
  virtual void ComponentRemoved(plat::TComponent* AComponent);
  void SetProcessed(bool Value) { processed_ = Value; }

 private:
  std::vector<TInstallContainer*> helpers_;
  std::string destDir_;
  TCustomPathSpecifier* destDirType_ = nullptr;
  bool include_ = true;
  TInstallTypeSet installTypes_{itFull, itDefault, itCompact};
  int32_t installTypeIndex_ = 0;
  OSSet os_;
  bool uninstall_ = true;
  bool processed_ = false;
  TInstallContainer* messageTarget_ = nullptr;
  plat::TEventBindings eventBindings_;
};

// Where a build puts the network archives of Location: Base followed by
// the location's directory (given in URL form or with backslashes).
std::string NetArchiveDirectory(TCustomNetInstallLocation* Location, const std::string& Base);

// The global container list, in creation order.
const std::vector<TInstallContainer*>& InstallContainers();
// The install of the program, or nullptr.
TCustomInstall* CurrentInstall();
// True while the install's run is going on.
bool InstallRunActive();

class TInstallObject : public TInstallContainer {
 public:
  explicit TInstallObject(plat::TComponent* AOwner) : TInstallContainer(AOwner) {}
  ~TInstallObject() override;
  std::string ClassName() const override { return "TInstallObject"; }
  const plat::TPropList& PublishedProperties() const override;

  TInstallContainer* Container() const override { return container_; }
  virtual void SetContainer(TInstallContainer* Value);
  int32_t Order() const { return order_; }
  // Takes the object out of its container's helpers and adds it again.
  void SetOrder(int32_t Value);
  void Install() override;

 protected:
  void ComponentRemoved(plat::TComponent* AComponent) override;

 private:
  TInstallContainer* container_ = nullptr;
  int32_t order_ = -1;
};

class TFileRelated : public TInstallObject {
 public:
  explicit TFileRelated(plat::TComponent* AOwner) : TInstallObject(AOwner) {}
  std::string ClassName() const override { return "TFileRelated"; }
  const plat::TPropList& PublishedProperties() const override;

  const std::string& ArchiveFile() const { return archiveFile_; }
  virtual void SetArchiveFile(const std::string& Value) { archiveFile_ = Value; }
  TCustomPathSpecifier* ArchiveFileType() const { return archiveFileType_; }
  virtual void SetArchiveFileType(TCustomPathSpecifier* Value);
  bool Net() const { return net_; }
  virtual void SetNet(bool Value) { net_ = Value; }
  TlzhCommand AddToArchive() const { return addToArchive_; }
  void SetAddToArchive(TlzhCommand Value) { addToArchive_ = Value; }

  TCustomNetInstallLocation* NetLocation() const { return netLocation_; }
  virtual void SetNetLocation(TCustomNetInstallLocation* Value);

  void SetContainer(TInstallContainer* Value) override;
  bool InstalledByContainer() const override { return true; }
  virtual std::string GetFullArchiveFile();
  // Fetches this component's archive ("<Name>.1") from its network
  // location (its own, else its containers', else the install's) into a
  // temporary file, takes it as the local archive and records it under the
  // per-setup record. A failed or aborted download (EAIUserAbort) leaves
  // no file and no record behind.
  virtual void Download();
  // The network location this component's archive comes from: its own,
  // else its containers', else the install's (nullptr when none).
  TCustomNetInstallLocation* EffectiveNetLocation();
  // Reports the progress of a download of File up the tree.
  virtual void DownloadStatus(const std::string& File, int32_t Total, int32_t Received,
                              int32_t LastValue);

  std::function<void(TFileRelated* Sender, TDownloadStatusParameter& Status)> OnDataReceived;
  // The downloaded copy of the archive, when there is one.
  virtual bool HasLocalArchive() const { return !localArchive_.empty(); }
  const std::string& LocalArchive() const { return localArchive_; }
  virtual void SetLocalArchive(const std::string& Path) { localArchive_ = Path; }
  // Takes the copy the per-setup record names under this component, when
  // it still exists.
  bool TakeRecordedLocalArchive();

 protected:
  void ComponentRemoved(plat::TComponent* AComponent) override;

 private:
  std::string archiveFile_;
  TCustomPathSpecifier* archiveFileType_ = nullptr;
  bool net_ = true;
  TlzhCommand addToArchive_ = lzcOverwrite;
  TCustomNetInstallLocation* netLocation_ = nullptr;
  std::string localArchive_;
};

using TAfterInstallObjectsEvent = std::function<void(TInstallContainer* Sender, bool Aborted)>;
using TFileEvent = std::function<void(TCustomInstallFile* Sender)>;
using TFileStatusEvent = std::function<void(TCustomInstallFile* Sender, TFileStatusParameter& Status)>;
using TNewDiskFileEvent =
    std::function<void(TCustomInstallFile* Sender, int32_t Disk, std::string& Path)>;

class TFileContainer : public TFileRelated {
 public:
  explicit TFileContainer(plat::TComponent* AOwner);
  ~TFileContainer() override;
  std::string ClassName() const override { return "TFileContainer"; }
  const plat::TPropList& PublishedProperties() const override;
  // A container read from component text takes the specifier the text
  // holds for it, else makes its own.
  void Loaded() override;
  // Takes Specifier as this container's own, freeing the one it made.
  void AdoptPathSpecifier(TpsFileContainer* Specifier);

  const std::string& Description() const { return description_; }
  void SetDescription(const std::string& Value) { description_ = Value; }
  TpsFileContainer* PathSpecifier() const { return pathSpecifier_; }
  int32_t Mode() const { return mode_; }

  int32_t GetFileContainerCount() const override;
  TFileContainer* GetFileContainer(int32_t Index) const override;
  int32_t RegisteredType() const override { return 1000; }
  void DoInformationEventControl(TInstallContainer* Sender, int32_t Code,
                                 TInformation& Param) override;
  void ProcessHelpers() override;

  // Own included install files (all with All), then with sub-containers.
  int64_t GetOwnSize(bool All);
  int64_t GetTotalSize(bool All);
  // Every own install file reads its archive record, then every
  // sub-container does the same.
  virtual void ReadArchiveInfo();
  bool ArchiveInfoRead() const { return archiveInfoRead_; }
  // The build side: compresses every file of the tree into the archive
  // chosen for it (coAddEveryFile ... coIncludeAll). An archive is started
  // afresh at most once per call, so the files sharing it all stay in it.
  // Raises IEFileContainer for contradicting options; stops early when the
  // install's archive component is aborted.
  void Compress(int32_t Options);

  TContainerNotifyEvent OnBeforeInstallObjects;
  TAfterInstallObjectsEvent OnAfterInstallObjects;
  TFileStatusEvent OnStatus;
  TNewDiskFileEvent OnNewDisk;
  TFileEvent OnReplacing;

 protected:
  void ComponentRemoved(plat::TComponent* AComponent) override;
  virtual void Replacing(TCustomInstallFile* File);
  virtual void Status(TCustomInstallFile* File, TFileStatusParameter& Status);
  virtual void NewDisk(TCustomInstallFile* File, TDiskParameter& Disk);
  // The archive component's abort state.
  bool ArchiveAborted() const;

 private:
  void MakePathSpecifier();
  struct TCompressPass;
  void CompressTree(int32_t Options, TCompressPass& Pass);
  std::string ChooseArchive(TFileRelated& Helper, int32_t Options, TCompressPass& Pass);

  std::string description_;
  TpsFileContainer* pathSpecifier_ = nullptr;
  int32_t mode_ = 0;
  int64_t totalBytes_ = 0;
  int64_t bytesDone_ = 0;
  bool archiveInfoRead_ = false;
};

class TCustomInstallGroup : public TFileContainer {
 public:
  explicit TCustomInstallGroup(plat::TComponent* AOwner) : TFileContainer(AOwner) {}
  std::string ClassName() const override { return "TInstallGroup"; }
  int32_t RegisteredType() const override { return 500; }
  // Only the install or another group may hold a group.
  void SetContainer(TInstallContainer* Value) override;
};

class TInstallDirectory : public TFileContainer {
 public:
  explicit TInstallDirectory(plat::TComponent* AOwner) : TFileContainer(AOwner) {}
  std::string ClassName() const override { return "TInstallDirectory"; }
};

}  // namespace setup
