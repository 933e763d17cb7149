#include "engine/storage/zelDiskFile.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace zel {

namespace {

// The longest key the cipher's schedule takes, in bytes.
constexpr int32_t kMaxBlowfishKeyBytes = 56;
// Positions are 32-bit and stored as signed values in places: the file ends
// at 2 GiB.
constexpr int64_t kMaxFileSize = int64_t{1} << 31;
// Table IDs fit in 11 bits of a page's owner code; a larger one is logged.
constexpr uint32_t kMaxTableID = 2048;

plat::TFileAccess AccessFor(bool Read, bool Write) {
  if (Read && Write) return plat::TFileAccess::faReadWrite;
  if (Write) return plat::TFileAccess::faWrite;
  return plat::TFileAccess::faRead;
}

plat::TFileShare ShareFor(bool ReadExclusive, bool WriteExclusive) {
  if (ReadExclusive && WriteExclusive) return plat::TFileShare::fsExclusive;
  if (WriteExclusive) return plat::TFileShare::fsDenyWrite;
  if (ReadExclusive) return plat::TFileShare::fsDenyRead;
  return plat::TFileShare::fsDenyNone;
}

}  // namespace

TZelFile::TZelFile()
    : File_(plat::FileSystem().NewFile()),
      PageCache_(std::make_unique<TCacheMgr>()),
      BlockCache_(std::make_unique<TCacheBlockMgr>()),
      TransactionCache_(std::make_unique<TCacheMgr>()) {
  auto readPage = [this](uint8_t* Buffer, uint32_t Owner, uint32_t Upper, uint32_t Position,
                         uint32_t AccessFlags) {
    ReadPage(Buffer, Owner, Upper, Position, AccessFlags);
  };
  auto writePage = [this](uint8_t* Buffer, uint32_t Owner, uint32_t Upper, uint32_t Position,
                          uint32_t AccessFlags) {
    WritePage(Buffer, Owner, Upper, Position, AccessFlags);
  };
  PageCache_->SetReadIO(readPage);
  PageCache_->SetWriteIO(writePage);
  PageCache_->SetReadRunIO([this](uint8_t* Buffer, uint32_t Position, int32_t Count) {
    return File_->ReadAt(Position, Buffer, Count);
  });
  TransactionCache_->SetReadIO(readPage);
  TransactionCache_->SetWriteIO(writePage);
  BlockCache_->SetReadIO([this](uint8_t* Buffer, uint32_t Owner, uint32_t Size, uint32_t Upper,
                                uint32_t Position, uint32_t AccessFlags) {
    ReadBlockIO(Buffer, Owner, Size, Upper, Position, AccessFlags);
  });
  BlockCache_->SetWriteIO([this](uint8_t* Buffer, uint32_t Owner, uint32_t Size, uint32_t Upper,
                                 uint32_t Position, uint32_t AccessFlags) {
    WriteBlockIO(Buffer, Owner, Size, Upper, Position, AccessFlags);
  });
}

TZelFile::~TZelFile() {
  CloseZelFile();
}

int32_t TZelFile::Handle() const {
  return File_->IsOpen() ? 1 : 0;
}

// ---------------------------------------------------------------- keys

void TZelFile::SetXORKeyBuf(const void* Buf, int32_t Len) {
  if (CheckOpen())
    ZelDatabaseError(0x2185, "TZelFile.SetXORKeyBuf", "Cannot set Crypt key on an opened file",
                     this);
  if (Len < 0 || (Len > 0 && Buf == nullptr))
    ZelDatabaseError(0x2185, "TZelFile.SetXORKeyBuf",
                     "Error when setting XOR crypt key: Message was - Invalid key buffer", this);
  const auto* bytes = static_cast<const uint8_t*>(Buf);
  XORKey_.assign(bytes, bytes + Len);
}

void TZelFile::SetBlowKeyBuf(const void* Buf, int32_t Len) {
  if (Len <= 0 || Buf == nullptr)
    ZelDatabaseError(0x2185, "TZelFile.SetBlowKeyBuf",
                     "Crypt key error (blowfish): Message was - Invalid key length", this);
  const auto* bytes = static_cast<const uint8_t*>(Buf);
  BlowKey_.assign(bytes, bytes + Len);
  // The schedule ignores a key it cannot take, which would leave pages under
  // an old or empty state: a long key is used up to the cipher's limit.
  const int32_t used = std::min(Len, kMaxBlowfishKeyBytes);
  BlowfishInit(BlowfishData_, BlowKey_.data(), used * 8, nullptr);
}

// ---------------------------------------------------------------- open and close

int32_t TZelFile::CreateZelFile(const std::string& Name, bool FailIfExists) {
  ++ChangeStamp_;
  Shutdown(false);
  File_ = plat::FileSystem().NewFile();
  if (!File_->Create(Name, FailIfExists)) return -1;
  FileName_ = Name;
  TDiskJournal::Discard(*File_, JournalFileName(FileName_));
  return Handle();
}

int32_t TZelFile::OpenZelFile(const std::string& Name) {
  ++ChangeStamp_;
  if (PageSize_ <= 0)
    ZelDatabaseError(0x2185, "TZelFile.OpenZelFile", "Database page size not set on opening", this);
  if (XORKey_.empty())
    ZelDatabaseError(0x2185, "TZelFile.OpenZelFile", "Crypt key not set before opening", this);
  Shutdown(false);
  File_ = plat::FileSystem().NewFile();
  if (!File_->Open(Name, AccessFor(OpenRead_, OpenWrite_),
                  ShareFor(OpenReadExclusive_, OpenWriteExclusive_)))
    ZelDatabaseError(0x2101, "TZelFile.OpenZelFile",
                     "Unable to open file. Error type of: " + GetOSErrorMsg(), this);
  FileName_ = Name;
  try {
    // Before a page is read: a commit cut short leaves its journal.
    TDiskJournal::Recover(*File_, JournalFileName(FileName_));
    const int64_t size = File_->Size();
    const int64_t quarter = size < 0 ? 0 : (size / PageSize_) / 4;
    const int32_t cacheSize = static_cast<int32_t>(std::clamp<int64_t>(quarter, 50, 1000));
    PageCache_->Open(cacheSize, PageSize_);
    BlockCache_->Open();
    TransactionCache_->Open(cacheSize, PageSize_);
    ScratchBuffer_ = std::make_unique<uint8_t[]>(static_cast<size_t>(PageSize_));
  } catch (...) {
    Shutdown(false);
    throw;
  }
  return Handle();
}

void TZelFile::CloseZelFile() {
  ++ChangeStamp_;
  Shutdown(true);
}

void TZelFile::Shutdown(bool DropKeys) {
  SeenSize_ = 0;
  PageCache_->Close();
  BlockCache_->Close();
  TransactionCache_->Close();
  TransactionActive_ = false;
  TransactionFileEnd_ = 0;
  File_->Close();
  ScratchBuffer_.reset();
  if (!DropKeys) return;
  XORKey_.clear();
  BlowKey_.clear();
  BlowfishBurn(BlowfishData_);
}

// ---------------------------------------------------------------- routing

void TZelFile::CheckAccess(uint32_t TableID, uint32_t Position, int32_t Count,
                           const char* Context) const {
  // No page of the file lies at or past its size limit, and positions must
  // not wrap round into the start of the file.
  if (Count < 0 || int64_t{Position} + Count > kMaxFileSize)
    ZelDatabaseError(0x2185, Context, "Invalid file position", this);
  if (TableID <= kMaxTableID) return;
  if (TDBLogger* logger = GDBLogger()) logger->LogItem("ZelFile", "Invalid table id");
}

bool TZelFile::UsesPageCache(uint32_t AccessFlags) const {
  // Only the page-write callback encrypts, so an access that asks for
  // encryption goes through the page cache whatever else its flags say.
  if ((AccessFlags & (afXOR | afBlowfish)) != 0) return true;
  return (AccessFlags & afCached) != 0 && (CacheActive_ || TransactionActive_);
}

int32_t TZelFile::SeekAndReadZelFile(void* Buf, uint32_t Position, int32_t Count, uint32_t TableID,
                                     uint32_t AccessFlags) {
  CheckAccess(TableID, Position, Count, "TZelFile.SeekAndReadZelFile");
  if (UsesPageCache(AccessFlags))
    return PageCache_->ReadCache(Buf, TableID, 0, Position, Count, AccessFlags);
  if (!TransactionActive_) {
    ReadPlain(Buf, Position, Count, "TZelFile.SeekAndReadZelFile");
    return Count;
  }
  return TransactionCache_->ReadCacheToPageBoundary(Buf, 0, Position, Count, 0);
}

int32_t TZelFile::SeekAndWriteZelFile(const void* Buf, uint32_t Position, int32_t Count,
                                      uint32_t TableID, uint32_t AccessFlags) {
  ++ChangeStamp_;
  CheckAccess(TableID, Position, Count, "TZelFile.SeekAndWriteZelFile");
  if (UsesPageCache(AccessFlags))
    return PageCache_->WriteCache(Buf, TableID, 0, Position, Count, AccessFlags);
  if (!TransactionActive_) {
    WritePlain(Buf, Position, Count, "TZelFile.SeekAndWriteZelFile");
    return Count;
  }
  return TransactionCache_->WriteCacheToPageBoundary(Buf, 0, Position, Count, 0);
}

int32_t TZelFile::SeekAndReadZelFileByRef(uint32_t Position, int32_t Count, uint32_t TableID,
                                          uint32_t AccessFlags, uint8_t*& Pointer) {
  CheckAccess(TableID, Position, Count, "TZelFile.SeekAndReadZelFileByRef");
  if (!UsesPageCache(AccessFlags))
    ZelDatabaseError(0x2185, "TZelFile.SeekAndReadZelFileByRef",
                     "SeekAndReadZelFileByRef failed to access cache", this);
  return PageCache_->ReadCacheByRef(TableID, 0, Position, Count, AccessFlags, Pointer);
}

int32_t TZelFile::SeekAndWriteZelFileByRef(const void* Buf, uint32_t Position, int32_t Count,
                                           uint32_t TableID, uint32_t AccessFlags) {
  ++ChangeStamp_;
  CheckAccess(TableID, Position, Count, "TZelFile.SeekAndWriteZelFileByRef");
  if (!UsesPageCache(AccessFlags))
    ZelDatabaseError(0x2185, "TZelFile.SeekAndWriteZelFileByRef",
                     "SeekAndWriteZelFileByRef accessed in error", this);
  return PageCache_->WriteCacheByRef(Buf, TableID, 0, Position, Count, AccessFlags);
}

bool TZelFile::RewriteDirtyPageByRef(TPageNotes& Notes, uint32_t Position, uint32_t TableID,
                                     uint32_t AccessFlags) {
  // The page was read and written through the cache at this position in
  // the transaction: the checks of the first write hold.
  if (!UsesPageCache(AccessFlags) ||
      !PageCache_->RewriteDirtyByRef(Notes, TableID, Position, AccessFlags))
    return false;
  ++ChangeStamp_;
  return true;
}

uint32_t TZelFile::SeekAndAppendZelFile(const void* Buf, int32_t Count, uint32_t TableID,
                                        uint32_t AccessFlags) {
  ++ChangeStamp_;
  const int64_t position = SeekZelEof();
  if (position < 0)
    ZelDatabaseError(0x2102, "TZelFile.SeekAndAppendZelFile",
                     "Unable to seek for file write operation", this);
  if (position + std::max(Count, 0) > kMaxFileSize)
    ZelDatabaseError(0x2580, "TZelFile.SeekAndAppendZelFile", "", this);
  SeekAndWriteZelFile(Buf, static_cast<uint32_t>(position), Count, TableID, AccessFlags);
  if (TransactionActive_)
    TransactionFileEnd_ = static_cast<uint32_t>(position + std::max(Count, 0));
  return static_cast<uint32_t>(position);
}

int64_t TZelFile::SeekZelEof() {
  const int64_t size = File_->Size();
  if (size < 0 || !TransactionActive_) return size;
  // Another process may have appended since the transaction began; what this
  // transaction appends goes after that.
  return std::max<int64_t>(size, TransactionFileEnd_);
}

int64_t TZelFile::SizeCovering(uint64_t End) {
  if (SeenSize_ != 0 && End <= SeenSize_) return static_cast<int64_t>(SeenSize_);
  const int64_t size = SeekZelEof();
  SeenSize_ = size < 0 ? 0 : static_cast<uint64_t>(size);
  return size;
}

int32_t TZelFile::ReadThroughZelFile(void* Buf, uint32_t Position, int32_t Count) {
  CheckAccess(0, Position, Count, "TZelFile.ReadThroughZelFile");
  if (!TransactionActive_) {
    ReadPlain(Buf, Position, Count, "TZelFile.ReadThroughZelFile");
    return Count;
  }
  return TransactionCache_->ReadCacheToPageBoundary(Buf, 0, Position, Count, 0);
}

int32_t TZelFile::WriteThroughZelFile(const void* Buf, uint32_t Position, int32_t Count) {
  ++ChangeStamp_;
  CheckAccess(0, Position, Count, "TZelFile.WriteThroughZelFile");
  if (!TransactionActive_) {
    WritePlain(Buf, Position, Count, "TZelFile.WriteThroughZelFile");
    return Count;
  }
  return TransactionCache_->WriteCacheToPageBoundary(Buf, 0, Position, Count, 0);
}

void TZelFile::ReleasePage(uint32_t Position, const void* Buf) {
  ++ChangeStamp_;
  const uint32_t base = PageCache_->GetBaseAddress(Position);
  if (!TransactionActive_) {
    WritePlain(Buf, Position, PageSize_, "TZelFile.ReleasePage");
    PageCache_->RemovePage(base, 0);
    return;
  }
  PageCache_->WriteCache(Buf, 0, 0, Position, PageSize_, 0);
  PageCache_->RemoveAfterWrite(base, 0);
}

// ---------------------------------------------------------------- transactions

void TZelFile::StartTransaction() {
  // Starting changes nothing in the file: what was read under a lock still
  // held stays current.
  if (TransactionActive_) ZelDatabaseError(0x2810, "TZelFile.StartTransaction", "", this);
  if (!CheckOpen()) ZelDatabaseError(0x2101, "TZelFile.StartTransaction", "", this);
  // A size seen since the last lock was taken will do: SeekZelEof asks the
  // file again and appends after whichever end is further.
  const int64_t size = SeenSize_ != 0 ? static_cast<int64_t>(SeenSize_) : File_->Size();
  if (size < 0)
    ZelDatabaseError(0x2102, "TZelFile.StartTransaction", "Unable to get file size", this);
  if (size > kMaxFileSize) ZelDatabaseError(0x2580, "TZelFile.StartTransaction", "", this);
  PageCache_->StartTransaction();
  BlockCache_->StartTransaction();
  TransactionCache_->StartTransaction();
  TransactionFileEnd_ = static_cast<uint32_t>(size);
  TransactionActive_ = true;
}

void TZelFile::Commit(bool Durable) {
  ++ChangeStamp_;
  if (!TransactionActive_) ZelDatabaseError(0x2811, "TZelFile.Commit", "", this);
  // The caches hand over their writes first, so that the journal can hold
  // the original of every byte before the first one is overwritten.
  std::vector<TJournalWrite> writes;
  {
    Pending_ = &writes;
    struct TPendingGuard {
      std::vector<TJournalWrite>*& Pending;
      ~TPendingGuard() { Pending = nullptr; }
    } guard{Pending_};
    PageCache_->Commit();
    BlockCache_->Commit();
    TransactionCache_->Commit();
  }
  try {
    if (Journalled_) {
      TDiskJournal(*File_, JournalFileName(FileName_)).Apply(writes, Durable);
    } else {
      for (const TJournalWrite& w : writes) {
        const auto length = static_cast<int64_t>(w.Bytes.size());
        if (File_->WriteAt(w.Position, w.Bytes.data(), length) != length)
          ZelDatabaseError(0x2402, "TZelFile.Commit", "", this);
      }
      if (Durable && !File_->Flush()) ZelDatabaseError(0x2102, "TZelFile.Commit", "", this);
    }
  } catch (...) {
    // The caches hold the commit's pages as written: they must not be
    // served when the file kept (or got back) the old ones.
    SeenSize_ = 0;
    PageCache_->ClearCache();
    throw;
  }
  TransactionCache_->ClearCache();
  TransactionFileEnd_ = 0;
  TransactionActive_ = false;
}

void TZelFile::Rollback() {
  ++ChangeStamp_;
  if (!TransactionActive_) ZelDatabaseError(0x2811, "TZelFile.Rollback", "", this);
  SeenSize_ = 0;
  std::exception_ptr failure;
  auto step = [&failure](auto&& Action) {
    try {
      Action();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  // A commit that failed half-way leaves some caches out of their
  // transaction already.
  step([this] {
    if (PageCache_->InTransaction()) PageCache_->Rollback();
  });
  step([this] {
    if (BlockCache_->InTransaction()) BlockCache_->Rollback();
  });
  step([this] {
    if (TransactionCache_->InTransaction()) TransactionCache_->Rollback();
    TransactionCache_->ClearCache();
  });
  TransactionFileEnd_ = 0;
  TransactionActive_ = false;
  if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------- file maintenance

void TZelFile::RecoverJournal() {
  ++ChangeStamp_;
  SeenSize_ = 0;
  if (!CheckOpen() || FileName_.empty()) return;
  if (!TDiskJournal::Recover(*File_, JournalFileName(FileName_))) return;
  // Pages read before the dead commit began are its originals again; the
  // rest are dropped all the same when nothing here is pending.
  if (!TransactionActive_) PageCache_->ClearCache();
}

void TZelFile::FlushBuffers() {
  if (!CheckOpen()) return;
  if (!File_->Flush())
    ZelDatabaseError(0x2102, "TZelFile.FlushBuffers", "The file buffers could not be flushed",
                     this);
}

void TZelFile::CopyZelFile(const std::string& Name) {
  if (!CheckOpen()) ZelDatabaseError(0x2101, "TZelFile.CopyZelFile", "", this);
  const std::unique_ptr<plat::TFile> target = plat::FileSystem().NewFile();
  if (!target->Create(Name))
    ZelDatabaseError(0x2102, "TZelFile.CopyZelFile", "The file could not be copied correctly",
                     this);
  if (!plat::CopyFileContent(*File_, *target))
    ZelDatabaseError(0x2102, "TZelFile.CopyZelFile", "The file could not be copied correctly",
                     this);
}

// ---------------------------------------------------------------- page and block I/O

void TZelFile::EncryptPage(const uint8_t* Source, uint8_t* Target, uint32_t Owner,
                           uint32_t AccessFlags) {
  CryptPage(Source, Target, Owner, AccessFlags, true);
}

void TZelFile::DecryptPage(const uint8_t* Source, uint8_t* Target, uint32_t Owner,
                           uint32_t AccessFlags) {
  CryptPage(Source, Target, Owner, AccessFlags, false);
}

void TZelFile::CryptPage(const uint8_t* Source, uint8_t* Target, uint32_t Owner,
                         uint32_t AccessFlags, bool Encrypt) {
  // The XOR scheme is its own inverse.
  if ((AccessFlags & afXOR) != 0) {
    XORCryptBuf(Source, Target, XORKey_.data(), static_cast<int32_t>(Owner),
                static_cast<int32_t>(XORKey_.size()), PageSize_);
    return;
  }
  if (BlowKey_.empty())
    ZelDatabaseError(0x2185, Encrypt ? "TZelFile.EncryptPage" : "TZelFile.DecryptPage",
                     "Crypt key error (blowfish): Message was - Key not set", this);
  // Every page starts from the same vector, so a page encrypts the same way
  // whatever was written before it.
  BlowfishReset(BlowfishData_);
  if (Encrypt) {
    BlowfishEncryptCFB(BlowfishData_, Source, Target, PageSize_);
  } else {
    BlowfishDecryptCFB(BlowfishData_, Source, Target, PageSize_);
  }
  BlowfishReset(BlowfishData_);
}

void TZelFile::ReadPage(uint8_t* Buffer, uint32_t Owner, uint32_t /*Upper*/, uint32_t Position,
                        uint32_t AccessFlags) {
  const bool crypt = (AccessFlags & (afXOR | afBlowfish)) != 0;
  if (crypt && (!ScratchBuffer_ || ((AccessFlags & afXOR) != 0 && XORKey_.empty())))
    ZelDatabaseError(0x2185, "TZelFile.ReadPage", "Object not initialized", this);
  uint8_t* target = crypt ? ScratchBuffer_.get() : Buffer;
  if (File_->ReadAt(Position, target, PageSize_) != PageSize_)
    ZelDatabaseError(0x2401, "TZelFile.ReadPage", "Unable to complete file read operation", this);
  if (crypt) DecryptPage(target, Buffer, Owner, AccessFlags);
}

void TZelFile::WritePage(uint8_t* Buffer, uint32_t Owner, uint32_t /*Upper*/, uint32_t Position,
                         uint32_t AccessFlags) {
  const bool crypt = (AccessFlags & (afXOR | afBlowfish)) != 0;
  if (crypt && (!ScratchBuffer_ || ((AccessFlags & afXOR) != 0 && XORKey_.empty())))
    ZelDatabaseError(0x2185, "TZelFile.WritePage", "Object not initialized", this);
  const uint8_t* source = Buffer;
  if (crypt) {
    EncryptPage(Buffer, ScratchBuffer_.get(), Owner, AccessFlags);
    source = ScratchBuffer_.get();
  }
  WriteOut(source, Position, PageSize_, "TZelFile.WritePage");
}

void TZelFile::WriteOut(const void* Buf, uint32_t Position, int32_t Count, const char* Context) {
  if (Pending_ != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(Buf);
    Pending_->push_back({Position, std::vector<uint8_t>(bytes, bytes + Count)});
    return;
  }
  if (File_->WriteAt(Position, Buf, Count) != Count)
    ZelDatabaseError(0x2402, Context, "Unable to complete file write operation", this);
}

void TZelFile::ReadPlain(void* Buf, uint32_t Position, int32_t Count, const char* Context) {
  if (Count <= 0) return;
  if (File_->ReadAt(Position, Buf, Count) != Count)
    ZelDatabaseError(0x2401, Context, "Unable to complete file read operation", this);
}

void TZelFile::WritePlain(const void* Buf, uint32_t Position, int32_t Count, const char* Context) {
  if (Count <= 0) return;
  WriteOut(Buf, Position, Count, Context);
}

void TZelFile::ReadBlockIO(uint8_t* Buffer, uint32_t /*Owner*/, uint32_t Size, uint32_t /*Upper*/,
                           uint32_t Position, uint32_t /*AccessFlags*/) {
  ReadPlain(Buffer, Position, static_cast<int32_t>(Size), "TZelFile.ReadBlock");
}

void TZelFile::WriteBlockIO(uint8_t* Buffer, uint32_t /*Owner*/, uint32_t Size, uint32_t /*Upper*/,
                            uint32_t Position, uint32_t /*AccessFlags*/) {
  WritePlain(Buffer, Position, static_cast<int32_t>(Size), "TZelFile.WriteBlock");
}

}  // namespace zel
