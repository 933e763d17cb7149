#pragma once
// Native files for the engine: positioned reads and writes, share modes,
// flushing, copying, and Windows-like byte-range locks.
//
// Invariants of TOSFile:
//  1. fd_ is -1 exactly when the file is closed; lockFd_ is -1 or a second
//     read-write descriptor of the same file, opened only to take locks for a
//     handle that was opened without write access.
//  2. held_ lists the ranges this handle has locked, none overlapping; a lock
//     that overlaps one of them fails, as it does on Windows for the same
//     handle, although open-file-description locks would let it through.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/FileSystem.h"

namespace plat {

// errno value reported when another handle's share mode refuses an open.
inline constexpr int kSharingViolation = 0x10020;
// errno value reported when a byte range is already locked.
inline constexpr int kLockViolation = 0x10021;

// The native file. A file created with a share mode other than exclusive
// can be opened by others at once (a lock file, say, that other processes
// must reach while its creator still fills it).
class TOSFile : public TFile {
 public:
  TOSFile() = default;
  TOSFile(const TOSFile&) = delete;
  TOSFile& operator=(const TOSFile&) = delete;
  ~TOSFile() override;

  bool Open(const std::string& name, TFileAccess access, TFileShare share) override;
  bool Create(const std::string& name, bool failIfExists = false,
              TFileShare share = TFileShare::fsExclusive) override;
  void Close() override;

  bool IsOpen() const override { return fd_ >= 0; }
  int Handle() const { return fd_; }
  const std::string& Name() const override { return name_; }
  int LastError() const override { return lastError_; }

  int64_t ReadAt(int64_t position, void* buffer, int64_t count) override;
  int64_t WriteAt(int64_t position, const void* buffer, int64_t count) override;
  int64_t Size() override;
  bool SetSize(int64_t size) override;
  bool Flush() override;
  bool Identity(uint64_t& device, uint64_t& inode) override;

  bool LockRange(uint64_t offset, uint64_t length) override;
  bool UnlockRange(uint64_t offset, uint64_t length) override;
  void UnlockAll() override;

 private:
  bool Fail(int error);
  int LockDescriptor();

  int fd_ = -1;
  int lockFd_ = -1;
  bool writable_ = false;
  int lastError_ = 0;
  std::string name_;
  std::vector<std::pair<uint64_t, uint64_t>> held_;
};

bool FileExists(const std::string& name);
bool DirectoryExists(const std::string& name);
bool DeleteFile(const std::string& name);
bool RenameFile(const std::string& from, const std::string& to);
// Copies a file; with failIfExists an existing target is left alone.
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists);
int64_t FileSizeByName(const std::string& name);
// Device and inode of the file a path names now; false when there is none.
// Compared with TOSFile::Identity it tells whether an open handle still is
// the file at that path (it may have been deleted and made anew).
bool FileIdentity(const std::string& name, uint64_t& device, uint64_t& inode);
// True when the file exists and carries no write permission bit.
bool FileIsReadOnly(const std::string& name);
bool ForceDirectories(const std::string& name);
// The errno of the last failed call of these functions in this thread.
int LastFileError();

}  // namespace plat
