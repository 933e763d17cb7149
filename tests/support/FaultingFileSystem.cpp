#include "support/FaultingFileSystem.h"

#include <algorithm>
#include <cerrno>

namespace testsupport {

// A native file whose calls ask the file system what to do first.
class FaultingFileSystem::File : public plat::TFile {
 public:
  explicit File(FaultingFileSystem& Owner)
      : owner_(Owner), native_(plat::NativeFileSystem().NewFile()) {}

  bool Open(const std::string& Name, plat::TFileAccess Access, plat::TFileShare Share) override {
    return native_->Open(Name, Access, Share);
  }
  bool Create(const std::string& Name, bool FailIfExists, plat::TFileShare Share) override {
    return native_->Create(Name, FailIfExists, Share);
  }
  void Close() override { native_->Close(); }
  bool IsOpen() const override { return native_->IsOpen(); }
  const std::string& Name() const override { return native_->Name(); }
  int LastError() const override { return error_ != 0 ? error_ : native_->LastError(); }

  int64_t ReadAt(int64_t Position, void* Buffer, int64_t Count) override {
    error_ = 0;
    if (Ask(opRead) != vPass) return Fail();
    return native_->ReadAt(Position, Buffer, Count);
  }
  int64_t WriteAt(int64_t Position, const void* Buffer, int64_t Count) override {
    error_ = 0;
    switch (Ask(opWrite)) {
      case vPass:
        return native_->WriteAt(Position, Buffer, Count);
      case vTear:
        native_->WriteAt(Position, Buffer, std::min(Count, owner_.tearBytes_));
        return Fail();
      case vFail:
        break;
    }
    return Fail();
  }
  int64_t Size() override { return native_->Size(); }
  bool SetSize(int64_t Size) override {
    error_ = 0;
    if (Ask(opTruncate) != vPass) return Refuse();
    return native_->SetSize(Size);
  }
  bool Flush() override {
    error_ = 0;
    if (Ask(opFlush) != vPass) return Refuse();
    return native_->Flush();
  }
  bool Identity(uint64_t& Device, uint64_t& Inode) override {
    return native_->Identity(Device, Inode);
  }
  bool LockRange(uint64_t Offset, uint64_t Length) override {
    return native_->LockRange(Offset, Length);
  }
  bool UnlockRange(uint64_t Offset, uint64_t Length) override {
    return native_->UnlockRange(Offset, Length);
  }
  void UnlockAll() override { native_->UnlockAll(); }

 private:
  Verdict Ask(Operation Op) {
    if (!owner_.target_.empty() && native_->Name() != owner_.target_) return vPass;
    return owner_.Next(Op);
  }
  // A failed transfer (-1) or call (false), as the disk's I/O error.
  int64_t Fail() {
    error_ = EIO;
    return -1;
  }
  bool Refuse() {
    error_ = EIO;
    return false;
  }

  FaultingFileSystem& owner_;
  std::unique_ptr<plat::TFile> native_;
  int error_ = 0;
};

void FaultingFileSystem::Reset() {
  for (int op = 0; op < kOperationCount; ++op) counts_[op] = failAt_[op] = 0;
  tearAt_ = tearBytes_ = 0;
  struck_ = broken_ = false;
}

void FaultingFileSystem::FailAt(Operation Op, int64_t N) {
  failAt_[Op] = N;
}

void FaultingFileSystem::TearWriteAt(int64_t N, int64_t Bytes) {
  tearAt_ = N;
  tearBytes_ = Bytes;
}

FaultingFileSystem::Verdict FaultingFileSystem::Next(Operation Op) {
  const int64_t n = ++counts_[Op];
  if (Op != opRead && broken_) return vFail;
  Verdict verdict = vPass;
  if (n == failAt_[Op]) verdict = vFail;
  if (Op == opWrite && n == tearAt_) verdict = vTear;
  if (verdict == vPass) return vPass;
  struck_ = true;
  if (Op != opRead) broken_ = true;
  return verdict;
}

std::unique_ptr<plat::TFile> FaultingFileSystem::NewFile() {
  return std::make_unique<File>(*this);
}

bool FaultingFileSystem::FileExists(const std::string& Name) {
  return plat::NativeFileSystem().FileExists(Name);
}

bool FaultingFileSystem::DeleteFile(const std::string& Name) {
  return plat::NativeFileSystem().DeleteFile(Name);
}

bool FaultingFileSystem::FileIsReadOnly(const std::string& Name) {
  return plat::NativeFileSystem().FileIsReadOnly(Name);
}

bool FaultingFileSystem::FileIdentity(const std::string& Name, uint64_t& Device,
                                      uint64_t& Inode) {
  return plat::NativeFileSystem().FileIdentity(Name, Device, Inode);
}

}  // namespace testsupport
