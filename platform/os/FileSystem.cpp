#include "platform/os/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/os/Files.h"
#include "platform/os/Os.h"
#include "platform/rtl/Exceptions.h"

namespace plat {

namespace {

class TNativeFileSystem final : public TFileSystem {
 public:
  std::unique_ptr<TFile> NewFile() override { return std::make_unique<TOSFile>(); }
  bool FileExists(const std::string& name) override { return plat::FileExists(name); }
  bool DeleteFile(const std::string& name) override { return plat::DeleteFile(name); }
  bool FileIsReadOnly(const std::string& name) override { return plat::FileIsReadOnly(name); }
  bool FileIdentity(const std::string& name, uint64_t& device, uint64_t& inode) override {
    return plat::FileIdentity(name, device, inode);
  }
};

// The one hook: null means the native file system.
std::atomic<TFileSystem*> installed{nullptr};

}  // namespace

TFileSystem& NativeFileSystem() {
  static TNativeFileSystem native;
  return native;
}

TFileSystem& FileSystem() {
  TFileSystem* current = installed.load();
  return current != nullptr ? *current : NativeFileSystem();
}

void SetFileSystem(TFileSystem* fileSystem) {
  installed.store(fileSystem);
}

bool CopyFileContent(TFile& source, TFile& target) {
  char chunk[65536];
  int64_t position = 0;
  for (;;) {
    const int64_t got = source.ReadAt(position, chunk, sizeof chunk);
    if (got < 0) return false;
    if (got > 0 && target.WriteAt(position, chunk, got) != got) return false;
    position += got;
    if (got < static_cast<int64_t>(sizeof chunk)) break;
  }
  return target.Size() == source.Size();
}

namespace {

TFileAccess StreamAccess(uint16_t mode) {
  switch (mode & 0x0003) {
    case fmOpenWrite:
      return TFileAccess::faWrite;
    case fmOpenReadWrite:
      return TFileAccess::faReadWrite;
    default:
      return TFileAccess::faRead;
  }
}

TFileShare StreamShare(uint16_t mode) {
  switch (mode & 0x00F0) {
    case fmShareExclusive:
      return TFileShare::fsExclusive;
    case fmShareDenyWrite:
      return TFileShare::fsDenyWrite;
    case fmShareDenyRead:
      return TFileShare::fsDenyRead;
    default:
      return TFileShare::fsDenyNone;
  }
}

}  // namespace

TFileSystemStream::TFileSystemStream(const std::string& fileName, uint16_t mode)
    : file_(FileSystem().NewFile()) {
  if ((mode & fmCreate) == fmCreate) {
    if (!file_->Create(fileName, false, TFileShare::fsDenyNone))
      throw EFCreateError("Cannot create file \"" + fileName + "\". " +
                          SysErrorMessage(file_->LastError()));
    return;
  }
  if (!file_->Open(fileName, StreamAccess(mode), StreamShare(mode)))
    throw EFOpenError("Cannot open file \"" + fileName + "\". " +
                      SysErrorMessage(file_->LastError()));
}

int32_t TFileSystemStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t got = file_->ReadAt(position_, buffer, count);
  if (got <= 0) return 0;
  position_ += got;
  return static_cast<int32_t>(got);
}

int32_t TFileSystemStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t put = file_->WriteAt(position_, buffer, count);
  if (put <= 0) return 0;
  position_ += put;
  return static_cast<int32_t>(put);
}

int64_t TFileSystemStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == TSeekOrigin::soCurrent) base = position_;
  if (origin == TSeekOrigin::soEnd) base = Size();
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0)
    throw EStreamError("Stream seek error");
  position_ = base + offset;
  return position_;
}

int64_t TFileSystemStream::Size() {
  const int64_t size = file_->Size();
  if (size < 0) throw EStreamError("Stream size error. " + SysErrorMessage(file_->LastError()));
  return size;
}

void TFileSystemStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  if (!file_->SetSize(size))
    throw EStreamError("Cannot change the size of \"" + file_->Name() + "\". " +
                       SysErrorMessage(file_->LastError()));
  if (position_ > size) position_ = size;
}

bool IsNotFoundError(int error) {
  return error == ENOENT;
}

bool IsAlreadyExistsError(int error) {
  return error == EEXIST;
}

}  // namespace plat
