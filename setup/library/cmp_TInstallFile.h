#pragma once
// One file of the kit: the archive member it comes from (found by its
// UniqueID), where it goes, how an existing copy is treated, what is done
// once it is in place, and the records an uninstall reads.
//
// Rules kept here:
//  1. A destination that cannot be deleted is in use: the file is extracted
//     beside it as "name.1" (the first free number) and the swap is left to
//     the restart (WININIT.INI on the 9x line, a pending rename on the NT
//     line); the install is marked for a restart and the file for finishing
//     after it.
//  2. UniqueIDs are unique among living install files, 0..1999.

#include <cstdint>
#include <string>
#include <vector>

#include "setup/library/cmp_TInstallContainer.h"
#include "setup/library/cmp_TVersion.h"
#include "setup/library/routines_FileSystem.h"

namespace setup {

PLAT_DECLARE_EXCEPTION(IECustomInstallFile, IException);
PLAT_DECLARE_EXCEPTION(IEfcDuplicateFile, IECustomInstallFile);

enum TInstallFileType : uint8_t {
  iftNormal,
  iftJustADLL,
  iftApplicationSpecificDLL,
  iftVendorSharedDLL,
  iftSystemWideDLL
};

class TCustomInstallFile : public TFileRelated, public TInstallFileNaming {
 public:
  static constexpr int32_t kMaxUniqueID = 2000;

  explicit TCustomInstallFile(plat::TComponent* AOwner);
  ~TCustomInstallFile() override;
  std::string ClassName() const override { return "TInstallFile"; }
  const plat::TPropList& PublishedProperties() const override;
  // A file read from a form takes the lowest free UniqueID when the text
  // gave it none.
  void Loaded() override;

  // Outside loading, setting FileName, IncludeFromDir, DestName, DestDir,
  // DestDirType or Container classifies the file once more (Classify).
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& Value);
  const std::string& IncludeFromDir() const { return includeFromDir_; }
  void SetIncludeFromDir(const std::string& Value);
  const std::string& DestName() const { return destName_; }
  void SetDestName(const std::string& Value);
  void SetDestDir(const std::string& Value) override;
  void SetDestDirType(TCustomPathSpecifier* Value) override;
  TTrevFileAttributesSet InstallAttributes() const { return installAttributes_; }
  void SetInstallAttributes(TTrevFileAttributesSet Value) { installAttributes_ = Value; }
  bool ActiveX() const { return activeX_; }
  // A COM server is a system-wide DLL.
  void SetActiveX(bool Value);
  TInstallFileType FileType() const { return fileType_; }
  // Sets the overwrite mode, the DLL counter and the destination the kind
  // of DLL calls for.
  void SetFileType(TInstallFileType Value);
  TOverwriteType OverwriteMode() const { return overwriteMode_; }
  void SetOverwriteMode(TOverwriteType Value) { overwriteMode_ = Value; }
  bool RegisterAsHelp() const { return registerAsHelp_; }
  void SetRegisterAsHelp(bool Value) { registerAsHelp_ = Value; }
  bool RunAfterInstall() const { return runAfterInstall_; }
  void SetRunAfterInstall(bool Value) { runAfterInstall_ = Value; }
  const std::string& RunParameters() const { return runParameters_; }
  void SetRunParameters(const std::string& Value) { runParameters_ = Value; }
  bool UpdateDLLCounter() const { return updateDLLCounter_; }
  void SetUpdateDLLCounter(bool Value) { updateDLLCounter_ = Value; }
  int32_t UniqueID() const { return uniqueID_; }
  // Raises IECustomInstallFile for an id out of range or held by another
  // file. A file made by the reader of a form holds no id until its stored
  // one is read, so the ids of one form never clash among themselves.
  void SetUniqueID(int32_t Value);

  // Only a file container may hold a file.
  void SetContainer(TInstallContainer* Value) override;
  int32_t RegisteredType() const override { return 2000; }

  // The archive record read by ReadInfoFromArchive.
  uint32_t CompressedSize() const { return compressedSize_; }
  uint32_t UncompressedSize() const { return uncompressedSize_; }
  double FileDateTime() const { return fileDateTime_; }
  const std::string& VersionText() const { return versionText_; }
  bool RecordRead() const { return recordRead_; }
  bool InUse() const { return inUse_; }
  // True once the file was installed (copied or kept) in this run.
  bool InstalledThisRun() const { return installedThisRun_; }
  // The full destination: directory + "\" + DestName.
  std::string DestinationPath();

  void ReadInfoFromArchive();
  // What a network distribution's file list says of the file, taken as its
  // archive record.
  void TakeListedInfo(uint32_t Size, double DateTime, const std::string& Version);
  // The build side: compresses the source (IncludeFromDir + FileName) into
  // the full archive file under UniqueID, adding to the archive with Append
  // or lzcOnlyAdd, through the install's archive component so that its
  // Abort stops it. A file not included is skipped. CompressedInto names
  // the archive written (empty when none).
  void Compress(bool Append);
  const std::string& CompressedInto() const { return compressedInto_; }
  // A copy distribution: the source copied to the destination (through a
  // temporary file beside it), under the overwrite mode, with status
  // reports. A file not included is skipped; the install archive's Abort
  // stops the copy ("Creating Install Aborted!").
  void Copy();
  // The file's own install steps, run by Install once the filters pass.
  void ProcessHelpers() override;
  void FinishAfterReboot() override;
  void WriteUninstallInfo(const std::string& Key) override;
  // Registers the file as a COM server, by its extension.
  void RegisterActiveX();

  TFileEvent OnBeforeInstall;
  TFileEvent OnAfterInstall;
  TFileEvent OnReplacing;
  TFileEvent OnBeforeCompress;
  TFileEvent OnAfterCompress;
  TFileEvent OnBeforeCopy;
  TFileEvent OnAfterCopy;
  TFileStatusEvent OnStatus;
  TNewDiskFileEvent OnNewDisk;

 protected:
  TFileContainer* FileContainer() const;
  enum TChange : uint8_t { chFileName, chIncludeFromDir, chDestName, chDestDir, chDestDirType, chContainer };
  void Classify(TChange Change);
  void Report(int32_t Code, TFileStatusParameter* Status = nullptr, TDiskParameter* Disk = nullptr);
  // Deletes an existing destination or sets up the in-use sibling.
  void PrepareDestination(const std::string& Destination);
  void Extract(TTrevCompress& Archive, const std::string& ArchiveName);
  // A status of the archive component, to OnStatus, the pages and the
  // container (as Code: compressing or extracting).
  void ReportArchiveStatus(const TlzhFileStats& Stats, int32_t Code);
  void AfterCopy();
  // Whether a version decision (IsFileNewer) replaces the existing file;
  // 4 asks the person.
  bool Replaces(int32_t Decision);
  void InstallOwnHelpers();
  void TakeFreeID();

 private:
  std::string fileName_;
  std::string includeFromDir_;
  std::string destName_;
  TTrevFileAttributesSet installAttributes_;
  bool activeX_ = false;
  TInstallFileType fileType_ = iftNormal;
  TOverwriteType overwriteMode_ = owAlways;
  bool registerAsHelp_ = false;
  bool runAfterInstall_ = false;
  bool updateDLLCounter_ = false;
  std::string runParameters_;
  int32_t uniqueID_ = -1;

  uint32_t compressedSize_ = 0;
  uint32_t uncompressedSize_ = 0;
  double fileDateTime_ = 0;
  std::string versionText_;
  bool recordRead_ = false;
  int32_t state_ = 0;
  bool inUse_ = false;
  bool installedThisRun_ = false;
  // The name the file is extracted under when its destination is in use.
  std::string extractName_;
  std::string compressedInto_;
};

// The global install-file list (for the programs run after the install).
const std::vector<TCustomInstallFile*>& InstallFiles();

}  // namespace setup
