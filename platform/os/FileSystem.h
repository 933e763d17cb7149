#pragma once
// The seam between the engine and the disk. The engine reaches every file it
// reads, writes, locks, tests or deletes through a TFileSystem, so that a
// test can put a file system of its own in place of the native one (one that
// fails the Nth write, say) and see what the engine makes of it.
//
// There is one installed file system per process: the native one unless a
// test installs another with SetFileSystem. Objects that open files take it
// when they open one and keep using that file system for the file they hold.
// Install before the files to fault are opened; restore (SetFileSystem
// with nullptr) once they are closed.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/rtl/Streams.h"

namespace plat {

enum class TFileAccess : uint8_t { faRead, faWrite, faReadWrite };
// Other openers are refused by a flock: "shared" modes take a shared flock,
// "exclusive" an exclusive one.
enum class TFileShare : uint8_t { fsDenyNone, fsDenyRead, fsDenyWrite, fsExclusive };

// One file, opened or created by name. Each call that can fail returns
// false or -1 and leaves the error (an errno value, or one of the platform's
// own codes) in LastError().
class TFile {
 public:
  virtual ~TFile() = default;

  virtual bool Open(const std::string& name, TFileAccess access, TFileShare share) = 0;
  // Creates an empty file opened read-write, by default exclusive; an
  // existing file is truncated unless failIfExists.
  virtual bool Create(const std::string& name, bool failIfExists = false,
                      TFileShare share = TFileShare::fsExclusive) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual const std::string& Name() const = 0;
  virtual int LastError() const = 0;

  // Moves up to count bytes at position; returns the count moved or -1.
  virtual int64_t ReadAt(int64_t position, void* buffer, int64_t count) = 0;
  virtual int64_t WriteAt(int64_t position, const void* buffer, int64_t count) = 0;
  virtual int64_t Size() = 0;
  virtual bool SetSize(int64_t size) = 0;
  // Puts what was written on the disk.
  virtual bool Flush() = 0;
  // Device and inode of the open file.
  virtual bool Identity(uint64_t& device, uint64_t& inode) = 0;

  // Exclusive lock of [offset, offset + length): fails at once when another
  // handle holds an overlapping range or this handle holds one already.
  virtual bool LockRange(uint64_t offset, uint64_t length) = 0;
  // Releases a range exactly as it was locked.
  virtual bool UnlockRange(uint64_t offset, uint64_t length) = 0;
  // Releases every range this handle holds.
  virtual void UnlockAll() = 0;
};

class TFileSystem {
 public:
  virtual ~TFileSystem() = default;

  // A closed file; its Open or Create reaches the disk.
  virtual std::unique_ptr<TFile> NewFile() = 0;
  virtual bool FileExists(const std::string& name) = 0;
  virtual bool DeleteFile(const std::string& name) = 0;
  // True when the file exists and carries no write permission bit.
  virtual bool FileIsReadOnly(const std::string& name) = 0;
  // Device and inode of the file a path names now; false when there is none.
  virtual bool FileIdentity(const std::string& name, uint64_t& device, uint64_t& inode) = 0;
};

// The operating system's files.
TFileSystem& NativeFileSystem();
// The installed file system.
TFileSystem& FileSystem();
// Installs fileSystem (not owned; it must outlive its use), or the native
// one again for nullptr.
void SetFileSystem(TFileSystem* fileSystem);

// Copies the whole of source into target from their starts; false when a
// read or write failed or the sizes differ at the end.
bool CopyFileContent(TFile& source, TFile& target);

// A stream over a file of the installed file system, for the engine's own
// file-to-file work. The modes are TFileStream's: fmCreate makes the file
// anew (or empties it), otherwise fmOpenRead, fmOpenWrite or
// fmOpenReadWrite with a share mode. Raises EFCreateError or EFOpenError as
// TFileStream does; a read or write that fails moves fewer bytes.
class TFileSystemStream : public TStream {
 public:
  TFileSystemStream(const std::string& fileName, uint16_t mode);
  TFileSystemStream(const TFileSystemStream&) = delete;
  TFileSystemStream& operator=(const TFileSystemStream&) = delete;

  std::string ClassName() const override { return "TFileSystemStream"; }

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;

 private:
  std::unique_ptr<TFile> file_;
  int64_t position_ = 0;
};

// Whether a file's LastError() says that the name does not exist, or that it
// exists already (a Create with failIfExists).
bool IsNotFoundError(int error);
bool IsAlreadyExistsError(int error);

}  // namespace plat
