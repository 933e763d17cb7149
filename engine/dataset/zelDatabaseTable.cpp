// The dataset protocol on the table cursor, and the table component.
#include "engine/dataset/zelDatabaseTable.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "platform/db/DBConsts.h"
#include "platform/db/Fields.h"
#include "platform/rtl/Bytes.h"

namespace zel {

namespace {

constexpr int32_t biStatus = 4;
constexpr int32_t biBookmarkFlag = 5;

}  // namespace

TZelBaseTable::TZelBaseTable(plat::TComponent* AOwner)
    : TZelDataSet(AOwner), IndexDefs_(std::make_unique<plat::TIndexDefs>(this)) {
  Version_ = ZelEngineVersion;
  SetUseBlobCache(true);
  SetFilterEventHandler([this](const uint8_t* Buffer) { return RecordProcFilter(Buffer); });
}

TZelBaseTable::~TZelBaseTable() {
  Destroying();
  try {
    Close();
  } catch (...) {
    // Nothing may leave a destructor.
  }
}

// ---------------------------------------------------------------- buffers and bookmarks

plat::TRecordBuffer TZelBaseTable::AllocRecordBuffer() {
  return plat::AllocRecordMem(static_cast<size_t>(FrameworkBufferSize()));
}

void TZelBaseTable::FreeRecordBuffer(plat::TRecordBuffer& Buffer) {
  plat::FreeRecordMem(Buffer);
  Buffer = nullptr;
}

TRecordBufferStatus TZelBaseTable::GetRecordStatus(const uint8_t* Buffer) const {
  return static_cast<TRecordBufferStatus>(Buffer[InfoOffset() + biStatus]);
}

void TZelBaseTable::SetRecordStatus(uint8_t* Buffer, TRecordBufferStatus Status) const {
  Buffer[InfoOffset() + biStatus] = Status;
}

plat::TBookmarkFlag TZelBaseTable::GetBookmarkFlag(plat::TRecordBuffer Buffer) {
  return static_cast<plat::TBookmarkFlag>(Buffer[InfoOffset() + biBookmarkFlag]);
}

void TZelBaseTable::SetBookmarkFlag(plat::TRecordBuffer Buffer, plat::TBookmarkFlag Value) {
  Buffer[InfoOffset() + biBookmarkFlag] = Value;
}

void TZelBaseTable::GetBookmarkData(plat::TRecordBuffer Buffer, void* Data) {
  CheckActive();
  auto* out = static_cast<uint8_t*>(Data);
  std::memcpy(out, Buffer + RecordSize() + rbRecAddr, 4);
  std::memcpy(out + 4, Buffer + rpLogicalRecordNo, 4);
}

void TZelBaseTable::SetBookmarkData(plat::TRecordBuffer Buffer, const void* Data) {
  const auto* in = static_cast<const uint8_t*>(Data);
  std::memcpy(Buffer + RecordSize() + rbRecAddr, in, 4);
  std::memcpy(Buffer + rpLogicalRecordNo, in + 4, 4);
}

bool TZelBaseTable::BookmarkValid(const plat::TBookmark& Bookmark) {
  CheckActive();
  if (!CursorOpen() || Bookmark.size() != ZelBookmarkSize) return false;
  const uint32_t addr = ix::LoadU32(Bookmark.data());
  if (addr == 0) return false;
  std::vector<uint8_t> rec(static_cast<size_t>(RecordBufferSize()));
  try {
    ReadRecordBuffer(addr, rec.data());
  } catch (const EZelDatabaseError&) {
    // An address the store does not hold is simply not a valid bookmark.
    return false;
  }
  return rec[rpInUse] == 1 &&
         ix::LoadU32(rec.data() + rpOwnerCode) == TableDef().RecordInterface()->OwnerFlag() &&
         ix::LoadU32(rec.data() + rpLogicalRecordNo) == ix::LoadU32(Bookmark.data() + 4);
}

int32_t TZelBaseTable::CompareBookmarks(const plat::TBookmark& Bookmark1,
                                        const plat::TBookmark& Bookmark2) {
  if (Bookmark1.empty() && Bookmark2.empty()) return 0;
  if (Bookmark1.empty() || Bookmark2.empty()) return 1;
  const size_t n = std::min({Bookmark1.size(), Bookmark2.size(), size_t{ZelBookmarkSize}});
  for (size_t i = 0; i < n; ++i)
    if (Bookmark1[i] != Bookmark2[i]) return int32_t{Bookmark1[i]} - int32_t{Bookmark2[i]};
  return 0;
}

void TZelBaseTable::InternalGotoBookmark(const void* Bookmark) {
  const auto* b = static_cast<const uint8_t*>(Bookmark);
  const plat::TBookmark copy(b, b + ZelBookmarkSize);
  if (!BookmarkValid(copy) || !SetToRecord(ix::LoadU32(b), nullptr, true, false))
    ZelDatabaseError(0x2725, "TZelBaseTable.InternalGotoBookmark", "", this);
}

void TZelBaseTable::InternalSetToRecord(plat::TRecordBuffer Buffer) {
  const uint32_t addr = ix::LoadU32(Buffer + RecordSize() + rbRecAddr);
  if (addr != 0) SetToRecord(addr, Buffer, true, State() < plat::dsEdit);
}

bool TZelBaseTable::GetCurrentRecord(plat::TRecordBuffer Buffer) {
  if (IsEmpty() || ActiveBuffer() == nullptr) return false;
  std::memcpy(Buffer, ActiveBuffer(), static_cast<size_t>(FrameworkBufferSize()));
  return true;
}

void TZelBaseTable::ClearCalcFields(plat::TRecordBuffer Buffer) {
  std::memset(Buffer + RecordBufferSize() + 1, 0, static_cast<size_t>(CalcFieldsSize()));
}

plat::TRecordBuffer TZelBaseTable::GetActiveRecBuf() {
  switch (State()) {
    case plat::dsBrowse:
    case plat::dsBlockRead:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case plat::dsEdit:
    case plat::dsInsert:
    case plat::dsNewValue:
      return ActiveBuffer();
    case plat::dsCalcFields:
      return CalcBuffer();
    case plat::dsFilter:
      return FilterBuffer_;
    case plat::dsSetKey:
      if (KeyMode_ == kmFind) return KeyBuffer_.data();
      if (KeyMode_ == kmRange) return GetRangeRecBuf(RangeMode_);
      ZelDatabaseError(0x2185, "TZelBaseTable.GetActiveRecBuf",
                       "State error - no KeyMode set for SetKey state", this);
    default:
      return nullptr;
  }
}

// ---------------------------------------------------------------- fetching

plat::TGetResult TZelBaseTable::GetRecord(plat::TRecordBuffer Buffer, plat::TGetMode GetMode,
                                          bool) {
  if (FirstFetchPending_) {
    FirstFetchPending_ = false;
    InternalCheckMasterRange();
  }
  bool ok = false;
  plat::TGetResult failure = plat::grError;
  switch (GetMode) {
    case plat::gmCurrent:
      if (PendingSeek_ == 1)
        ok = HasCurrentRecord();
      else if (PendingSeek_ == 2)
        ok = DataSetFirst();
      else if (PendingSeek_ == 3)
        ok = DataSetLast();
      else if (FilterActive())
        ok = HasCurrentRecord() && FilterCurrentRecord();
      else
        // A record changed out of the range gives way to the nearer end.
        ok = HasCurrentRecord() && SeekCurrentKey() && StayInRange();
      break;
    case plat::gmNext:
      ok = PendingSeek_ == 2 ? DataSetFirst() : DataSetNext();
      failure = plat::grEOF;
      break;
    case plat::gmPrior:
      ok = PendingSeek_ == 3 ? DataSetLast() : DataSetPrior();
      failure = plat::grBOF;
      break;
  }
  PendingSeek_ = 0;
  if (!ok) return failure;
  std::memcpy(Buffer, RecordBuffer(), static_cast<size_t>(RecordBufferSize()));
  GetCalcFields(Buffer);
  SetRecordStatus(Buffer, rbBrowse);
  SetBookmarkFlag(Buffer, plat::bfCurrent);
  return plat::grOK;
}

int32_t TZelBaseTable::GetRecordCount() {
  CheckActive();
  return GetCurrentRecordCount();
}

int32_t TZelBaseTable::GetRecNo() {
  plat::TRecordBuffer rec = GetActiveRecBuf();
  if (rec == nullptr || State() == plat::dsInsert || State() == plat::dsSetKey) return 0;
  const int32_t recNo = static_cast<int32_t>(ix::LoadU32(rec + RecordSize() + rbRecNo));
  // A filter numbers its own records; inside a range numbers count from its
  // start.
  if (FilterActive()) return recNo;
  return RangeOn() ? recNo - GetRangeEndRecNo(rmRangeStart) + 1 : recNo;
}

void TZelBaseTable::SetRecNo(int32_t Value) {
  CheckBrowseMode();
  DoBeforeScroll();
  if (!DataSetSetRecordNo(Value)) return;
  Resync({plat::rmExact, plat::rmCenter});
  DoAfterScroll();
}

bool TZelBaseTable::GetCanModify() {
  return CursorOpenFlag_ && CanModifyFlag_ && !ReadOnly() &&
         (TableDef().PrivilegeFlags() & (opInsertDataBit | opDeleteDataBit | opUpdateDataBit)) != 0;
}

// ---------------------------------------------------------------- field values

bool TZelBaseTable::GetFieldData(plat::TField* Field, void* Buffer) {
  // Browsing, the common case, reads the active record without the state switch.
  plat::TRecordBuffer rec = State() != plat::dsBrowse ? GetActiveRecBuf()
                            : IsEmpty()                ? nullptr
                                                       : ActiveBuffer();
  if (rec == nullptr) return false;
  if (Field->FieldNo() < 1) {
    // Key buffers hold no calculated fields.
    if (State() == plat::dsSetKey) return false;
    const uint8_t* slot = rec + RecordBufferSize() + 1 + Field->Offset();
    if (slot[0] == 0) return false;
    if (Buffer != nullptr) std::memcpy(Buffer, slot + 1, static_cast<size_t>(Field->DataSize()));
    return true;
  }
  const TInternalFieldItem* f = GetInternalField(Field->FieldNo() - 1);
  // In a key buffer a field marked lowest or highest has no value either.
  const bool isNull = rec[f->NullFlagOffset()] != kfValue;
  if (Buffer == nullptr || IsBlobFieldType(f->DataType())) return !isNull;
  const size_t native = static_cast<size_t>(std::max(Field->DataSize(), 0));
  auto* out = static_cast<uint8_t*>(Buffer);
  if (isNull) {
    std::memset(out, 0, native);
    return false;
  }
  const uint8_t* p = rec + f->DataOffset();
  switch (f->DataType()) {
    case plat::ftString: {
      std::memset(out, 0, native);
      const size_t len = std::min<size_t>(static_cast<size_t>(f->ReadSizeMarker(rec)),
                                          native > 0 ? native - 1 : 0);
      std::memcpy(out, p, len);
      break;
    }
    case plat::ftWideString: {
      std::memset(out, 0, native);
      const size_t len = std::min<size_t>(static_cast<size_t>(f->ReadSizeMarker(rec)) & ~size_t{1},
                                          native >= 2 ? native - 2 : 0);
      std::memcpy(out, p, len);
      break;
    }
    case plat::ftBoolean:
      std::memset(out, 0, native);
      ix::StoreU16(out, p[0] != 0 ? 1 : 0);
      break;
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
      std::memset(out, 0, native);
      plat::DateTimeToNative(f->DataType(), ix::LoadDouble(p), out);
      break;
    default: {
      // The stored bytes are the native value: only bytes past them are cleared.
      const size_t size = std::min(native, static_cast<size_t>(f->FieldSize()));
      plat::CopyBytes(out, p, size);
      if (native > size) std::memset(out + size, 0, native - size);
      break;
    }
  }
  return true;
}

void TZelBaseTable::SetFieldData(plat::TField* Field, const void* Buffer) {
  const plat::TDataSetState state = State();
  if (!((state >= plat::dsEdit && state <= plat::dsNewValue) || state == plat::dsInternalCalc))
    plat::DatabaseError(plat::SNotEditing, this);
  plat::TRecordBuffer rec = GetActiveRecBuf();
  if (rec == nullptr) plat::DatabaseError(plat::SNotEditing, this);
  if (Field->FieldNo() < 1) {
    if (state == plat::dsSetKey) plat::DatabaseError(plat::SNotEditing, this);
    uint8_t* slot = rec + RecordBufferSize() + 1 + Field->Offset();
    slot[0] = Buffer != nullptr;
    std::memset(slot + 1, 0, static_cast<size_t>(Field->DataSize()));
    if (Buffer != nullptr) std::memcpy(slot + 1, Buffer, static_cast<size_t>(Field->DataSize()));
  } else {
    if (state == plat::dsCalcFields) plat::DatabaseError(plat::SNotEditing, this);
    Field->Validate(Buffer);
    const int32_t fieldNo = Field->FieldNo() - 1;
    const TInternalFieldItem* f = GetInternalField(fieldNo);
    if (Buffer == nullptr) {
      DataSetSetFieldDataToRecBuf(fieldNo, 0, true, nullptr, rec);
    } else {
      const auto* in = static_cast<const uint8_t*>(Buffer);
      uint8_t bytes[8] = {};
      switch (f->DataType()) {
        case plat::ftString: {
          const size_t len = strnlen(reinterpret_cast<const char*>(in),
                                     static_cast<size_t>(f->GetWriteableFieldSize()));
          DataSetSetFieldDataToRecBuf(fieldNo, static_cast<int32_t>(len), false, in, rec);
          break;
        }
        case plat::ftWideString: {
          size_t units = 0;
          while (units < static_cast<size_t>(f->GetWriteableFieldSize()) &&
                 ix::LoadU16(in + 2 * units) != 0)
            ++units;
          DataSetSetFieldDataToRecBuf(fieldNo, static_cast<int32_t>(2 * units), false, in, rec);
          break;
        }
        case plat::ftBoolean:
          bytes[0] = ix::LoadU16(in) != 0 ? 1 : 0;
          DataSetSetFieldDataToRecBuf(fieldNo, 0, false, bytes, rec);
          break;
        case plat::ftDate:
        case plat::ftTime:
        case plat::ftDateTime: {
          double value = plat::NativeToDateTime(f->DataType(), in);
          if (f->DataType() == plat::ftDateTime)
            value = std::round(value * 86400000.0) / 86400000.0;
          ix::StoreDouble(bytes, value);
          DataSetSetFieldDataToRecBuf(fieldNo, 0, false, bytes, rec);
          break;
        }
        default:
          DataSetSetFieldDataToRecBuf(fieldNo, 0, false, in, rec);
          break;
      }
    }
  }
  if (state != plat::dsCalcFields)
    DataEvent(plat::deFieldChange, reinterpret_cast<plat::TDataEventInfo>(Field));
}

// ---------------------------------------------------------------- editing

void TZelBaseTable::InternalInitRecord(plat::TRecordBuffer Buffer) {
  ClearBlobSlots();
  if (FilterBuffer_ == nullptr) {
    InitializeNewRecord(Buffer, false);
    return;
  }
  InitializeNewRecord(FilterBuffer_, false);
  if (Buffer == FilterBuffer_) return;
  {
    // Defaults are written through the fields, into the filter buffer.
    plat::TTempState temp(*this, plat::dsFilter);
    for (int32_t i = 0; i < Fields().Count(); ++i) {
      plat::TField* field = Fields().Fields(i);
      if (field->FieldNo() >= 1 && !field->DefaultExpression().empty())
        field->SetAsString(field->DefaultExpression());
    }
  }
  std::memcpy(Buffer, FilterBuffer_, static_cast<size_t>(RecordBufferSize()));
}

void TZelBaseTable::InternalInsert() {
  SetRecordStatus(ActiveBuffer(), rbInsert);
  ClearBlobSlots();
  CursorPosChanged();
}

void TZelBaseTable::InternalEdit() {
  static const char* const Context = "TZelBaseTable.InternalEdit";
  plat::TRecordBuffer buffer = ActiveBuffer();
  if (GetRecordStatus(buffer) != rbBrowse)
    ZelDatabaseError(0x2185, Context, "Internal State error - RecBuf not available for editing",
                     this);
  const uint32_t addr = ix::LoadU32(buffer + RecordSize() + rbRecAddr);
  // Locked first, then read again: nobody can change the record between the
  // check and the lock.
  InternalSetRecordLock(addr);
  try {
    if (!SetToRecord(addr, buffer, false, true) ||
        ix::LoadU32(RecordBuffer() + rpModificationStamp) !=
            ix::LoadU32(buffer + rpModificationStamp))
      ZelDatabaseError(0x2204, Context, "", this);
  } catch (...) {
    InternalReleaseRecordLock(addr);
    throw;
  }
  std::memcpy(buffer, RecordBuffer(), static_cast<size_t>(RecordSize()));
  ClearBlobSlots();
  SetRecordStatus(buffer, rbEdit);
}

void TZelBaseTable::InternalPost() {
  plat::TRecordBuffer buffer = ActiveBuffer();
  std::memcpy(RecordBuffer(), buffer, static_cast<size_t>(RecordBufferSize()));
  const bool editing = State() == plat::dsEdit;
  const bool held = WriteLocked();
  if (!held) InternalSetWriteLock();
  try {
    if (editing) {
      CurrentRecordFlag_ = true;
      UpdateRecord();
    } else {
      AddRecord(true);
    }
  } catch (...) {
    if (!held) InternalReleaseLock();
    throw;
  }
  PostLockTaken_ = PostLockTaken_ || !held;
  // The cursor stands on the record posted, where the framework's resync
  // looks: an end the framework asked for before (an appended row sits
  // after the last) no longer applies.
  PendingSeek_ = 0;
  if (editing) InternalReleaseRecordLock(ix::LoadU32(buffer + RecordSize() + rbRecAddr));
  SetRecordStatus(buffer, rbBrowse);
}

void TZelBaseTable::InternalAddRecord(const void* Buffer, bool) {
  std::memcpy(RecordBuffer(), Buffer, static_cast<size_t>(RecordBufferSize()));
  AddRecord(true);
}

void TZelBaseTable::InternalCancel() {
  plat::TRecordBuffer buffer = ActiveBuffer();
  if (!IsEmpty() && buffer != nullptr)
    InternalReleaseRecordLock(ix::LoadU32(buffer + RecordSize() + rbRecAddr));
  if (buffer != nullptr) SetRecordStatus(buffer, rbBrowse);
  ClearBlobSlots();
}

void TZelBaseTable::InternalDelete() {
  plat::TRecordBuffer buffer = ActiveBuffer();
  const bool held = WriteLocked();
  if (!held) InternalSetWriteLock();
  try {
    std::memcpy(RecordBuffer(), buffer, static_cast<size_t>(RecordBufferSize()));
    DeleteRecord(buffer);
  } catch (...) {
    if (!held) InternalReleaseLock();
    throw;
  }
  PostLockTaken_ = PostLockTaken_ || !held;
  SetRecordStatus(buffer, rbInvalid);
}

void TZelBaseTable::InternalRefresh() {
  plat::TRecordBuffer buffer = ActiveBuffer();
  InvalidateReadAhead();
  InvalidateFilter();
  if (buffer == nullptr || IsEmpty()) return;
  std::memcpy(RecordBuffer(), buffer, static_cast<size_t>(RecordBufferSize()));
  if (!SeekCurrentKey()) PendingSeek_ = 2;
}

void TZelBaseTable::SetLocked(bool Value) {
  CheckActive();
  if (Value)
    InternalSetWriteLock();
  else
    InternalReleaseLock();
}

void TZelBaseTable::Flush() {
  CheckActive();
  if (State() == plat::dsEdit || State() == plat::dsInsert) Post();
  DataBase()->FlushBuffers();
}

// ---------------------------------------------------------------- opening and closing

void TZelBaseTable::InternalOpen() { OpenDataset(false); }

void TZelBaseTable::OpenDataset(bool CursorKept) {
  if (DataBase() == nullptr) ZelDatabaseError(0x2780, "TZelBaseTable.InternalOpen", "", this);
  if (!DataBase()->Connected()) DataBase()->SetConnected(true);
  CanModifyFlag_ = true;
  if (CursorKept) {
    // Others may have changed the table meanwhile, even built its indexes
    // anew: what the cursor read of it is read again.
    for (int32_t i = 0; i < IndexManager().Count(); ++i)
      IndexManager().Items(i)->BTree().ForgetPosition();
    DumpInternalCaches();
    DataSetClearRange();
    FilterMgr().CloseFilter();
  } else {
    DataSetOpen();
  }
  CursorOpenFlag_ = true;
  PendingSeek_ = 2;
  // A kept cursor has the layout it had at the last open: definitions built
  // then, and not changed since (any change clears Updated), still show it.
  if (!CursorKept || !FieldDefs().Updated()) InitFieldDefs();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  // Fields the user may not read are hidden, those he may not change are
  // read-only.
  for (int32_t i = 0; i < Fields().Count(); ++i) {
    plat::TField* field = Fields().Fields(i);
    if (field->FieldNo() < 1) continue;
    const int32_t flags = GetInternalField(field->FieldNo() - 1)->PrivilegeFlags();
    if ((flags & opReadDataBit) == 0) field->SetVisible(false);
    if ((flags & opUpdateDataBit) == 0 && !field->ReadOnly()) field->SetReadOnly(true);
  }
  SetBookmarkSize(ZelBookmarkSize);
  FilterBuffer_ = plat::AllocRecordMem(static_cast<size_t>(FrameworkBufferSize()));
  FirstFetchPending_ = true;
  UpdateIndexDefs();
  if (Filtered()) InternalSetFilter();
}

void TZelBaseTable::QueryInternalFieldDefs(TInternalFields& Fields) {
  if (DataBase() == nullptr)
    ZelDatabaseError(0x2780, "TZelBaseTable.QueryInternalFieldDefs", "", this);
  const bool connected = DataBase()->Connected();
  if (!connected) DataBase()->SetConnected(true);
  TTableDef def;
  def.SetMemory(Memory());
  try {
    DataBase()->QueryTableDef(TableName(), Memory(), def);
  } catch (...) {
    if (!connected) DataBase()->SetConnected(false);
    throw;
  }
  if (!connected) DataBase()->SetConnected(false);
  Fields.Assign(&def.InternalFields());
  Fields.SetDefaultOffsets();
  Fields.Open();
}

void TZelBaseTable::InternalClose() { CloseDataset(false); }

void TZelBaseTable::CloseDataset(bool KeepCursor) {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  plat::TRecordBuffer buffer = ActiveBuffer();
  if (CursorOpen() && !IsEmpty() && buffer != nullptr && GetRecordStatus(buffer) == rbEdit)
    InternalReleaseRecordLock(ix::LoadU32(buffer + RecordSize() + rbRecAddr));
  if (!KeepCursor)
    DataSetClose();
  else if (Locked())
    InternalReleaseLock();
  CursorOpenFlag_ = false;
  CanModifyFlag_ = false;
  plat::FreeRecordMem(FilterBuffer_);
  FilterBuffer_ = nullptr;
  SetDefaultFields(false);
}

void TZelBaseTable::InternalInitFieldDefs() {
  if (DataBase() == nullptr) return;
  const bool opened = !CursorOpen();
  const bool connected = DataBase()->Connected();
  if (opened) {
    if (!connected) DataBase()->SetConnected(true);
    try {
      InternalOpenForDefs();
    } catch (...) {
      if (!connected) DataBase()->SetConnected(false);
      throw;
    }
  }
  try {
    FieldDefs().Clear();
    for (int32_t i = 0; i < GetInternalFieldCount(); ++i)
      if (!GetInternalField(i)->Hidden()) GetFieldDef(i, *FieldDefs().AddFieldDef());
  } catch (...) {
    if (opened) {
      InternalCloseForDefs();
      if (!connected) DataBase()->SetConnected(false);
    }
    throw;
  }
  if (opened) {
    InternalCloseForDefs();
    if (!connected) DataBase()->SetConnected(false);
  }
}

// ---------------------------------------------------------------- creating and emptying

bool TZelBaseTable::CreateTable() {
  static const char* const Context = "TZelBaseTable.CreateTable";
  CheckInactive();
  if (DataBase() == nullptr) ZelDatabaseError(0x2780, Context, "", this);
  DataBase()->CheckConnected(Memory());
  if (!Memory() && DataBase()->InTransaction()) ZelDatabaseError(0x278A, Context, "", this);
  if (EncryptionLevel() != encNone && !DataBase()->UseEncryption())
    ZelDatabaseError(0x2A0E, Context, "This database does not use/support encryption", this);
  if (EncryptionLevel() != encNone && Memory()) ZelDatabaseError(0x2A80, Context, "", this);
  SetTableDef(Memory(), false, FieldDefs(), *IndexDefs_);
  InternalCreateTable();
  return true;
}

void TZelBaseTable::EmptyTable() {
  EmptyTableUnpositioned();
  First();
}

void TZelBaseTable::EmptyTableUnpositioned() {
  CheckBrowseMode();
  if (!Memory() && DataBase() != nullptr && DataBase()->InTransaction())
    ZelDatabaseError(0x278A, "TZelBaseTable.EmptyTable", "", this);
  DataSetEmptyTable();
  ClearBuffers();
}

// ---------------------------------------------------------------- the table component

TZelTable::TZelTable(plat::TComponent* AOwner)
    : TZelBaseTable(AOwner), MasterLink_(std::make_unique<plat::TMasterDataLink>(this)) {
  MasterLink_->OnMasterChange = [this](plat::TObject*) { MasterChanged(); };
  MasterLink_->OnMasterDisable = [this](plat::TObject*) { MasterDisabled(); };
}

TZelTable::~TZelTable() {
  // Closed before the master link goes, so that leaving the master source
  // does not touch a table half destroyed.
  Destroying();
  try {
    Close();
  } catch (...) {
    // Nothing may leave a destructor.
  }
  MasterLink_.reset();
}

std::string TZelTable::IndexName() const {
  return CurrentIndexName() == LogicalRecNoIndexName ? std::string() : CurrentIndexName();
}

void TZelTable::SetIndexName(const std::string& Value) {
  if (!Active()) {
    InternalSetIndexName(Value);
    return;
  }
  CheckBrowseMode();
  std::string name = Value;
  if (name.empty()) {
    // The table's primary order: its first index.
    name = IndexManager().Count() > 0 ? IndexManager().Items(0)->IndexName() : std::string();
  }
  // A new index drops the range; a detail takes its master's range again.
  InternalSetIndexName(name);
  if (MasterLink_->Active() && !MasterLink_->Fields().empty())
    SetDetailLinkRange(true);
  else
    First();
}

std::string TZelTable::IndexFieldNames() const {
  if (!Active()) return IndexFieldNames_;
  const plat::TIndexDef* def = nullptr;
  for (int32_t i = 0; i < IndexDefs_->Count(); ++i)
    if (IndexDefs_->Items(i)->Name() == CurrentIndexName()) def = IndexDefs_->Items(i);
  return def != nullptr ? def->Fields() : std::string();
}

void TZelTable::SetIndexFieldNames(const std::string& Value) {
  IndexFieldNames_ = Value;
  if (!Active()) {
    InternalSetIndexName("");
    return;
  }
  if (Value.empty()) return;
  const plat::TIndexDef* def = IndexDefs_->GetIndexForFields(Value, false);
  if (def == nullptr)
    ZelDatabaseErrorFmt(0x270D, "TZelTable.SetIndexFieldNames", SzelIndexFmt, {Value}, this);
  SetIndexName(def->Name());
}

void TZelTable::InternalOpen() {
  TZelBaseTable::InternalOpen();
  DropRestructureDefs();
  if (!IndexFieldNames_.empty()) {
    const plat::TIndexDef* def = IndexDefs_->GetIndexForFields(IndexFieldNames_, false);
    if (def == nullptr)
      ZelDatabaseErrorFmt(0x270D, "TZelTable.InternalOpen", SzelIndexFmt, {IndexFieldNames_}, this);
    InternalSetIndexName(def->Name());
  }
}

// ---------------------------------------------------------------- master/detail

void TZelTable::SetMasterSource(plat::TDataSource* Value) {
  if (Value != nullptr && IsLinkedTo(Value)) plat::DatabaseError(plat::SCircularDataLink, this);
  MasterLink_->SetDataSource(Value);
}

void TZelTable::MasterChanged() {
  CheckBrowseMode();
  SetDetailLinkRange(true);
}

void TZelTable::MasterDisabled() {
  CancelRange();
}

void TZelTable::InternalCheckMasterRange() {
  if (MasterLink_->Active() && !MasterLink_->Fields().empty()) SetDetailLinkRange(false);
}

void TZelTable::CheckMasterRange() {
  if (MasterLink_->Active() && !MasterLink_->Fields().empty()) SetDetailLinkRange(true);
}

void TZelTable::Loaded() {
  TZelBaseTable::Loaded();
  if (!Active()) return;
  if (MasterSource() != nullptr && MasterSource()->DataSet() != nullptr && !MasterFields().empty())
    CheckMasterRange();
  if (IndexName().empty() && !IndexFieldNames_.empty()) SetIndexFieldNames(IndexFieldNames_);
}

void TZelTable::SetDetailLinkRange(bool Move) {
  if (Move) CheckBrowseMode();
  const std::vector<plat::TField*>& masters = MasterLink_->Fields();
  // Link fields beyond the index's fields cannot narrow the range; a new
  // record refuses them (DoOnNewRecord).
  const size_t n = std::min(masters.size(), static_cast<size_t>(IndexFieldCount()));
  WithKeyState(kmRange, [&] {
    DataSetClearRange();
    for (TRangeMode mode : {rmRangeStart, rmRangeEnd}) {
      RangeMode_ = mode;
      for (size_t i = 0; i < n; ++i)
        GetIndexField(static_cast<int32_t>(i))->AssignValue(masters[i]->AsVariant());
    }
    SetRangeOn(true);
  });
  if (Move) First();
}

void TZelTable::DoOnNewRecord() {
  if (MasterLink_->Active()) {
    const std::vector<plat::TField*>& masters = MasterLink_->Fields();
    const int32_t count = IndexFieldCount();
    for (size_t i = 0; i < masters.size(); ++i) {
      if (static_cast<int32_t>(i) >= count)
        plat::DatabaseError("Master-detail error" + masters[i]->FieldName() +
                                " is not a valid index field for this index",
                            this);
      GetIndexField(static_cast<int32_t>(i))->AssignValue(masters[i]->AsVariant());
    }
  }
  TZelBaseTable::DoOnNewRecord();
}

}  // namespace zel
