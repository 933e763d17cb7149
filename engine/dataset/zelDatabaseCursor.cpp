// The table cursor: settings, opening and closing, navigation and locks.
#include "engine/dataset/zelDatabaseCursor.h"

#include <algorithm>
#include <cstring>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelCrypt.h"
#include "engine/storage/zelDataTableHdr.h"
#include "platform/db/DBConsts.h"
#include "platform/rtl/ScopeGuard.h"

namespace zel {

namespace {

// The change count of a memory table's header store, which moves with every
// header written to it; false for a table on disk.
bool MemoryHeaderStamp(const TTableDef& Def, uint64_t& Stamp) {
  const TTableHeader* header = Def.Memory() ? Def.TableHeader() : nullptr;
  const TTableHeaderMgr* mgr = header != nullptr ? header->Mgr() : nullptr;
  const TBaseIOInterface* store = mgr != nullptr ? mgr->IOInterface() : nullptr;
  if (store == nullptr || store->IOMode() != iomMemory) return false;
  Stamp = store->Changes();
  return true;
}

}  // namespace

std::string ScrambleTableName(const std::string& Name) {
  std::string out(Name.size(), '\0');
  if (!Name.empty())
    XORCryptBuf(Name.data(), out.data(), XORPageKey.data(), 0,
                static_cast<int32_t>(XORPageKey.size()), static_cast<int32_t>(Name.size()));
  return out;
}

TZelDataSet::TZelDataSet(plat::TComponent* AOwner)
    : plat::TDataSet(AOwner),
      TableDef_(std::make_unique<TTableDef>()),
      RecordMgr_(std::make_unique<TRecordMgr>()),
      IndexMgr_(std::make_unique<TIndexManager>()),
      BlobInterface_(std::make_unique<TBlobInterface>()),
      ReadAhead_(std::make_unique<TReadAheadBuffer>()),
      FilterMgr_(std::make_unique<TFilterMgr>()) {}

TZelDataSet::~TZelDataSet() {
  try {
    DataSetClose();
  } catch (...) {
    // Nothing may leave a destructor; the table's connection is gone with it.
  }
  SetDataBase(nullptr);
}

// ---------------------------------------------------------------- settings

void TZelDataSet::CheckInternalActive() const {
  if (!Open_) plat::DatabaseError(plat::SDataSetClosed, this);
}

void TZelDataSet::CheckInternalInactive() const {
  if (Open_) plat::DatabaseError(plat::SDataSetOpen, this);
}

void TZelDataSet::CheckConnected() const {
  if (DataBase_ == nullptr) ZelDatabaseError(0x2780, "TZelDataSet.CheckConnected", "", this);
}

void TZelDataSet::SetDataBase(TZelDataBase* Value) {
  if (Value == DataBase_) return;
  DatabaseChanging();
  CheckInternalInactive();
  if (DataBase_ != nullptr) {
    DataBase_->UnRegisterClient(this);
    DataBase_->RemoveFreeNotification(this);
  }
  DataBase_ = Value;
  if (DataBase_ != nullptr) {
    if (!InternalTableFlag_) DataBase_->RegisterClient(this);
    DataBase_->FreeNotification(this);
  }
}

void TZelDataSet::Notification(plat::TComponent* AComponent, plat::TOperation Operation) {
  plat::TDataSet::Notification(AComponent, Operation);
  if (Operation == plat::opRemove && AComponent == DataBase_) {
    try {
      Close();
      DataSetClose();
    } catch (...) {
      // The database is going; its tables go with it.
    }
    DataBase_ = nullptr;
  }
}

void TZelDataSet::SetTableName(const std::string& Value) {
  CheckInternalInactive();
  if (Value == TableName_) return;
  TableName_ = Value;
  DataEvent(plat::dePropertyChange, 0);
}

void TZelDataSet::SetMemory(bool Value) {
  CheckInternalInactive();
  Memory_ = Value;
}

void TZelDataSet::SetReadOnly(bool Value) {
  CheckInternalInactive();
  ReadOnly_ = Value;
}

void TZelDataSet::SetEncryptionLevel(TEncryptionLevel Value) {
  CheckInternalInactive();
  EncryptionLevel_ = Value;
}

void TZelDataSet::SetSortOrder(TSortOrder Value) {
  CheckInternalInactive();
  SortOrder_ = Value;
}

void TZelDataSet::SetBlobBlockSize(int32_t Value) {
  CheckInternalInactive();
  BlobBlockSize_ = Value;
}

void TZelDataSet::SetBlobCompression(bool Value) {
  CheckInternalInactive();
  BlobCompression_ = Value;
}

bool TZelDataSet::GetExists() {
  if (DataBase_ == nullptr || !DataBase_->Connected()) return false;
  plat::TStringList names;
  if (Memory_)
    DataBase_->GetTableNames(names, true);
  else if (!TableName_.empty() && TableName_[0] == '$')
    DataBase_->GetSystemTableNames(names);
  else
    DataBase_->GetTableNames(names, false);
  for (int32_t i = 0; i < names.Count(); ++i)
    if (plat::SameText(names.Strings(i), TableName_)) return true;
  return false;
}

// ---------------------------------------------------------------- the refused framework side

plat::TGetResult TZelDataSet::GetRecord(plat::TRecordBuffer, plat::TGetMode, bool) {
  ZelDatabaseError(0x2181, "TZelDataSet.GetRecord", "", this);
}
void TZelDataSet::InternalClose() {
  ZelDatabaseError(0x2181, "TZelDataSet.InternalClose", "", this);
}
void TZelDataSet::InternalInitFieldDefs() {
  ZelDatabaseError(0x2181, "TZelDataSet.InternalInitFieldDefs", "", this);
}
void TZelDataSet::InternalOpen() {
  ZelDatabaseError(0x2181, "TZelDataSet.InternalOpen", "", this);
}
bool TZelDataSet::IsCursorOpen() {
  ZelDatabaseError(0x2181, "TZelDataSet.IsCursorOpen", "", this);
}
void TZelDataSet::InternalHandleException() {
  ZelDatabaseError(0x2181, "TZelDataSet.InternalHandleException", "", this);
}

// The framework resyncs after every post and delete: the write lock that the
// post or delete kept ends here; a lock the host took (Locked) stays.
void TZelDataSet::Resync(plat::TResyncMode Mode) {
  const bool hadLock = ReadLocked_ || WriteLocked_;
  std::exception_ptr failure;
  try {
    if (!hadLock && Open_) InternalSetReadLock();
    plat::TDataSet::Resync(Mode);
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    if ((!hadLock || PostLockTaken_) && Open_) InternalReleaseLock();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  PostLockTaken_ = false;
  if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------- opening and closing

bool TZelDataSet::DataSetOpen() {
  static const char* const Context = "TZelDataSet.DataSetOpen";
  CheckConnected();
  if (TableName_.empty()) ZelDatabaseError(0x2728, Context, TableName_, this);
  if (Open_) ZelDatabaseError(0x272F, Context, TableName_, this);
  TableDef_->Clear();
  TableDef_->SetMemory(Memory_);
  DataBase_->OpenTable(TableName_, *TableDef_);
  try {
    if (TableDef_->Encrypted() &&
        ScrambleTableName(TableDef_->AltName()) != TableDef_->TableName())
      ZelDatabaseError(0x2301, Context, SzelCorruptEncryptionKey, this);
    SavedReadOnly_ = ReadOnly_;
    ReadOnly_ = ReadOnly_ || (DataBase_->ReadOnly() && !Memory_);
    InternalOpenDataSet();
    int32_t keySize = 0;
    for (int32_t i = 0; i < IndexMgr_->Count(); ++i)
      keySize = std::max(keySize, IndexMgr_->Items(i)->MaximumKeySize() + 1);
    ReadAhead_->Open(RecordSize_, keySize, ReadAheadValidPeriod);
    // Memory tables are read where they lie.
    UseReadAheadBuffer_ = !Memory_;
  } catch (...) {
    try {
      DataBase_->CloseTable(*TableDef_);
    } catch (...) {
      // The open failure is the error to report.
    }
    throw;
  }
  return true;
}

void TZelDataSet::DataSetOpenConnected() {
  SavedReadOnly_ = ReadOnly_;
  InternalOpenDataSet();
}

bool TZelDataSet::DataSetClose() {
  if (!Open_) return false;
  if (ReadLocked_ || WriteLocked_) {
    try {
      InternalReleaseLock();
    } catch (...) {
      ReadLocked_ = WriteLocked_ = false;
    }
  }
  InternalCloseDataSet();
  ReadAhead_->Close();
  UseReadAheadBuffer_ = false;
  ClearReadAheadMode();
  ReadOnly_ = SavedReadOnly_;
  CurrentRecordFlag_ = false;
  if (DataBase_ != nullptr) DataBase_->CloseTable(*TableDef_);
  return true;
}

void TZelDataSet::InternalOpenDataSet() {
  static const char* const Context = "TZelDataSet.InternalOpenDataSet";
  if (Open_) ZelDatabaseError(0x272F, Context, TableName_, this);
  TTableDef& def = *TableDef_;
  DataBase_->LockTable(def, ltRead);
  ReadLocked_ = true;
  try {
    def.Validate();
    EncryptionLevel_ = def.EncryptionLevel();
    for (int32_t i = 0; i < def.InternalFields().Count(); ++i)
      def.InternalFields().GetIndex(i)->SetSourceField(def.InternalFields().GetIndex(i)->FieldName());
    RecordSize_ = def.RecordSize();
    if (RecordSize_ <= 0) ZelDatabaseErrorFmt(0x2185, Context, SzelValueInvalidFmt, {"RecordSize"}, this);
    TInternalFields& fields = RecordMgr_->InternalFields();
    fields.Assign(&def.InternalFields());
    fields.SetDefaultOffsets();
    fields.Open();
    RecordMgr_->SetRecordSize(RecordSize_);
    RecordMgr_->Open(def.RecordInterface());
    RecBuf_.assign(static_cast<size_t>(RecordBufferSize()), 0);
    OldRecBuf_.assign(static_cast<size_t>(RecordBufferSize()), 0);
    DataSetClearRange();

    IndexMgr_->SetIOInterface(def.IndexInterface());
    IndexMgr_->SetTableHeader(def.TableHeader());
    IndexMgr_->SetDBStringCompareFunction(def.SortOrder() == soASCII ? DBASCIICompareStrings
                                                                      : DBANSICompareStrings);
    def.KeyFields().SetKeyFieldLogicalFieldNumbers(def.InternalFields());
    IndexMgr_->Assign(&def.InternalIndexDefs());
    IndexMgr_->AssignKeyFields(def.KeyFields());
    IndexMgr_->Open();

    if (fields.UsesBlobs() && (!def.UsesBlobs() || def.DefaultBlobSize() <= 0))
      ZelDatabaseErrorFmt(0x2185, Context, SzelValueInvalidFmt, {"DefaultBlobSize"}, this);
    if (def.UsesBlobs()) {
      BlobInterface_->SetIOInterface(def.BlobInterface());
      BlobInterface_->SetBlobBlockSize(static_cast<uint32_t>(def.DefaultBlobSize()));
      bool compress = def.BlobCompression();
      for (int32_t i = 0; i < fields.Count(); ++i)
        if (IsBlobFieldType(fields.GetIndex(i)->DataType()) && fields.GetIndex(i)->FieldSize() != 16)
          compress = false;
      BlobInterface_->SetUseCompression(compress);
      BlobInterface_->SetOnCompressBlob(OnCompressBlob);
      BlobInterface_->SetOnDecompressBlob(OnDecompressBlob);
      BlobInterface_->Open();
    }
    BlobBlockSize_ = def.DefaultBlobSize();
    BlobCompression_ = def.BlobCompression();

    PLAT_ASSERT(IndexMgr_->Count() > 0, "No indexes exist");
    if (IndexMgr_->Count() == 1 && IndexMgr_->Items(0)->IndexName() == LogicalRecNoIndexName) {
      SetCurrentIndexName(LogicalRecNoIndexName);
    } else if (IndexMgr_->FindIndex(IndexName_) == nullptr) {
      for (int32_t i = 0; i < IndexMgr_->Count(); ++i)
        if (!IndexMgr_->Items(i)->Hidden()) {
          SetCurrentIndexName(IndexMgr_->Items(i)->IndexName());
          break;
        }
    }
    IndexMgr_->SetCurrentIndexName(IndexName_);
    HeaderSeen_ = false;
    HeaderStampValid_ = false;
    Open_ = true;
    ReadTableHeader();
    Version_ = def.Version();
  } catch (...) {
    Open_ = false;
    ReadLocked_ = false;
    try {
      DataBase_->UnLockTable(def);
      InternalCloseDataSet();
    } catch (...) {
      // The open failure is the error to report.
    }
    throw;
  }
  ReadLocked_ = false;
  DataBase_->UnLockTable(def);
}

void TZelDataSet::InternalCloseDataSet() {
  // The filter reads the indexes that close here.
  FilterMgr_->CloseFilter();
  IndexMgr_->Close();
  BlobInterface_->Close();
  BlobInterface_->SetIOInterface(nullptr);
  RecordMgr_->BlobMgr().Clear();
  RecordMgr_->Close();
  RecBuf_.clear();
  OldRecBuf_.clear();
  Open_ = false;
  CurrentRecordFlag_ = false;
  Version_.clear();
  HeaderStampValid_ = false;
  PositionKept_ = false;
}

// ---------------------------------------------------------------- locks

TTableReadHold::TTableReadHold(TZelDataBase* DataBase) {
  TDiskMgr* disk = DataBase != nullptr ? DataBase->DiskMgr() : nullptr;
  if (disk == nullptr) return;
  disk->BeginReadHold();
  Disk_ = disk;
}

TTableReadHold::~TTableReadHold() {
  if (Disk_ == nullptr) return;
  try {
    Disk_->EndReadHold();
  } catch (...) {
    // Giving back read locks changes nothing that could be reported.
  }
}

TZelDataSet::TCursorLock::TCursorLock(TZelDataSet& DataSet, bool Write) : DataSet_(DataSet) {
  if (Write ? DataSet_.WriteLocked_ : (DataSet_.ReadLocked_ || DataSet_.WriteLocked_)) return;
  // A read lock already held is kept: the write lock upgrades it and the
  // release below ends both only when this scope took the first one.
  const bool held = DataSet_.ReadLocked_;
  if (Write)
    DataSet_.InternalSetWriteLock();
  else
    DataSet_.InternalSetReadLock();
  Taken_ = !held;
}

TZelDataSet::TCursorLock::~TCursorLock() {
  if (!Taken_) return;
  try {
    DataSet_.InternalReleaseLock();
  } catch (...) {
    // The error that ended the scope, if any, is the one to report.
  }
}

void TZelDataSet::InternalSetReadLock() {
  CheckConnected();
  const bool current = HeaderCurrent();
  DataBase_->LockTable(*TableDef_, ltRead);
  ReadLocked_ = true;
  if (current && HeaderCurrent()) {
    ApplyHeaderFirstEmpty();
    return;
  }
  ReadTableHeader();
}

void TZelDataSet::InternalSetWriteLock() {
  CheckConnected();
  if (ReadOnly_) ZelDatabaseError(0x2A0E, "TZelDataSet.InternalSetWriteLock", TableName_, this);
  // Inside a transaction the table stays locked from one write to the next:
  // the header this cursor wrote last is then still the stored one.
  const bool current = HeaderCurrent();
  if (!TableDef_->Memory()) DataBase_->LockTable(*TableDef_, ltWrite);
  WriteLocked_ = true;
  ReadLocked_ = true;
  if (current && HeaderCurrent()) {
    ApplyHeaderFirstEmpty();
    return;
  }
  ReadTableHeader();
}

void TZelDataSet::InternalReleaseLock() {
  if (!ReadLocked_ && !WriteLocked_) return;
  std::exception_ptr failure;
  if (WriteLocked_) {
    try {
      WriteTableHeader();
      if (Open_ && HeaderSeen_) NoteHeaderStamp();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  ReadLocked_ = WriteLocked_ = false;
  if (DataBase_ != nullptr) DataBase_->UnLockTable(*TableDef_);
  if (!TableDef_->Memory()) {
    if (TableDef_->RecordInterface() != nullptr) TableDef_->RecordInterface()->SetFirstEmptyValid(false);
    if (TableDef_->UsesBlobs() && TableDef_->BlobInterface() != nullptr)
      TableDef_->BlobInterface()->SetFirstEmptyValid(false);
  }
  if (failure) std::rethrow_exception(failure);
}

void TZelDataSet::ForgetLocks() {
  ReadLocked_ = WriteLocked_ = false;
  HeaderStampValid_ = false;
  PostLockTaken_ = false;
  if (!Open_ || TableDef_->Memory()) return;
  if (TableDef_->RecordInterface() != nullptr) TableDef_->RecordInterface()->SetFirstEmptyValid(false);
  if (TableDef_->UsesBlobs() && TableDef_->BlobInterface() != nullptr)
    TableDef_->BlobInterface()->SetFirstEmptyValid(false);
}

void TZelDataSet::DumpInternalCaches() {
  ForgetLocks();
  ClearBlobSlots();
  ClearBlobCache();
  if (!Open_) return;
  InvalidateReadAhead();
  InvalidateRangePositions();
  HeaderSeen_ = false;
  HeaderStampValid_ = false;
  // The header in memory may hold what the transaction changed: it must
  // never be written back.
  if (!TableDef_->Memory() && TableDef_->TableHeader() != nullptr)
    TableDef_->TableHeader()->SetDirty(false);
}

void TZelDataSet::InternalSetRecordLock(uint32_t RecAddr) {
  CheckConnected();
  DataBase_->LockRecord(*TableDef_, RecAddr);
}

void TZelDataSet::InternalReleaseRecordLock(uint32_t RecAddr) {
  if (DataBase_ != nullptr) DataBase_->UnLockRecord(*TableDef_, RecAddr);
}

void TZelDataSet::ReadTableHeader() {
  if (!Open_) return;
  TTableDef& def = *TableDef_;
  TTableHeader* header = def.TableHeader();
  if (header == nullptr) return;
  header->ReadHeader();
  const uint32_t flag = header->GetModifiedFlag();
  const bool changed = !HeaderSeen_ || flag != LastModifiedFlag_;
  LastModifiedFlag_ = flag;
  HeaderSeen_ = true;
  IndexMgr_->ReadIndexHeaders(changed);
  ApplyHeaderFirstEmpty();
  NoteHeaderStamp();
  if (changed) {
    ClearBlobCache();
    InvalidateReadAhead();
    InvalidateRangePositions();
    InvalidateFilter();
  }
}

bool TZelDataSet::HeaderCurrent() const {
  if (!HeaderSeen_ || !HeaderStampValid_) return false;
  uint64_t stamp = 0;
  if (TableDef_->Memory()) return MemoryHeaderStamp(*TableDef_, stamp) && stamp == HeaderStamp_;
  const TDiskMgr* disk = DataBase_->DiskMgr();
  return disk != nullptr && disk->IsOpen() && disk->ChangeStamp() == HeaderStamp_ &&
         disk->TableLockHeld(static_cast<uint32_t>(TableDef_->TableID()));
}

void TZelDataSet::NoteHeaderStamp() {
  const TTableDef& def = *TableDef_;
  const TDiskMgr* disk = def.Memory() || DataBase_ == nullptr ? nullptr : DataBase_->DiskMgr();
  HeaderStampValid_ = disk != nullptr && disk->IsOpen();
  if (HeaderStampValid_) HeaderStamp_ = disk->ChangeStamp();
  if (def.Memory()) HeaderStampValid_ = MemoryHeaderStamp(def, HeaderStamp_);
}

void TZelDataSet::ApplyHeaderFirstEmpty() {
  TTableDef& def = *TableDef_;
  TTableHeader* header = def.TableHeader();
  if (!Open_ || header == nullptr || def.Memory()) return;
  def.RecordInterface()->SetFirstEmpty(header->GetRecordFirstEmpty());
  def.RecordInterface()->SetFirstEmptyValid(true);
  if (def.UsesBlobs() && def.BlobInterface() != nullptr) {
    def.BlobInterface()->SetFirstEmpty(header->GetBlobFirstEmpty());
    def.BlobInterface()->SetFirstEmptyValid(true);
  }
}

void TZelDataSet::WriteTableHeader() {
  if (!Open_ || ReadOnly_) return;
  TTableDef& def = *TableDef_;
  TTableHeader* header = def.TableHeader();
  if (header == nullptr) return;
  if (!def.Memory()) {
    header->SetRecordFirstEmpty(def.RecordInterface()->FirstEmpty());
    if (def.UsesBlobs() && def.BlobInterface() != nullptr)
      header->SetBlobFirstEmpty(def.BlobInterface()->FirstEmpty());
  }
  IndexMgr_->WriteIndexHeaders();
  if (header->Dirty()) {
    header->WriteHeader();
    LastModifiedFlag_ = header->GetModifiedFlag();
    InvalidateReadAhead();
    ClearBlobCache();
    InvalidateRangePositions();
  }
}

// ---------------------------------------------------------------- navigation

TIndexItem* TZelDataSet::CurrentIndex() const {
  // Every step asks: the lookup by name is made again only after the name
  // or the manager's items changed.
  if (CurrentIndex_ != nullptr && CurrentIndexChanges_ == IndexMgr_->Changes()) return CurrentIndex_;
  TIndexItem* item = IndexMgr_->FindIndex(IndexName_);
  if (item == nullptr) ZelDatabaseErrorFmt(0x270D, "TZelDataSet.CurrentIndex", SzelIndexFmt, {IndexName_}, this);
  CurrentIndex_ = item;
  CurrentIndexChanges_ = IndexMgr_->Changes();
  return item;
}

void TZelDataSet::SetCurrentIndexName(const std::string& Name) {
  IndexName_ = Name;
  CurrentIndex_ = nullptr;
}

void TZelDataSet::InternalSetIndexName(const std::string& Name) {
  if (!Open_) {
    SetCurrentIndexName(Name);
    return;
  }
  TIndexItem* item = IndexMgr_->FindIndex(Name);
  if (item == nullptr)
    ZelDatabaseErrorFmt(0x270D, "TZelDataSet.InternalSetIndexName", SzelIndexFmt, {Name}, this);
  SetCurrentIndexName(item->IndexName());
  IndexMgr_->SetCurrentIndexName(IndexName_);
  CurrentRecordFlag_ = false;
  // Range keys are keys of the index they were built on.
  SetRangeOn(false);
  InvalidateReadAhead();
  InvalidateFilter();
}

uint32_t TZelDataSet::BufferRecAddr(const uint8_t* Buffer, int32_t RecordSize) {
  return ix::LoadU32(Buffer + RecordSize + rbRecAddr);
}

void TZelDataSet::SetRecordTrailer(uint8_t* Buffer, uint32_t RecAddr, int32_t RecNo) const {
  ix::StoreU32(Buffer + RecordSize_ + rbRecAddr, RecAddr);
  ix::StoreU32(Buffer + RecordSize_ + rbRecNo, static_cast<uint32_t>(RecNo));
  ix::StoreU32(Buffer + RecordSize_ + 8, 0);
}

void TZelDataSet::LoadFromIndex() {
  TIndexItem* index = CurrentIndex();
  const uint32_t addr = index->GetRecordAddress();
  if (addr == 0)
    ZelDatabaseError(0x2185, "TZelDataSet.LoadFromIndex",
                     "The record cannot be found - the address is invalid", this);
  RecordMgr_->ReadRecord(addr, RecBuf_.data(), true);
  SetRecordTrailer(RecBuf_.data(), addr, index->GetRecordNo());
  CurrentRecordFlag_ = true;
  // The first step from a range's end or a seek steps on from here.
  KeepPosition();
}

bool TZelDataSet::DataSetMoveToEnd(bool Start) {
  CheckInternalActive();
  if (ReadAheadMode_ == raReadAheadActive) ReadAheadMode_ = raReadAheadUninitialized;
  if (RangeOn_) return MoveToRangeEnd(Start ? rmRangeStart : rmRangeEnd);
  TCursorLock lock(*this, false);
  TIndexItem* index = CurrentIndex();
  if (!index->BTree().SetCursorToEnd(Start)) return false;
  LoadFromIndex();
  return true;
}

bool TZelDataSet::DataSetFirst() {
  return FilterActive() ? InternalMoveToFilterRecord(spFromStart, 0) : DataSetMoveToEnd(true);
}
bool TZelDataSet::DataSetLast() {
  return FilterActive() ? InternalMoveToFilterRecord(spFromEnd, 0) : DataSetMoveToEnd(false);
}

bool TZelDataSet::DataSetNext() {
  CheckInternalActive();
  if (FilterActive()) return InternalMoveToFilterRecord(spFromCurrent, 1);
  if (!CurrentRecordFlag_ && RecBuf_[rpInUse] == 0) return DataSetFirst();
  return StepRecord(true);
}

bool TZelDataSet::DataSetPrior() {
  CheckInternalActive();
  if (FilterActive()) return InternalMoveToFilterRecord(spFromCurrent, -1);
  if (!CurrentRecordFlag_ && RecBuf_[rpInUse] == 0) return DataSetLast();
  return StepRecord(false);
}

bool TZelDataSet::StepRecord(bool Forward) {
  if (RangeOn_) {
    // A step that leaves the range fails and keeps the record it came from.
    if (!RangeActive_) return false;
    // From a kept position the index's next key tells whether the step
    // leaves the range before the record is read.
    if (!UseReadAheadBuffer_ || ReadAheadMode_ == raReadAheadInactive) {
      const TKeptStep step = StepFromKeptPosition(Forward, true);
      if (step == kpLeftRange) return false;
      if (step == kpMoved) {
        if (ReadAheadMode_ == raReadAheadUninitialized) ReadAheadMode_ = raReadAheadActive;
        return true;
      }
    }
    const std::vector<uint8_t> from = RecBuf_;
    const bool wasCurrent = CurrentRecordFlag_;
    RangeOn_ = false;
    bool moved = false;
    {
      const auto restore = plat::OnScopeExit([this] { RangeOn_ = true; });
      moved = StepRecord(Forward);
    }
    if (moved && RecordInRange(RecBuf_.data())) return true;
    RecBuf_ = from;
    CurrentRecordFlag_ = wasCurrent;
    return false;
  }
  if (CurrentRecordFlag_ && GetFromReadAheadBuffer(Forward)) return true;
  ReadAheadDirection_ = Forward ? rdForwards : rdBackwards;
  const auto center = plat::OnScopeExit([this] { ReadAheadDirection_ = rdCenter; });
  // A kept position is only trusted while the connection holds the table
  // (or it is a memory table) and nothing changed it: that hold covers the
  // step, which needs no lock of its own.
  if (StepFromKeptPosition(Forward, false) != kpMoved) {
    TCursorLock lock(*this, false);
    if (!InternalFind(Forward ? stGT : stLT, IndexName_, TSearchModifier{})) return false;
    KeepPosition();
  }
  if (ReadAheadMode_ == raReadAheadUninitialized) ReadAheadMode_ = raReadAheadActive;
  return true;
}

bool TZelDataSet::StableStamp(uint64_t& Stamp) const {
  // Only this process reaches a memory table; its index store counts changes.
  if (TableDef_->Memory()) {
    const TBaseIOInterface* store = TableDef_->IndexInterface();
    if (store == nullptr) return false;
    Stamp = store->Changes();
    return true;
  }
  if (DataBase_ == nullptr) return false;
  const TDiskMgr* disk = DataBase_->DiskMgr();
  // Without a lock of the table another process may change it at any time.
  if (disk == nullptr || !disk->IsOpen() ||
      !disk->TableLockHeld(static_cast<uint32_t>(TableDef_->TableID())))
    return false;
  Stamp = disk->ChangeStamp();
  return true;
}

void TZelDataSet::KeepPosition() {
  uint64_t stamp = 0;
  KeptRecNo_ = 0;
  PositionKept_ = CurrentRecordFlag_ && StableStamp(stamp);
  if (!PositionKept_) return;
  KeptStamp_ = stamp;
  KeptIndex_ = CurrentIndex();
  KeptRecAddr_ = BufferRecAddr(RecBuf_.data(), RecordSize_);
  KeptRecord_.assign(RecBuf_.begin(), RecBuf_.begin() + RecordSize_);
}

TZelDataSet::TKeptStep TZelDataSet::StepFromKeptPosition(bool Forward, bool InRange) {
  const bool kept = PositionKept_;
  PositionKept_ = false;
  // A search fills the read-ahead batch where a fetch asks for one.
  if (!kept || !CurrentRecordFlag_ || (UseReadAheadBuffer_ && ReadAheadMode_ != raReadAheadInactive))
    return kpSearch;
  uint64_t stamp = 0;
  if (!StableStamp(stamp) || stamp != KeptStamp_) return kpSearch;
  TIndexItem* index = CurrentIndex();
  const uint8_t* buffer = RecBuf_.data();
  if (index != KeptIndex_ || ix::LoadU32(buffer + RecordSize_ + rbKeyMarker) != 0 ||
      BufferRecAddr(buffer, RecordSize_) != KeptRecAddr_)
    return kpSearch;
  // The entry the index stands on gives both its record and its key.
  const uint8_t* current = index->GetCurrentKeyBuf();
  if (current == nullptr || ix::LoadU32(current + keAddress) != KeptRecAddr_) return kpSearch;
  // The search would start from the key in the buffer: it must still be the
  // key the index stands on, and the step must pass it as the search would.
  // A buffer unchanged since it was read there has that key: the index's
  // own copy of it is taken instead of building and comparing one.
  const uint8_t* from = nullptr;
  if (KeptRecord_.size() == static_cast<size_t>(RecordSize_) &&
      std::memcmp(KeptRecord_.data(), buffer, KeptRecord_.size()) == 0) {
    // A damaged length is left to the search to report.
    const uint16_t length = ix::LoadU16(current);
    if (length > index->MaximumKeySize()) return kpSearch;
    KeptKey_.assign(current, current + length);
    from = KeptKey_.data();
  } else {
    index->CreateTempKeyBuffer(buffer);
    from = index->GetTempKeyBuffer();
    if (index->CompareKeyBuffers(0, nullptr, nullptr, from, current) != 0) return kpSearch;
  }
  if (!(Forward ? index->NextKey() : index->PriorKey())) return kpSearch;
  current = index->GetCurrentKeyBuf();
  if (current == nullptr || index->CompareKeyBuffers(0, nullptr, nullptr, from, current) == 0)
    return kpSearch;
  const uint32_t addr = ix::LoadU32(current + keAddress);
  if (addr == 0) return kpSearch;
  // The index's key is the key of the record it names: out of the range,
  // the buffer keeps the record the step came from.
  if (InRange && !(CheckKeyBufInRange(current, rmRangeStart) && CheckKeyBufInRange(current, rmRangeEnd)))
    return kpLeftRange;
  // The step moved the index by one entry from the number it had.
  const int32_t recNo = KeptRecNo_ > 0 ? KeptRecNo_ + (Forward ? 1 : -1) : index->GetRecordNo();
  RecordMgr_->ReadRecord(addr, RecBuf_.data(), true);
  SetRecordTrailer(RecBuf_.data(), addr, recNo);
  CurrentRecordFlag_ = true;
  if (!ReadAhead_->RecordCountValid()) {
    ReadAhead_->SetLastRecordCount(index->GetRecordCount());
    ReadAhead_->SetRecordCountValid(true);
  }
  // Kept as KeepPosition would keep it: reading changed no stamp, and a
  // stamp that moved all the same would only make the next step search.
  PositionKept_ = true;
  KeptIndex_ = index;
  KeptRecAddr_ = addr;
  KeptRecNo_ = recNo;
  KeptRecord_.assign(RecBuf_.begin(), RecBuf_.begin() + RecordSize_);
  return kpMoved;
}

// ---------------------------------------------------------------- read-ahead

void TZelDataSet::SetReadAheadMode(TReadAheadMode Mode) {
  if (ReadAheadCount_ == 0) ReadAheadMode_ = Mode;
  ++ReadAheadCount_;
}

void TZelDataSet::ReleaseReadAheadMode() {
  if (ReadAheadCount_ > 0) --ReadAheadCount_;
  if (ReadAheadCount_ == 0) ReadAheadMode_ = raReadAheadInactive;
}

void TZelDataSet::ClearReadAheadMode() {
  ReadAheadCount_ = 0;
  ReadAheadMode_ = raReadAheadInactive;
}

void TZelDataSet::InvalidateReadAhead() {
  ReadAhead_->Invalidate();
  ReadAhead_->SetRecordCountValid(false);
}

bool TZelDataSet::GetFromReadAheadBuffer(bool Forward) {
  if (!UseReadAheadBuffer_ || ReadAheadMode_ == raReadAheadInactive) return false;
  // A change made through another cursor of this process shows at once: the
  // table header they share says so.
  if (!TableUnchangedSinceLastRead()) {
    InvalidateReadAhead();
    return false;
  }
  if (!ReadAhead_->IsValid(GetMSTimeMarker())) return false;
  const uint32_t addr = BufferRecAddr(RecBuf_.data(), RecordSize_);
  TReadAheadBufferItem* item =
      Forward ? ReadAhead_->GetNextBufferItem(addr) : ReadAhead_->GetPriorBufferItem(addr);
  if (item == nullptr) return false;
  std::memcpy(RecBuf_.data(), item->RecBuf(), static_cast<size_t>(RecordSize_));
  SetRecordTrailer(RecBuf_.data(), item->RecAddr(), item->RecNo());
  CurrentRecordFlag_ = true;
  return true;
}

bool TZelDataSet::TableUnchangedSinceLastRead() const {
  const TTableHeader* header = TableDef_->TableHeader();
  return header != nullptr && header->GetModifiedFlag() == LastModifiedFlag_ && !header->Dirty();
}

void TZelDataSet::FillReadAheadBuffer(TReadAheadDirection Direction) {
  if (!UseReadAheadBuffer_ || ReadAheadBufferSize_ < 2 || Direction == rdNone) return;
  InvalidateReadAhead();
  TIndexItem* index = CurrentIndex();
  index->ListReadAheadRecords(Direction, ReadAheadBufferSize_, *ReadAhead_);
  for (int32_t i = 0; i < ReadAhead_->Count(); ++i) {
    TReadAheadBufferItem* item = ReadAhead_->Items(i);
    RecordMgr_->ReadRecord(item->RecAddr(), item->RecBuf(), false);
  }
  ReadAhead_->SetValidTimeStamp(GetMSTimeMarker());
}

bool TZelDataSet::GetNextRecord() {
  TReadAheadScope scope(*this);
  return plat::TDataSet::GetNextRecord();
}

int32_t TZelDataSet::GetNextRecords() {
  TReadAheadScope scope(*this);
  return plat::TDataSet::GetNextRecords();
}

bool TZelDataSet::GetPriorRecord() {
  TReadAheadScope scope(*this);
  return plat::TDataSet::GetPriorRecord();
}

int32_t TZelDataSet::GetPriorRecords() {
  TReadAheadScope scope(*this);
  return plat::TDataSet::GetPriorRecords();
}

bool TZelDataSet::SeekCurrentKey() {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  TIndexItem* index = CurrentIndex();
  index->CreateKeyBuffer(RecBuf_.data());
  if (index->FullIndexSearch(stEQ) != 0) return false;
  LoadFromIndex();
  return true;
}

int32_t TZelDataSet::DataSetGetRecordNo() const {
  if (!Open_) return 0;
  return static_cast<int32_t>(ix::LoadU32(RecBuf_.data() + RecordSize_ + rbRecNo));
}

bool TZelDataSet::DataSetSetRecordNo(int32_t RecNo) {
  CheckInternalActive();
  if (FilterActive()) return FilterSetRecordNo(RecNo);
  if (RecNo < 1) return false;
  TCursorLock lock(*this, false);
  TIndexItem* index = CurrentIndex();
  // Inside a range numbers count from its start.
  int32_t target = RecNo;
  int32_t bound = index->GetRecordCount();
  if (RangeOn_) {
    const int32_t base = GetRangeEndRecNo(rmRangeStart);
    if (base == 0) return false;
    target = base + RecNo - 1;
    bound = GetRangeEndRecNo(rmRangeEnd);
  }
  if (target > bound) return false;
  if (index->SetRecordNo(target) == 0) return false;
  LoadFromIndex();
  return true;
}

int32_t TZelDataSet::GetTotalRecordCount() {
  if (!Open_) return 0;
  TCursorLock lock(*this, false);
  return CurrentIndex()->GetRecordCount();
}

}  // namespace zel
