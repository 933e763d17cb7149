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

namespace plat {

enum class TFileAccess : uint8_t { faRead, faWrite, faReadWrite };
// Other openers are refused by a flock: "shared" modes take a shared flock,
// "exclusive" an exclusive one.
enum class TFileShare : uint8_t { fsDenyNone, fsDenyRead, fsDenyWrite, fsExclusive };

// errno value reported when another handle's share mode refuses an open.
inline constexpr int kSharingViolation = 0x10020;
// errno value reported when a byte range is already locked.
inline constexpr int kLockViolation = 0x10021;

class TOSFile {
 public:
  TOSFile() = default;
  TOSFile(const TOSFile&) = delete;
  TOSFile& operator=(const TOSFile&) = delete;
  ~TOSFile();

  // Each returns false and sets LastError() on failure.
  bool Open(const std::string& name, TFileAccess access, TFileShare share);
  // Creates an empty file opened read-write, by default exclusive; an existing
  // file is truncated unless failIfExists. A file created with another share
  // mode can be opened by others at once (a lock file, say, that other
  // processes must reach while its creator still fills it).
  bool Create(const std::string& name, bool failIfExists = false,
              TFileShare share = TFileShare::fsExclusive);
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  int Handle() const { return fd_; }
  const std::string& Name() const { return name_; }
  int LastError() const { return lastError_; }

  // Moves up to count bytes at position; returns the count moved or -1.
  int64_t ReadAt(int64_t position, void* buffer, int64_t count);
  int64_t WriteAt(int64_t position, const void* buffer, int64_t count);
  int64_t Size();
  bool SetSize(int64_t size);
  bool Flush();
  // Device and inode of the open file.
  bool Identity(uint64_t& device, uint64_t& inode);

  // Exclusive lock of [offset, offset + length): fails at once when another
  // handle holds an overlapping range or this handle holds one already.
  bool LockRange(uint64_t offset, uint64_t length);
  // Releases a range exactly as it was locked.
  bool UnlockRange(uint64_t offset, uint64_t length);
  // Releases every range this handle holds.
  void UnlockAll();

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
