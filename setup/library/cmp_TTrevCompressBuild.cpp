// The build side of the archive: compressing files into an archive, and
// spreading an archive over volumes on disks.

#include <zlib.h>

#include <vector>

#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"
#include "setup/library/cmp_TTrevCompress.h"
#include "setup/library/cmp_TTrevCompressRecord.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace w = plat::win;
using namespace archive;

namespace {

constexpr size_t kInputBlock = 65536;
constexpr size_t kCopyBlock = 8192;

int ZlibLevel(TCompressionLevel Level) {
  switch (Level) {
    case colNone:
      return Z_NO_COMPRESSION;
    case colFastest:
      return Z_BEST_SPEED;
    case colDefault:
      return Z_DEFAULT_COMPRESSION;
    case colMax:
      break;
  }
  return Z_BEST_COMPRESSION;
}

class TDeflater {
 public:
  explicit TDeflater(int level) {
    if (deflateInit(&stream_, level) != Z_OK) throw plat::EOutOfMemory("Cannot start deflating");
  }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  ~TDeflater() { deflateEnd(&stream_); }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_{};
};

// What is known of a source file before it is compressed.
struct TSource {
  std::string Path;
  TFileHeader Header;
};

bool WriteExactly(plat::TOSFile& file, int64_t position, const void* data, int64_t count) {
  return file.WriteAt(position, data, count) == count;
}

}  // namespace

void TTrevCompress::Compress(bool Append, int32_t Id) {
  abort_ = false;
  operation_ = 1;
  struct TEnd {
    TTrevCompress& self;
    ~TEnd() {
      self.filesToProcess_->Clear();
      self.operation_ = 0;
    }
  } end{*this};

  plat::TOSFile archive;
  // The archive's length up to the end of its last complete member; a
  // failure cuts the file back to it.
  int64_t complete = -1;
  try {
    // A file that ends at Offset (a program with nothing behind it yet)
    // holds no archive to add to.
    const bool exists = w::FileExists(compressedFile_);
    const bool appending = Append && exists && w::FileSize(compressedFile_) > offset_;
    if (appending) {
      headersRead_ = false;
      ReadFileHeaders();
      if (layoutFlag_ != 0) {
        throw ETrevCompress(plat::Format(
            "Cannot add files to the archive %s: it is spread over volumes", {compressedFile_}));
      }
    } else {
      headers_.Clear();
      ids_.fill(-1);
      headersRead_ = false;
    }

    // The new members, checked before the archive is touched.
    std::vector<TSource> sources;
    totalCompressed_ = totalUncompressed_ = overallDone_ = 0;
    for (int32_t i = 0; i < filesToProcess_->Count(); ++i) {
      const std::string path = plat::Trim(GetField(filesToProcess_->Strings(i), 1, ';'));
      if (path.empty()) continue;
      bool known = false;
      for (int32_t k = 0; k < headers_.Count() && !known; ++k) {
        known = w::SameName(headers_.FileHeaders(k).FilePath, path);
      }
      for (const TSource& s : sources) known = known || w::SameName(s.Path, path);
      if (known) continue;
      if (path.size() > kMaxPath) {
        throw ETrevCompress(plat::Format(
            "The path %s is longer than the 100 characters an archive can hold", {path}));
      }
      plat::TOSFile source;
      const int64_t size = w::FileSize(path);
      if (!w::FileExists(path) || size < 0 || size > 0xFFFFFFFFll ||
          !source.Open(w::HostPath(path), plat::TFileAccess::faRead,
                       plat::TFileShare::fsDenyWrite)) {
        throw ETrevCompress(plat::Format("Cannot open the file %s", {path}));
      }
      TSource s;
      s.Path = path;
      s.Header.FilePath = path;
      s.Header.FileDate = w::FileDateToDateTime(w::FileAge(path));
      s.Header.UncompressedSize = static_cast<uint32_t>(size);
      TVersionResource version(nullptr);
      version.SetFileName(path);
      s.Header.FileVersion = version.VersionInfo().FileVersion.substr(0, kMaxVersion);
      s.Header.UniqueID = Id;
      totalUncompressed_ += size;
      sources.push_back(std::move(s));
    }

    const std::string dir = w::ExtractWinFileDir(compressedFile_);
    if (!dir.empty()) w::ForceDirectories(dir);
    const std::string host = w::HostPath(compressedFile_);
    // A new archive replaces what lies from Offset on; the bytes before it
    // (the program carrying the archive) stay.
    const bool opened =
        appending || (exists && offset_ > 0)
            ? archive.Open(host, plat::TFileAccess::faReadWrite, plat::TFileShare::fsExclusive) &&
                  (appending || archive.SetSize(offset_))
            : archive.Create(host);
    if (!opened) throw ETrevCompress(plat::Format(kOpenArchive, {compressedFile_}));
    // Archive-relative position where the next record goes.
    int64_t endOfData = kHeadSize;
    if (headers_.Count() > 0) endOfData = headers_.FileHeaders(headers_.Count() - 1).NextPosition;
    uint8_t head[kHeadSize] = {};
    StoreI32(head, headers_.Count());
    if (!WriteExactly(archive, offset_, head, kHeadSize)) FullDisk();
    complete = offset_ + endOfData;
    headersRead_ = true;

    std::vector<uint8_t> input(kInputBlock);
    std::vector<uint8_t> output(kInputBlock);
    uint8_t record[kRecordSize];
    for (TSource& s : sources) {
      TFileHeader& h = s.Header;
      h.FileNumber = headers_.Count() + 1;
      TlzhFileStats stats = MakeStats(h);
      if (OnBeforeAdding) OnBeforeAdding(this, stats);

      const int64_t recordAt = endOfData;
      const int64_t dataAt = recordAt + kRecordSize;
      if (dataAt > INT32_MAX) throw ETrevCompress(plat::Format(kCreateFile, {compressedFile_}));
      EncodeRecord(h, record);
      if (!WriteExactly(archive, offset_ + recordAt, record, kRecordSize)) FullDisk();

      plat::TOSFile source;
      if (!source.Open(w::HostPath(s.Path), plat::TFileAccess::faRead,
                       plat::TFileShare::fsDenyWrite)) {
        throw ETrevCompress(plat::Format("Cannot open the file %s", {s.Path}));
      }
      TDeflater deflater(ZlibLevel(compressionLevel_));
      z_stream& z = deflater.Stream();
      int64_t read = 0;
      int64_t out = dataAt;
      int flush = Z_NO_FLUSH;
      while (flush != Z_FINISH) {
        const int64_t n = source.ReadAt(read, input.data(), static_cast<int64_t>(input.size()));
        if (n < 0) throw ETrevCompress(plat::Format("Cannot open the file %s", {s.Path}));
        read += n;
        // A source that grew while it was read is cut at the size recorded.
        if (n == 0 || read >= static_cast<int64_t>(h.UncompressedSize)) flush = Z_FINISH;
        const int64_t use =
            std::min<int64_t>(n, n - (read - static_cast<int64_t>(h.UncompressedSize)));
        z.next_in = input.data();
        z.avail_in = static_cast<uInt>(std::max<int64_t>(use, 0));
        do {
          z.next_out = output.data();
          z.avail_out = static_cast<uInt>(output.size());
          deflate(&z, flush);
          const int64_t produced = static_cast<int64_t>(output.size() - z.avail_out);
          if (produced > 0 && !WriteExactly(archive, offset_ + out, output.data(), produced)) {
            FullDisk();
          }
          out += produced;
        } while (z.avail_out == 0);
        CheckAbort();
        stats.FileBytesDone = std::min<int64_t>(read, h.UncompressedSize);
        Status(stats);
      }
      // A source that shrank while it was read does not match its record.
      if (read < static_cast<int64_t>(h.UncompressedSize)) {
        throw ETrevCompress(plat::Format("Cannot open the file %s", {s.Path}));
      }
      if (out - 1 > INT32_MAX) throw ETrevCompress(plat::Format(kCreateFile, {compressedFile_}));
      h.FirstVolume = h.LastVolume = 1;
      h.FirstPosition = static_cast<int32_t>(dataAt);
      h.CompressedSize = static_cast<uint32_t>(out - dataAt);
      h.LastPosition = static_cast<int32_t>(out - 1);
      h.NextPosition = static_cast<int32_t>(out);
      EncodeRecord(h, record);
      if (!WriteExactly(archive, offset_ + recordAt, record, kRecordSize)) FullDisk();
      // The member counts once its record is complete.
      const int32_t index = headers_.Add(h);
      if (h.UniqueID >= 0 && h.UniqueID < kMaxId) ids_[static_cast<size_t>(h.UniqueID)] = index;
      StoreI32(head, headers_.Count());
      if (!WriteExactly(archive, offset_, head, 4)) FullDisk();
      endOfData = out;
      complete = offset_ + endOfData;
      stats = MakeStats(h);
      Finish(stats);
      if (OnAfterAdding) OnAfterAdding(this, stats);
    }
    archive.SetSize(complete);
  } catch (const EtcAborted&) {
    if (archive.IsOpen() && complete >= 0) archive.SetSize(complete);
    if (OnAborted) OnAborted(this);
  } catch (const plat::EAbort&) {
    if (archive.IsOpen() && complete >= 0) archive.SetSize(complete);
  } catch (...) {
    if (archive.IsOpen() && complete >= 0) archive.SetSize(complete);
    abort_ = true;
    throw;
  }
}

void TTrevCompress::SpreadOntoDisks(const std::string& TargetFile) {
  abort_ = false;
  operation_ = 1;
  struct TEnd {
    TTrevCompress& self;
    ~TEnd() { self.operation_ = 0; }
  } end{*this};
  ReadFileHeaders();
  const int32_t count = headers_.Count();
  const std::string targetName = w::ExtractWinFileName(TargetFile);
  std::string dir = RemoveTrailingBackslash(w::ExtractWinFileDir(TargetFile));

  // The disk being written: its volume number, file, the bytes it can take
  // and the bytes on it.
  struct TDisk {
    int32_t Volume = 0;
    std::string Path;
    plat::TOSFile File;
    int64_t Capacity = 0;
    int64_t Used = 0;
  } disk;
  auto startDisk = [&](int32_t volume, int64_t needed) {
    disk.File.Close();
    if (volume > 1) {
      if (!OnNewDisk) {
        throw ETrevCompress(
            "There was no event handler for the OnNewDisk event, therefore no new disk could be "
            "inserted");
      }
      if (volume > kMaxVolume) throw ETrevCompress(kTooLittleSpace);
      OnNewDisk(this, volume, dir);
    }
    disk.Volume = volume;
    disk.Path = JoinWinPath(
        dir, volume == 1 ? targetName : ChangeWinFileExt(targetName, "." + std::to_string(volume)));
    if (!disk.File.Create(w::HostPath(disk.Path))) {
      throw ETrevCompress(plat::Format(kCreateFile, {disk.Path}));
    }
    uint64_t total = 0;
    uint64_t free = 0;
    if (!w::GetDiskFreeSpace(disk.Path, total, free)) free = 0;
    disk.Capacity = static_cast<int64_t>(std::min<uint64_t>(free, INT32_MAX));
    disk.Used = 0;
    if (disk.Capacity < needed) throw ETrevCompress(kTooLittleSpace);
  };

  const int64_t recordsEnd = kHeadSize + static_cast<int64_t>(count) * kRecordSize;
  startDisk(1, recordsEnd);
  // The head counts no member until every member is on its disks.
  std::vector<uint8_t> placeholder(static_cast<size_t>(recordsEnd), 0);
  placeholder[4] = 1;
  if (!WriteExactly(disk.File, 0, placeholder.data(), recordsEnd)) {
    throw ETrevCompress(kTooLittleSpace);
  }
  disk.Used = recordsEnd;

  totalCompressed_ = totalUncompressed_ = overallDone_ = 0;
  for (int32_t i = 0; i < count; ++i) {
    totalCompressed_ += headers_.FileHeaders(i).CompressedSize;
    totalUncompressed_ += headers_.FileHeaders(i).UncompressedSize;
  }
  std::vector<TFileHeader> spread;
  std::vector<uint8_t> block(kCopyBlock);
  for (int32_t i = 0; i < count; ++i) {
    const TFileHeader& source = headers_.FileHeaders(i);
    TFileHeader h = source;
    h.FileNumber = i + 1;
    TlzhFileStats stats = MakeStats(source);
    TMemberCursor cursor{source,
                         source.FirstVolume,
                         VolumeStart(source.FirstVolume) + source.FirstPosition,
                         source.CompressedSize,
                         {}};
    OpenVolume(cursor.Volume, cursor.File);
    bool started = false;
    int64_t copied = 0;
    for (;;) {
      const size_t n = ReadMemberData(cursor, block.data(), block.size(), kCorrupt);
      if (n == 0) break;
      size_t done = 0;
      while (done < n) {
        const int64_t room = disk.Capacity - disk.Used;
        const int64_t want = std::min<int64_t>(room, static_cast<int64_t>(n - done));
        const int64_t put = want > 0 ? disk.File.WriteAt(disk.Used, block.data() + done, want) : 0;
        if (put > 0) {
          if (!started) {
            h.FirstVolume = disk.Volume;
            h.FirstPosition = static_cast<int32_t>(disk.Used);
            started = true;
          }
          h.LastVolume = disk.Volume;
          h.LastPosition = static_cast<int32_t>(disk.Used + put - 1);
          disk.Used += put;
          done += static_cast<size_t>(put);
        }
        // A write that fell short: the rest goes onto the next disk.
        if (done < n) startDisk(disk.Volume + 1, static_cast<int64_t>(n - done));
      }
      copied += static_cast<int64_t>(n);
      CheckAbort();
      stats.FileBytesDone = source.CompressedSize == 0
                                ? 0
                                : copied * static_cast<int64_t>(source.UncompressedSize) /
                                      static_cast<int64_t>(source.CompressedSize);
      Status(stats);
    }
    h.NextPosition = static_cast<int32_t>(kHeadSize + static_cast<int64_t>(i + 1) * kRecordSize);
    spread.push_back(h);
    Finish(stats);
  }

  // The records go to the first disk, which is asked for again when
  // another one is in the drive.
  if (disk.Volume != 1) {
    disk.File.Close();
    if (!OnNewDisk) {
      throw ETrevCompress(
          "There was no event handler for the OnNewDisk event, therefore no new disk could be "
          "inserted");
    }
    OnNewDisk(this, 1, dir);
    disk.Path = JoinWinPath(dir, targetName);
    if (!w::FileExists(disk.Path) ||
        !disk.File.Open(w::HostPath(disk.Path), plat::TFileAccess::faReadWrite,
                        plat::TFileShare::fsExclusive)) {
      throw ETrevCompress(plat::Format("Could not open the correct disk file %d", {1}));
    }
  }
  uint8_t record[kRecordSize];
  for (int32_t i = 0; i < count; ++i) {
    EncodeRecord(spread[static_cast<size_t>(i)], record);
    if (!WriteExactly(disk.File, kHeadSize + static_cast<int64_t>(i) * kRecordSize, record,
                      kRecordSize)) {
      throw ETrevCompress(kTooLittleSpace);
    }
  }
  uint8_t head[kHeadSize];
  StoreI32(head, count);
  head[4] = 1;
  if (!WriteExactly(disk.File, 0, head, kHeadSize)) throw ETrevCompress(kTooLittleSpace);
}

}  // namespace setup
