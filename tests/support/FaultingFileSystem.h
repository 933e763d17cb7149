#pragma once
// A file system for crash and fault tests: the native files, with the Nth
// write, read, flush or truncate made to fail, or the Nth write torn (only
// its first bytes reach the file). Once a write, flush or truncate has
// failed, every later one fails as well: the file stays as it was at that
// moment, as after a crash or a lost disk. Reads go on normally after a
// failed read.
//
// Calls are counted from the last Reset, over the files whose name is the
// target (every file when no target is set). Install it with
// InstalledFileSystem for the scope of the code under test.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/os/FileSystem.h"

namespace testsupport {

class FaultingFileSystem : public plat::TFileSystem {
 public:
  enum Operation { opWrite, opRead, opFlush, opTruncate, kOperationCount };

  // Only calls on files named Name are counted and failed ("" for all).
  void SetTarget(std::string Name) { target_ = std::move(Name); }
  // Clears the counts and the faults.
  void Reset();
  // Fails the Nth call (from 1) of Op.
  void FailAt(Operation Op, int64_t N);
  // Lets the Nth write put only its first Bytes bytes into the file, then
  // fail.
  void TearWriteAt(int64_t N, int64_t Bytes);

  int64_t Count(Operation Op) const { return counts_[Op]; }
  // True once a planned fault has struck.
  bool Struck() const { return struck_; }

  std::unique_ptr<plat::TFile> NewFile() override;
  bool FileExists(const std::string& Name) override;
  bool DeleteFile(const std::string& Name) override;
  bool FileIsReadOnly(const std::string& Name) override;
  bool FileIdentity(const std::string& Name, uint64_t& Device, uint64_t& Inode) override;

 private:
  class File;
  // What the next call of Op on a targeted file does.
  enum Verdict { vPass, vFail, vTear };
  Verdict Next(Operation Op);

  std::string target_;
  int64_t counts_[kOperationCount] = {};
  int64_t failAt_[kOperationCount] = {};
  int64_t tearAt_ = 0;
  int64_t tearBytes_ = 0;
  bool struck_ = false;
  bool broken_ = false;  // a write-side fault struck: no more writes
};

// Installs a file system for the engine while it lives.
class InstalledFileSystem {
 public:
  explicit InstalledFileSystem(plat::TFileSystem& FileSystem) { plat::SetFileSystem(&FileSystem); }
  InstalledFileSystem(const InstalledFileSystem&) = delete;
  InstalledFileSystem& operator=(const InstalledFileSystem&) = delete;
  ~InstalledFileSystem() { plat::SetFileSystem(nullptr); }
};

}  // namespace testsupport
