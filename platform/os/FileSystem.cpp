#include "platform/os/FileSystem.h"

#include <atomic>
#include <cerrno>

#include "platform/os/Files.h"

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

bool IsNotFoundError(int error) {
  return error == ENOENT;
}

bool IsAlreadyExistsError(int error) {
  return error == EEXIST;
}

}  // namespace plat
