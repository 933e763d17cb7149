// Extraction: members are inflated from their volumes into temporary files
// beside their destinations, checked, dated and renamed into place.

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
constexpr size_t kOutputBlock = 4096;

// The last component of a member's name; "\", "/" and ":" all separate, so
// that no name reaches outside the extract directory.
std::string SafeFileName(const std::string& Name) {
  const size_t cut = Name.find_last_of("\\/:");
  const std::string name = cut == std::string::npos ? Name : Name.substr(cut + 1);
  // A NUL would cut the name short at the file system.
  if (plat::Trim(name).empty() || name == "." || name == ".." ||
      name.find('\0') != std::string::npos) {
    throw ETrevCompress(
        plat::Format("The name <%s> cannot be used for a file extracted from the archive", {Name}));
  }
  return name;
}

// An inflate stream that ends itself.
class TInflater {
 public:
  TInflater() {
    if (inflateInit(&stream_) != Z_OK) throw plat::EOutOfMemory("Cannot start inflating");
  }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
  ~TInflater() { inflateEnd(&stream_); }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_{};
};

// Deletes a temporary file unless it was kept.
class TTempFile {
 public:
  explicit TTempFile(std::string name) : name_(std::move(name)) {}
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  ~TTempFile() {
    if (!name_.empty()) w::DeleteFile(name_);
  }
  const std::string& Name() const { return name_; }
  void Keep() { name_.clear(); }

 private:
  std::string name_;
};

}  // namespace

void TTrevCompress::FullDisk() {
  if (OnFullDisk) OnFullDisk(this);
  throw EtcDiskFull("The disk is full");
}

void TTrevCompress::Inflate(const TFileHeader& Header, plat::TOSFile& Out, TlzhFileStats& Stats) {
  const std::string broken = plat::Format(kSizeMismatch, {Header.FilePath});
  TMemberCursor cursor{Header,
                       Header.FirstVolume,
                       VolumeStart(Header.FirstVolume) + Header.FirstPosition,
                       Header.CompressedSize,
                       {}};
  OpenVolume(cursor.Volume, cursor.File);
  TInflater inflater;
  z_stream& z = inflater.Stream();
  std::vector<uint8_t> input(kInputBlock);
  std::vector<uint8_t> output(kOutputBlock);
  int64_t written = 0;
  bool ended = false;
  while (!ended) {
    const size_t n = ReadMemberData(cursor, input.data(), input.size(), broken);
    // The member's data ran out before its stream ended.
    if (n == 0) throw ETrevCompress(broken);
    z.next_in = input.data();
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = output.data();
      z.avail_out = static_cast<uInt>(output.size());
      const int result = inflate(&z, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
        throw ETrevCompress(broken);
      }
      const size_t produced = output.size() - z.avail_out;
      if (written + static_cast<int64_t>(produced) >
          static_cast<int64_t>(Header.UncompressedSize)) {
        throw ETrevCompress(broken);
      }
      if (produced > 0) {
        if (Out.WriteAt(written, output.data(), static_cast<int64_t>(produced)) !=
            static_cast<int64_t>(produced)) {
          FullDisk();
        }
        written += static_cast<int64_t>(produced);
        CheckAbort();
        Stats.FileBytesDone = written;
        Status(Stats);
      }
      if (result == Z_STREAM_END) {
        ended = true;
        break;
      }
    } while (z.avail_out == 0);
  }
  if (written != static_cast<int64_t>(Header.UncompressedSize)) throw ETrevCompress(broken);
}

void TTrevCompress::ExtractMember(const TFileHeader& Header, const std::string& Dest,
                                  TlzhFileStats& Stats) {
  const std::string destDir = w::ExtractWinFileDir(Dest);
  std::string tempName;
  if (!w::ForceDirectories(destDir) || w::GetTempFileName(destDir, "tcx", 0, tempName) == 0) {
    throw ETrevCompress(plat::Format(kCreateFile, {Dest}));
  }
  TTempFile temp(tempName);
  {
    plat::TOSFile out;
    if (!out.Create(w::HostPath(temp.Name()))) {
      throw ETrevCompress(plat::Format(kCreateFile, {Dest}));
    }
    Inflate(Header, out, Stats);
  }
  if (!w::FileSetDate(temp.Name(), w::DateTimeToFileDate(Header.FileDate))) {
    throw ETrevCompress("Cannot set the date of the file just extracted.");
  }
  if (!w::MoveFileEx(temp.Name(), Dest, w::MOVEFILE_REPLACE_EXISTING)) {
    throw ETrevCompress(plat::Format(kCreateFile, {Dest}));
  }
  temp.Keep();
  Finish(Stats);
}

void TTrevCompress::Extract() {
  abort_ = false;
  operation_ = 2;
  struct TEnd {
    TTrevCompress& self;
    ~TEnd() {
      self.filesToProcess_->Clear();
      self.extractAs_.clear();
      self.operation_ = 0;
    }
  } end{*this};
  try {
    ReadFileHeaders();
    // The totals of what is to be extracted, for the overall figures.
    totalCompressed_ = totalUncompressed_ = overallDone_ = 0;
    for (int32_t i = 0; i < filesToProcess_->Count(); ++i) {
      const int32_t index = IndexOfFile(filesToProcess_->Strings(i));
      if (index < 0) continue;
      totalCompressed_ += headers_.FileHeaders(index).CompressedSize;
      totalUncompressed_ += headers_.FileHeaders(index).UncompressedSize;
    }
    const std::string dir = RemoveTrailingBackslash(extractDirectory_);
    for (int32_t i = 0; i < filesToProcess_->Count(); ++i) {
      const std::string line = filesToProcess_->Strings(i);
      if (plat::Trim(line).empty()) continue;
      const int32_t index = IndexOfFile(line);
      if (index < 0) {
        throw ETrevCompress(plat::Format("The file <%s> was not found in the archive <%s>",
                                         {line, compressedFile_}));
      }
      const TFileHeader header = headers_.FileHeaders(index);
      TlzhFileStats stats = MakeStats(header);
      if (extractAs_.empty()) extractAs_ = SafeFileName(header.FilePath);
      if (OnBeforeExtracting) OnBeforeExtracting(this, stats);
      if (extractAs_.empty()) extractAs_ = SafeFileName(header.FilePath);
      std::string dest = dir + "\\" + SafeFileName(extractAs_);
      bool write = true;
      if (w::FileExists(dest)) {
        const int32_t decision = IsFileNewer(header.FileVersion, dest, overwrite_, header.FileDate);
        if (decision == 0) throw ETrevCompress("Error comparing file versions in TTrevCompress");
        if (decision == 1 || decision == 3) {
          write = false;
        } else {
          skip_ = false;
          if (OnReplace) OnReplace(this, stats);
          if (skip_) {
            write = false;
          } else {
            dest = dir + "\\" + SafeFileName(extractAs_);
          }
        }
      }
      if (write) {
        ExtractMember(header, dest, stats);
      } else {
        Finish(stats);
      }
      if (OnAfterExtracting) OnAfterExtracting(this, stats);
      extractAs_.clear();
      skip_ = false;
    }
  } catch (const EtcAborted&) {
    if (OnAborted) OnAborted(this);
  }
}

}  // namespace setup
