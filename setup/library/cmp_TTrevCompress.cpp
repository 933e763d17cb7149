#include "setup/library/cmp_TTrevCompress.h"

#include <cmath>

#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "setup/library/cmp_TTrevCompressRecord.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace w = plat::win;
using namespace archive;

namespace archive {

std::string ChangeWinFileExt(const std::string& FileName, const std::string& Extension) {
  const std::string ext = w::ExtractWinFileExt(FileName);
  return FileName.substr(0, FileName.size() - ext.size()) + Extension;
}

std::string JoinWinPath(const std::string& Folder, const std::string& Name) {
  return RemoveTrailingBackslash(Folder) + "\\" + Name;
}

}  // namespace archive

namespace {

int32_t Percent(int64_t part, int64_t whole) {
  if (whole <= 0) return 100;
  return static_cast<int32_t>(
      std::nearbyint(static_cast<double>(part) * 100.0 / static_cast<double>(whole)));
}

// Sizes come from archive records, so a ratio can lie far outside what an
// int32_t holds: it is clamped rather than converted out of range.
int32_t Ratio(int64_t compressed, int64_t uncompressed) {
  if (uncompressed <= 0 || compressed <= 0) return 0;
  const double ratio =
      std::nearbyint(static_cast<double>(compressed) * 100.0 / static_cast<double>(uncompressed));
  return ratio >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(ratio);
}

}  // namespace

// --- Records ---------------------------------------------------------------------

const TFileHeader& TFileHeaders::FileHeaders(int32_t Index) const {
  if (Index < 0 || Index >= Count()) {
    throw ETrevCompress(
        plat::Format("%d is an invalid TFileHeader index in TFileHeaders.GetFileHeaders", {Index}));
  }
  return items_[static_cast<size_t>(Index)];
}

TFileHeader& TFileHeaders::FileHeaders(int32_t Index) {
  return const_cast<TFileHeader&>(static_cast<const TFileHeaders&>(*this).FileHeaders(Index));
}

int32_t TFileHeaders::Add(const TFileHeader& Header) {
  if (plat::Trim(Header.FilePath).empty())
    throw ETrevCompress("Tried to add an invalid file header");
  items_.push_back(Header);
  return Count() - 1;
}

// --- The component ------------------------------------------------------------------

TTrevCompress::TTrevCompress(plat::TComponent* AOwner)
    : plat::TComponent(AOwner), filesToProcess_(std::make_unique<plat::TStringList>()) {
  ids_.fill(-1);
}

TTrevCompress::~TTrevCompress() = default;

void TTrevCompress::SetCompressedFile(const std::string& Value) {
  if (!w::SameName(ChangeWinFileExt(Value, ".1"), ChangeWinFileExt(compressedFile_, ".1"))) {
    headers_.Clear();
    ids_.fill(-1);
    headersRead_ = false;
  }
  compressedFile_ = Value;
}

void TTrevCompress::SetFilesToProcess(const plat::TStrings& Value) {
  filesToProcess_->Clear();
  for (int32_t i = 0; i < Value.Count(); ++i) {
    if (!plat::Trim(Value.Strings(i)).empty()) filesToProcess_->Add(Value.Strings(i));
  }
}

void TTrevCompress::SetOffset(int32_t Value) {
  if (Value != offset_) {
    headers_.Clear();
    ids_.fill(-1);
    headersRead_ = false;
  }
  offset_ = Value;
}

const plat::TPropList& TTrevCompress::PublishedProperties() const {
  using T = TTrevCompress;
  static const plat::TPropList list =
      plat::TPublished<T>(plat::TComponent::PublishedProperties())
          .Boolean("Abort", &T::Abort, &T::SetAbort, false)
          .String("CompressedFile", &T::CompressedFile, &T::SetCompressedFile)
          .Enumeration("CompressionLevel", &T::CompressionLevel, &T::SetCompressionLevel,
                       {"colNone", "colFastest", "colDefault", "colMax"}, colMax)
          .String("ExtractDirectory", &T::ExtractDirectory, &T::SetExtractDirectory)
          .Integer("Offset", &T::Offset, &T::SetOffset, 0)
          .Enumeration("Overwrite", &T::Overwrite, &T::SetOverwrite,
                       {"owAlways", "owNever", "owVersion", "owDate", "owVersionDate", "owAsk"},
                       owAlways);
  return list;
}

void TTrevCompress::ReadFileHeaders() {
  if (headersRead_) return;
  headers_.Clear();
  ids_.fill(-1);
  plat::TOSFile file;
  if (plat::Trim(compressedFile_).empty() || !w::FileExists(compressedFile_) ||
      !file.Open(w::HostPath(compressedFile_), plat::TFileAccess::faRead,
                 plat::TFileShare::fsDenyWrite)) {
    throw ETrevCompress(plat::Format(kOpenArchive, {compressedFile_}));
  }
  const int64_t fileSize = file.Size();
  uint8_t head[kHeadSize];
  if (offset_ < 0 || file.ReadAt(offset_, head, kHeadSize) != kHeadSize) {
    throw ETrevCompress("Could not read the file header count for the compressed file");
  }
  // Bytes of the archive in this file, counted from its start.
  const int64_t size = fileSize - offset_;
  const int32_t count = LoadI32(head);
  const uint8_t flag = head[4];
  TFileHeaders headers;
  try {
    if (count < 0 || flag > 1 || count > (size - kHeadSize) / kRecordSize) {
      throw ETrevCompress(kCorrupt);
    }
    const int64_t recordsEnd = kHeadSize + static_cast<int64_t>(count) * kRecordSize;
    int64_t position = kHeadSize;
    for (int32_t i = 0; i < count; ++i) {
      uint8_t record[kRecordSize];
      TFileHeader h;
      if (position + kRecordSize > size ||
          file.ReadAt(offset_ + position, record, kRecordSize) != kRecordSize ||
          !DecodeRecord(record, h)) {
        throw ETrevCompress(kCorrupt);
      }
      const int64_t first = h.FirstPosition;
      const int64_t last = h.LastPosition;
      const int64_t next = h.NextPosition;
      const int64_t compressed = h.CompressedSize;
      if (h.LastVolume == 0) h.LastVolume = 1;
      bool valid = first >= 0 && last >= 0 && compressed > 0 && h.LastVolume >= h.FirstVolume &&
                   h.LastVolume <= kMaxVolume;
      if (valid && h.FirstVolume == h.LastVolume) valid = last == first + compressed - 1;
      if (valid && h.FirstVolume != h.LastVolume) {
        // A spanning member fills its first volume from its first byte to
        // that volume's end, every volume between whole, and its last one
        // up to its last byte; no volume holds more than a position can
        // address.
        const int64_t firstVolumeEnd = h.FirstVolume == 1 ? size : int64_t{INT32_MAX};
        const int64_t most = (firstVolumeEnd - first) +
                             int64_t{h.LastVolume - h.FirstVolume - 1} * INT32_MAX + last + 1;
        valid = last < compressed - 1 && compressed <= most;
      }
      if (valid && flag == 0) {
        // One file: the data follows its record and the next record it.
        valid =
            h.LastVolume == 1 && first >= position + kRecordSize && last < size && next == last + 1;
      } else if (valid) {
        // Volumes: the records lie back to back, the data behind them.
        valid = next == position + kRecordSize && (h.FirstVolume > 1 || first >= recordsEnd) &&
                (h.LastVolume > 1 || last < size);
      }
      if (!valid) throw ETrevCompress(kCorrupt);
      headers.Add(h);
      position = next;
    }
  } catch (const plat::Exception&) {
    throw ETrevCompress(kCorrupt);
  }
  for (int32_t i = 0; i < headers.Count(); ++i) {
    const TFileHeader& h = headers.FileHeaders(i);
    headers_.Add(h);
    if (h.UniqueID >= 0 && h.UniqueID < kMaxId) ids_[static_cast<size_t>(h.UniqueID)] = i;
  }
  layoutFlag_ = flag;
  headersRead_ = true;
}

const TFileHeaders& TTrevCompress::FileHeaders() {
  ReadFileHeaders();
  return headers_;
}

int32_t TTrevCompress::FileCount() {
  ReadFileHeaders();
  return headers_.Count();
}

TlzhFileStats TTrevCompress::FileStats(int32_t Index) {
  ReadFileHeaders();
  if (Index < 0 || Index >= headers_.Count()) {
    throw ETrevCompress(
        plat::Format("Tried to access the %dth file. This file is not defined", {Index}));
  }
  return MakeStats(headers_.FileHeaders(Index));
}

int32_t TTrevCompress::IndexOfID(int32_t Id) {
  ReadFileHeaders();
  if (Id < 0 || Id >= kMaxId) return -1;
  return ids_[static_cast<size_t>(Id)];
}

int32_t TTrevCompress::IndexOfFile(const std::string& Path) {
  ReadFileHeaders();
  const std::string path = GetField(Path, 1, ';');
  if (path.empty()) return -1;
  for (int32_t i = 0; i < headers_.Count(); ++i) {
    if (w::SameName(headers_.FileHeaders(i).FilePath, path)) return i;
  }
  return -1;
}

void TTrevCompress::List() {
  ReadFileHeaders();
  totalCompressed_ = totalUncompressed_ = overallDone_ = 0;
  for (int32_t i = 0; i < headers_.Count(); ++i) {
    totalCompressed_ += headers_.FileHeaders(i).CompressedSize;
    totalUncompressed_ += headers_.FileHeaders(i).UncompressedSize;
  }
  for (int32_t i = 0; i < headers_.Count(); ++i) {
    TlzhFileStats stats = MakeStats(headers_.FileHeaders(i));
    if (OnListing) OnListing(this, stats);
  }
}

// --- Statistics ------------------------------------------------------------------------

TlzhFileStats TTrevCompress::MakeStats(const TFileHeader& Header) const {
  TlzhFileStats stats;
  stats.FileName = Header.FilePath;
  stats.CompressedSize = Header.CompressedSize;
  stats.UncompressedSize = Header.UncompressedSize;
  stats.CompressionRatio = Ratio(Header.CompressedSize, Header.UncompressedSize);
  stats.FileHeader = Header;
  UpdateOverall(stats);
  return stats;
}

void TTrevCompress::UpdateOverall(TlzhFileStats& Stats) const {
  Stats.TotalCompressedSize = totalCompressed_;
  Stats.TotalUncompressedSize = totalUncompressed_;
  Stats.OverallRatio = Ratio(totalCompressed_, totalUncompressed_);
  Stats.OverallBytesDone = overallDone_ + Stats.FileBytesDone;
  // Nothing to do at all (only empty files) counts as done once one is.
  Stats.OverallPercentDone = totalUncompressed_ > 0 || Stats.Finished
                                 ? Percent(Stats.OverallBytesDone, totalUncompressed_)
                                 : 0;
}

void TTrevCompress::Status(TlzhFileStats& Stats) {
  Stats.FilePercentDone = Percent(Stats.FileBytesDone, Stats.UncompressedSize);
  UpdateOverall(Stats);
  if (OnStatus) OnStatus(this, Stats);
}

void TTrevCompress::CheckAbort() {
  if (abort_) throw EtcAborted(kAborted);
}

void TTrevCompress::Finish(TlzhFileStats& Stats) {
  Stats.Finished = true;
  Stats.FileBytesDone = Stats.UncompressedSize;
  Status(Stats);
  overallDone_ += Stats.UncompressedSize;
}

// --- Volumes -----------------------------------------------------------------------------

std::string TTrevCompress::VolumeName(int32_t Volume) const {
  return layoutFlag_ == 1 ? ChangeWinFileExt(compressedFile_, "." + std::to_string(Volume))
                          : compressedFile_;
}

void TTrevCompress::OpenVolume(int32_t Volume, plat::TOSFile& File) {
  File.Close();
  const std::string name = VolumeName(Volume);
  const std::string fileName = w::ExtractWinFileName(name);
  std::string path = name;
  constexpr int kAttempts = 4;
  for (int attempt = 0;; ++attempt) {
    if (w::FileExists(path)) {
      if (!File.Open(w::HostPath(path), plat::TFileAccess::faRead, plat::TFileShare::fsDenyWrite)) {
        throw ETrevCompress(plat::Format(kOpenArchive, {path}));
      }
      currentVolume_ = Volume;
      return;
    }
    if (attempt == kAttempts) break;
    if (!OnNewDisk) {
      throw ETrevCompress(plat::Format("Could not open the correct disk file %d", {Volume}));
    }
    std::string dir = RemoveTrailingBackslash(w::ExtractWinFileDir(path));
    OnNewDisk(this, Volume, dir);
    path = JoinWinPath(dir, fileName);
  }
  throw ETrevCompress(plat::Format(kOpenArchive, {path}));
}

size_t TTrevCompress::ReadMemberData(TMemberCursor& Cursor, uint8_t* Buffer, size_t Count,
                                     const std::string& BrokenMessage) {
  for (;;) {
    if (Cursor.Remaining == 0) return 0;
    int64_t want = std::min<int64_t>(static_cast<int64_t>(Count), Cursor.Remaining);
    if (Cursor.Volume == Cursor.Header.LastVolume) {
      // Nothing beyond the member's last byte is read.
      want = std::min<int64_t>(
          want, VolumeStart(Cursor.Volume) + Cursor.Header.LastPosition + 1 - Cursor.Position);
      if (want <= 0) throw ETrevCompress(BrokenMessage);
    }
    const int64_t n = Cursor.File.ReadAt(Cursor.Position, Buffer, want);
    if (n < 0) throw ETrevCompress(BrokenMessage);
    if (n == 0) {
      // This volume has ended: the member goes on in the next one, unless
      // this was its last.
      if (Cursor.Volume >= Cursor.Header.LastVolume) throw ETrevCompress(BrokenMessage);
      ++Cursor.Volume;
      OpenVolume(Cursor.Volume, Cursor.File);
      Cursor.Position = VolumeStart(Cursor.Volume);
      continue;
    }
    Cursor.Position += n;
    Cursor.Remaining -= n;
    return static_cast<size_t>(n);
  }
}

}  // namespace setup
