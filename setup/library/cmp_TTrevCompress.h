#pragma once
// The installer's archive: one zlib stream per member, the members' records
// at the head ("files.1"), or spread over numbered volumes for floppies
// ("files.1", "files.2", ...).
//
// Layout (integers 32-bit little-endian; positions relative to the archive's
// start, which is Offset() in the file holding the head, and the start of the
// file in every further volume):
//   0  member count       4  layout flag (0: one file, each record followed
//                            by its data; 1: volumes, all records after the
//                            head, data after them and in further volumes)
//   5  the 176-byte member records (cmp_TTrevCompressRecord.h)
//
// Rules kept by this unit:
//  1. Everything read from an archive is checked before it is used: counts,
//     lengths, positions and volume numbers; inflating stops at the recorded
//     size, and a stream that ends early, runs long or does not decode is an
//     error.
//  2. An extracted member is written to a temporary file beside its
//     destination, checked, dated and only then renamed over the
//     destination: a failed or aborted extraction leaves the destination as
//     it was and no partial file behind.
//  3. A member's name never leaves the extract directory: only its last
//     component counts ("\", "/" and ":" separate), and "", "." and ".." are
//     refused.
//  4. The head's count covers complete members only: an archive whose
//     writing fails or is aborted holds the members finished before.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/Files.h"
#include "platform/rtl/Components.h"
#include "platform/rtl/Lists.h"
#include "setup/library/cmp_TVersion.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {

enum TCompressionLevel : uint8_t { colNone, colFastest, colDefault, colMax };

// One member record.
struct TFileHeader {
  int32_t FileNumber = 0;  // from 1
  double FileDate = 0;     // the source file's date-time
  int32_t LastVolume = 1;  // the volume holding the last data byte
  int32_t LastPosition = 0;
  std::string FilePath;  // the build-time source path, at most 100 characters
  int32_t NextPosition = 0;
  uint32_t UncompressedSize = 0;
  int32_t FirstPosition = 0;
  uint32_t CompressedSize = 0;
  int32_t FirstVolume = 1;  // 0 is read as 1
  int32_t UniqueID = 0;     // the install file's id, 0..1999
  std::string FileVersion;  // at most 20 characters
};

// The records of an archive in order.
class TFileHeaders {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Raises ETrevCompress "%d is an invalid TFileHeader index in
  // TFileHeaders.GetFileHeaders" out of range.
  const TFileHeader& FileHeaders(int32_t Index) const;
  TFileHeader& FileHeaders(int32_t Index);
  // Raises ETrevCompress "Tried to add an invalid file header" for a record
  // without path.
  int32_t Add(const TFileHeader& Header);
  void Clear() { items_.clear(); }

 private:
  std::vector<TFileHeader> items_;
};

// Statistics handed to the events. Percentages are rounded; a total of 0
// counts as done.
struct TlzhFileStats {
  int32_t FilePercentDone = 0;
  int64_t FileBytesDone = 0;
  std::string FileName;
  int64_t CompressedSize = 0;
  int32_t CompressionRatio = 0;  // compressed / uncompressed x 100; 0 for an empty file
  int64_t UncompressedSize = 0;
  TFileHeader FileHeader;
  bool Finished = false;
  int32_t OverallPercentDone = 0;
  int64_t OverallBytesDone = 0;
  int64_t TotalCompressedSize = 0;
  int32_t OverallRatio = 0;
  int64_t TotalUncompressedSize = 0;
};

using TlzhStatsEvent = std::function<void(plat::TObject* Sender, TlzhFileStats& Stats)>;
using TNewDiskEvent = std::function<void(plat::TObject* Sender, int32_t Disk, std::string& Path)>;

// Invariants: when headersRead_, headers_ holds the archive's records in
// order and ids_ maps every id in 0..1999 to its (last) record or -1; the
// operation kind is 0 outside Compress, Extract and SpreadOntoDisks.
class TTrevCompress : public plat::TComponent {
 public:
  static constexpr int32_t kMaxId = 2000;

  explicit TTrevCompress(plat::TComponent* AOwner);
  ~TTrevCompress() override;
  std::string ClassName() const override { return "TTrevCompress"; }

  // --- Published properties.
  const std::string& CompressedFile() const { return compressedFile_; }
  // A name whose ".1" form differs from the present one drops the records
  // read so far.
  void SetCompressedFile(const std::string& Value);
  TCompressionLevel CompressionLevel() const { return compressionLevel_; }
  void SetCompressionLevel(TCompressionLevel Value) { compressionLevel_ = Value; }
  const std::string& ExtractDirectory() const { return extractDirectory_; }
  void SetExtractDirectory(const std::string& Value) { extractDirectory_ = Value; }
  // Paths, each optionally followed by ";" and fields that do not count.
  plat::TStrings& FilesToProcess() { return *filesToProcess_; }
  // Takes the lines of Value without the blank ones.
  void SetFilesToProcess(const plat::TStrings& Value);
  int32_t Offset() const { return offset_; }
  void SetOffset(int32_t Value);
  TOverwriteType Overwrite() const { return overwrite_; }
  void SetOverwrite(TOverwriteType Value) { overwrite_ = Value; }
  // Set to stop a running operation; every operation clears it first.
  bool Abort() const { return abort_; }
  void SetAbort(bool Value) { abort_ = Value; }

  // --- Run-time state.
  // The name the next extracted member is written under (file name only);
  // empty: the name of its stored path. OnBeforeExtracting and OnReplace
  // may set it.
  const std::string& ExtractAsName() const { return extractAs_; }
  void SetExtractAsName(const std::string& Value) { extractAs_ = Value; }
  // Set by OnReplace to keep the existing file.
  bool SkipFile() const { return skip_; }
  void SetSkipFile(bool Value) { skip_ = Value; }
  int32_t CurrentVolume() const { return currentVolume_; }
  // 0 idle, 1 compressing, 2 extracting.
  int32_t Operation() const { return operation_; }

  // --- The records (each reads them first when they are not read yet).
  void ReadFileHeaders();
  const TFileHeaders& FileHeaders();
  int32_t FileCount();
  // Raises ETrevCompress "Tried to access the %dth file. This file is not
  // defined" out of range.
  TlzhFileStats FileStats(int32_t Index);
  // The record of a member id; -1 when no record has it (or it lies outside
  // 0..1999).
  int32_t IndexOfID(int32_t Id);
  // The record whose path equals the first ";" field of Path (ignoring
  // case); -1 when none.
  int32_t IndexOfFile(const std::string& Path);

  // --- Operations.
  // Fires OnListing once per member.
  void List();
  // Compresses the files of FilesToProcess into CompressedFile: appended to
  // the archive with Append when it exists, else into a new archive. Every
  // new member takes the id Id.
  void Compress(bool Append, int32_t Id);
  // Extracts the members named in FilesToProcess into ExtractDirectory.
  void Extract();
  // Copies the archive onto volumes: TargetFile (say "A:\files.1") and, as
  // each disk fills, the same name with ".2", ".3", ... in the folder that
  // OnNewDisk gives for that disk. The records go to volume 1, for which
  // OnNewDisk is asked again at the end when another disk is in.
  void SpreadOntoDisks(const std::string& TargetFile);

  plat::TNotifyEvent OnAborted;
  plat::TNotifyEvent OnFullDisk;
  TNewDiskEvent OnNewDisk;
  TlzhStatsEvent OnBeforeAdding;
  TlzhStatsEvent OnAfterAdding;
  TlzhStatsEvent OnBeforeExtracting;
  TlzhStatsEvent OnAfterExtracting;
  TlzhStatsEvent OnListing;
  TlzhStatsEvent OnReplace;
  TlzhStatsEvent OnStatus;

  const plat::TPropList& PublishedProperties() const override;

 private:
  struct TMemberCursor;

  TlzhFileStats MakeStats(const TFileHeader& Header) const;
  void UpdateOverall(TlzhFileStats& Stats) const;
  void Status(TlzhFileStats& Stats);
  void CheckAbort();
  // The file of a volume of the archive being read (Windows path).
  std::string VolumeName(int32_t Volume) const;
  int64_t VolumeStart(int32_t Volume) const { return Volume == 1 ? offset_ : 0; }
  // Opens volume n for reading, asking OnNewDisk where it is when missing.
  void OpenVolume(int32_t Volume, plat::TOSFile& File);
  // The next bytes of a member's data (0 at its end), across volumes.
  size_t ReadMemberData(TMemberCursor& Cursor, uint8_t* Buffer, size_t Count,
                        const std::string& BrokenMessage);
  void ExtractMember(const TFileHeader& Header, const std::string& Dest, TlzhFileStats& Stats);
  void Inflate(const TFileHeader& Header, plat::TOSFile& Out, TlzhFileStats& Stats);
  void FullDisk();
  void Finish(TlzhFileStats& Stats);

  std::string compressedFile_;
  TCompressionLevel compressionLevel_ = colMax;
  std::string extractDirectory_;
  std::unique_ptr<plat::TStringList> filesToProcess_;
  int32_t offset_ = 0;
  TOverwriteType overwrite_ = owAlways;
  bool abort_ = false;

  TFileHeaders headers_;
  bool headersRead_ = false;
  uint8_t layoutFlag_ = 0;
  std::array<int32_t, kMaxId> ids_;
  int32_t operation_ = 0;
  int32_t currentVolume_ = 0;
  std::string extractAs_;
  bool skip_ = false;
  // Totals and progress of the running operation, for the statistics.
  int64_t totalCompressed_ = 0;
  int64_t totalUncompressed_ = 0;
  int64_t overallDone_ = 0;
};

}  // namespace setup
