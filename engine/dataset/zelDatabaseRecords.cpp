// The table cursor: adding, updating and deleting records, their blobs, and
// emptying a table.
#include <cstring>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"

namespace zel {

namespace {

// The stored bytes of the key an index item built last (its search key).
std::vector<uint8_t> KeyBytes(TIndexItem& Item, const uint8_t* RecBuf) {
  Item.CreateTempKeyBuffer(RecBuf);
  const uint8_t* key = Item.GetTempKeyBuffer();
  const size_t length = ix::LoadU16(key + keLength);
  return std::vector<uint8_t>(key, key + std::max<size_t>(length, KeyHeaderSize));
}

bool SameKey(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
  // The address field is not part of what a key says.
  if (A.size() != B.size()) return false;
  return std::memcmp(A.data() + keBitmap, B.data() + keBitmap, A.size() - keBitmap) == 0;
}

// Whether every byte a key of Format is built from is the same in both
// records (then so are the keys; otherwise they may still be).
bool SameKeySource(const TKeyFormat& Format, const uint8_t* A, const uint8_t* B) {
  for (int32_t i = 0; i < Format.FieldCount(); ++i) {
    const TKeyFormat::TField& f = Format.Field(i);
    if (f.NullFlagOffset >= 0) {
      if ((A[f.NullFlagOffset] == 1) != (B[f.NullFlagOffset] == 1)) return false;
      if (A[f.NullFlagOffset] != 1) continue;
    }
    size_t length = static_cast<size_t>(f.CoreSize);
    if (f.Kind == kvString || f.Kind == kvWideString) {
      length = static_cast<size_t>(f.FieldSize);
      if (f.SizeMarkerOffset > 0 &&
          std::memcmp(A + f.SizeMarkerOffset, B + f.SizeMarkerOffset, 2) != 0)
        return false;
    }
    if (std::memcmp(A + f.RecBufOffset, B + f.RecBufOffset, length) != 0) return false;
  }
  return true;
}

// The record buffer as a write found it, to put back when the write fails:
// only storing blobs changes it meanwhile.
std::vector<uint8_t> BufferToRestore(const std::vector<uint8_t>& RecBuf, bool UsesBlobs) {
  return UsesBlobs ? RecBuf : std::vector<uint8_t>();
}

}  // namespace

void TZelDataSet::CheckPrivilegePresent(int32_t Flags, int32_t Privilege) const {
  if ((Flags & Privilege) == 0)
    ZelDatabaseError(0x2980, "TZelDataSet.CheckPrivilegePresent", TableName_, this);
}

bool TZelDataSet::CheckRecordFlags(const uint8_t* Stored, const uint8_t* Expected,
                                   bool CheckStamp) const {
  if (Stored[rpInUse] != 1 || Expected[rpInUse] != 1) return false;
  const auto same = [&](int32_t Offset) {
    return ix::LoadU32(Stored + Offset) == ix::LoadU32(Expected + Offset);
  };
  return same(rpOwnerCode) && same(rpLogicalRecordNo) && (!CheckStamp || same(rpModificationStamp));
}

void TZelDataSet::InitializeNewRecord(uint8_t* Buffer, bool KeyFlags) {
  std::memset(Buffer, 0, static_cast<size_t>(RecordBufferSize()));
  if (!KeyFlags) return;
  TIndexItem* index = CurrentIndex();
  for (int32_t i = 0; i < index->KeyFields().Count(); ++i) {
    const int32_t offset = index->KeyFields().Items(i)->NullFlagOffset();
    if (offset >= 0) Buffer[offset] = 2;
  }
  ix::StoreU32(Buffer + RecordSize_ + 8, 2);
}

void TZelDataSet::ClearRecord(uint8_t* Buffer) {
  if (Buffer == nullptr || Buffer == RecBuf_.data()) {
    std::memset(RecBuf_.data(), 0, RecBuf_.size());
    ClearBlobSlots();
    return;
  }
  std::memset(Buffer, 0, static_cast<size_t>(RecordBufferSize()));
}

void TZelDataSet::ReadRecordBuffer(uint32_t RecAddr, uint8_t* Buffer) {
  TCursorLock lock(*this, false);
  RecordMgr_->ReadRecord(RecAddr, Buffer != nullptr ? Buffer : RecBuf_.data(), false);
}

bool TZelDataSet::SetToRecord(uint32_t RecAddr, const uint8_t* Buffer, bool Position,
                              bool CheckFlags) {
  static const char* const Context = "TZelDataSet.SetToRecord";
  CheckInternalActive();
  if (RecAddr == 0) ZelDatabaseError(0x2185, Context, "Invalid address of 0 for SetToRecord", this);
  TCursorLock lock(*this, false);
  RefreshFilterIfStale();
  RecordMgr_->ReadRecord(RecAddr, OldRecBuf_.data(), false);
  const uint32_t owner = TableDef_->RecordInterface()->OwnerFlag();
  const bool valid =
      OldRecBuf_[rpInUse] == 1 && ix::LoadU32(OldRecBuf_.data() + rpOwnerCode) == owner;
  if (!valid) return false;
  if (CheckFlags && Buffer != nullptr && !CheckRecordFlags(OldRecBuf_.data(), Buffer, false))
    ZelDatabaseError(0x2204, Context, "", this);
  std::memcpy(RecBuf_.data(), OldRecBuf_.data(), static_cast<size_t>(RecordSize_));
  SetRecordTrailer(RecBuf_.data(), RecAddr, 0);
  CurrentRecordFlag_ = true;
  if (!Position) return true;
  TIndexItem* index = CurrentIndex();
  index->CreateKeyBuffer(RecBuf_.data());
  if (index->FullIndexSearch(stEQ) != 0 || index->GetRecordAddress() != RecAddr)
    ZelDatabaseError(0x2204, Context, "", this);
  SetRecordTrailer(RecBuf_.data(), RecAddr, index->GetRecordNo());
  if (!FilterActive()) return true;
  if (!FilterMgr_->CheckRecordInFilter(RecAddr)) return false;
  SetRecordTrailer(RecBuf_.data(), RecAddr, FilterMgr_->GetRecNo(RecAddr));
  return true;
}

// ---------------------------------------------------------------- blobs

TBlob* TZelDataSet::BlobSlot(int32_t FieldNo, bool Create) {
  TBlobMgr& blobs = RecordMgr_->BlobMgr();
  TBlob* slot = blobs.FindBlob(0, FieldNo);
  if (slot == nullptr && Create) {
    slot = blobs.Add();
    slot->SetFieldNo(FieldNo);
    slot->SetState(bsNone);
  }
  return slot;
}

void TZelDataSet::ClearBlobSlots() {
  TBlobMgr& blobs = RecordMgr_->BlobMgr();
  for (int32_t i = 0; i < blobs.Count(); ++i) {
    blobs.Items(i)->Stream().Clear();
    blobs.Items(i)->SetState(bsNone);
  }
}

void TZelDataSet::DataSetSetFieldStream(int32_t FieldNo, bool IsNull, plat::TStream& Stream) {
  DataSetSetFieldStreamFromRecBuf(RecBuf_.data(), FieldNo, IsNull, Stream);
}

void TZelDataSet::DataSetGetFieldStreamFromRecBuf(const uint8_t* RecBuf, int32_t FieldNo,
                                                  plat::TStream& Stream, bool& IsNull) {
  const TInternalFieldItem* f = GetInternalField(FieldNo);
  if (!IsBlobFieldType(f->DataType()))
    ZelDatabaseError(0x2185, "TZelDataSet.DataSetGetFieldStream",
                     "Unable to use this method to access non-blob fields", this);
  const uint8_t* p = RecBuf + f->DataOffset();
  const uint32_t addr = ix::LoadU32(p);
  IsNull = RecBuf[f->NullFlagOffset()] == 0 || addr == 0;
  if (IsNull) return;
  const int32_t size = static_cast<int32_t>(ix::LoadU32(p + 4));
  const bool wide = f->FieldSize() >= 16;
  const auto mode = wide ? static_cast<TDataCompressionMode>(p[8]) : dcNone;
  const int32_t value = wide ? static_cast<int32_t>(ix::LoadU32(p + 12)) : size;
  TCursorLock lock(*this, false);
  BlobInterface_->ReadBlob(f->FieldName(), addr, value, mode, Stream);
}

void TZelDataSet::WriteBlobsToInterface(bool Deleting,
                                        std::vector<std::pair<uint32_t, int32_t>>* Written,
                                        std::vector<std::pair<uint32_t, int32_t>>* Replaced) {
  TInternalFields& fields = RecordMgr_->InternalFields();
  if (!fields.UsesBlobs()) return;
  for (int32_t i = 0; i < fields.Count(); ++i) {
    const TInternalFieldItem* f = fields.GetIndex(i);
    if (!IsBlobFieldType(f->DataType())) continue;
    uint8_t* p = RecBuf_.data() + f->DataOffset();
    uint32_t addr = RecBuf_[f->NullFlagOffset()] != 0 ? ix::LoadU32(p) : 0;
    int32_t size = addr != 0 ? static_cast<int32_t>(ix::LoadU32(p + 4)) : 0;
    if (Deleting) {
      if (addr != 0) BlobInterface_->DeleteBlob(addr, size);
      continue;
    }
    TBlob* slot = BlobSlot(i, false);
    if (slot == nullptr || slot->State() != bsModified) continue;
    // A new value goes into a new chain; the old chain is given back only
    // once the record no longer needs it (by the caller, after the change
    // succeeded), so a failure part-way leaves the stored record whole.
    if (addr != 0 && Replaced != nullptr) Replaced->emplace_back(addr, size);
    plat::TMemoryStream& stream = slot->Stream();
    stream.SetPosition(0);
    TDataCompressionMode mode = dcNone;
    int32_t value = 0;
    addr = 0;
    size = 0;
    if (stream.Size() > 0) {
      addr = BlobInterface_->InsertBlob(f->FieldName(), stream, mode, value);
      size = static_cast<int32_t>(stream.Size());
      if (Written != nullptr) Written->emplace_back(addr, size);
    }
    ix::StoreU32(p, addr);
    ix::StoreU32(p + 4, static_cast<uint32_t>(size));
    if (f->FieldSize() >= 16) {
      ix::StoreU32(p + 8, addr != 0 ? mode : 0);
      ix::StoreU32(p + 12, addr != 0 ? static_cast<uint32_t>(value) : 0);
    }
    RecBuf_[f->NullFlagOffset()] = size != 0 ? 1 : 0;
  }
}

// ---------------------------------------------------------------- adding

void TZelDataSet::StandOnWrittenRecord(uint32_t RecAddr, int32_t RecNo) {
  // The record buffer holds what was just written: the cursor stands on it
  // without a search of the tree or a read of the record. A number of 0
  // means not known; whoever shows numbers positions the cursor first.
  ClearBlobSlots();
  ClearBlobCache();
  RecordMgr_->BlobMgr().InvalidateStreams();
  SetRecordTrailer(RecBuf_.data(), RecAddr, RecNo);
  CurrentRecordFlag_ = true;
}

void TZelDataSet::AddRecord(bool AutoInc) {
  static const char* const Context = "TZelDataSet.AddRecord";
  CheckInternalActive();
  CheckPrivilegePresent(TableDef_->PrivilegeFlags(), opInsertDataBit);
  TCursorLock lock(*this, true);
  TTableHeader& header = *TableDef_->TableHeader();
  uint8_t* rec = RecBuf_.data();

  const int32_t autoIncNo = RecordMgr_->InternalFields().AutoIncFieldNo();
  int32_t counter = header.GetRecordAutoIncVal();
  if (autoIncNo >= 0) {
    const TInternalFieldItem* f = RecordMgr_->InternalFields().GetIndex(autoIncNo);
    const int32_t next = header.GetRecordAutoIncVal() + 1;
    if (AutoInc) {
      rec[f->NullFlagOffset()] = 1;
      ix::StoreU32(rec + f->DataOffset(), static_cast<uint32_t>(next));
      counter = next;
    } else if (rec[f->NullFlagOffset()] == 1) {
      const int32_t given = static_cast<int32_t>(ix::LoadU32(rec + f->DataOffset()));
      if (given >= next) counter = given;
    }
  }
  const int32_t logicalNo = header.GetLogicalRecordNo() + 1;
  TRecordMgr::StampNewRecord(rec, TableDef_->RecordInterface()->OwnerFlag(), logicalNo);

  for (int32_t i = 0; i < IndexMgr_->Count(); ++i) {
    TIndexItem* index = IndexMgr_->Items(i);
    index->CreateKeyBuffer(rec);
    if (index->FullIndexSearch(stEQ) == 0)
      ZelDatabaseErrorFmt(0x2601, Context, SzelIndexFmt, {index->IndexName()}, this);
  }

  // From here on the record is being written: a failure takes back what was
  // written so far, so no record stays without its keys.
  const std::vector<uint8_t> before = BufferToRestore(RecBuf_, RecordMgr_->InternalFields().UsesBlobs());
  std::vector<std::pair<uint32_t, int32_t>> newBlobs;
  uint32_t addr = 0;
  int32_t inserted = 0;
  try {
    WriteBlobsToInterface(false, &newBlobs, nullptr);
    addr = RecordMgr_->AddRecord(rec);
    // Each tree still holds the key of the search above and, unless
    // something moved it since, the place where the key goes.
    for (; inserted < IndexMgr_->Count(); ++inserted) {
      TIndexItem* index = IndexMgr_->Items(inserted);
      if (index->InsertKey(addr) != 0)
        ZelDatabaseErrorFmt(0x2185, Context, "Failed to add key to Index %s", {index->IndexName()},
                            this);
    }
  } catch (...) {
    try {
      for (int32_t i = 0; i < inserted; ++i) {
        TIndexItem* index = IndexMgr_->Items(i);
        index->CreateKeyBuffer(rec);
        if (index->FullIndexSearch(stEQ) == 0) index->DeleteKey();
      }
      if (addr != 0) RecordMgr_->DeleteRecord(addr);
      for (const auto& [blob, size] : newBlobs) BlobInterface_->DeleteBlob(blob, size);
    } catch (...) {
      // The first failure is the one to report.
    }
    if (!before.empty()) RecBuf_ = before;
    throw;
  }
  if (autoIncNo >= 0) header.SetRecordAutoIncVal(counter);
  header.SetLogicalRecordNo(logicalNo);
  header.SetDirty(true);
  StandOnWrittenRecord(addr, 0);
  InternalCheckFilterStatus(!lock.Taken(), plat::usInserted);
}

// ---------------------------------------------------------------- updating

void TZelDataSet::UpdateRecord(bool StoredRead) {
  static const char* const Context = "TZelDataSet.UpdateRecord";
  CheckInternalActive();
  CheckPrivilegePresent(TableDef_->PrivilegeFlags(), opUpdateDataBit);
  if (!CurrentRecordFlag_) ZelDatabaseError(0x2206, Context, "", this);
  TCursorLock lock(*this, true);
  uint8_t* rec = RecBuf_.data();
  const uint32_t addr = BufferRecAddr(rec, RecordSize_);
  if (addr == 0) ZelDatabaseError(0x2204, Context, "", this);
  uint8_t* old = OldRecBuf_.data();
  if (!StoredRead || lock.Taken()) RecordMgr_->ReadRecord(addr, old, false);
  if (!CheckRecordFlags(old, rec, true)) ZelDatabaseError(0x2204, Context, "", this);

  struct TChange {
    TIndexItem* Index;
    std::vector<uint8_t> OldKey, NewKey;
  };
  std::vector<TChange> changes;
  bool currentKeyMoved = false;
  for (int32_t i = 0; i < IndexMgr_->Count(); ++i) {
    TIndexItem* index = IndexMgr_->Items(i);
    if (SameKeySource(index->BTree().Format(), old, rec)) continue;
    TChange change{index, KeyBytes(*index, old), KeyBytes(*index, rec)};
    // A key that stays is this record's own: only a new one can collide.
    if (SameKey(change.OldKey, change.NewKey)) continue;
    index->CreateKeyBuffer(rec);
    if (index->FullIndexSearch(stEQ) == 0 && index->GetRecordAddress() != addr)
      ZelDatabaseErrorFmt(0x2601, Context, SzelIndexFmt, {index->IndexName()}, this);
    currentKeyMoved = currentKeyMoved || index == CurrentIndex();
    changes.push_back(std::move(change));
  }
  // No index is touched before every changed index's old key was found.
  for (TChange& change : changes) {
    change.Index->CopyKeyBuffer(change.OldKey.data());
    if (change.Index->FullIndexSearch(stEQ) != 0)
      ZelDatabaseErrorFmt(0x2185, Context, "Key not found in Index - %s",
                          {change.Index->IndexName()}, this);
  }

  ix::StoreU32(rec + rpModificationStamp, ix::LoadU32(old + rpModificationStamp) + 1);
  const std::vector<uint8_t> before = BufferToRestore(RecBuf_, RecordMgr_->InternalFields().UsesBlobs());
  std::vector<std::pair<uint32_t, int32_t>> newBlobs, oldBlobs;
  size_t deleted = 0, inserted = 0;
  bool written = false;
  try {
    WriteBlobsToInterface(false, &newBlobs, &oldBlobs);
    RecordMgr_->UpdateRecord(addr, rec);
    written = true;
    for (; deleted < changes.size(); ++deleted) {
      TIndexItem* index = changes[deleted].Index;
      index->CopyKeyBuffer(changes[deleted].OldKey.data());
      if (index->FullIndexSearch(stEQ) != 0 || index->DeleteKey() != 0)
        ZelDatabaseErrorFmt(0x2185, Context, "Failed to delete key from Index %s",
                            {index->IndexName()}, this);
    }
    for (; inserted < changes.size(); ++inserted) {
      TIndexItem* index = changes[inserted].Index;
      index->CopyKeyBuffer(changes[inserted].NewKey.data());
      if (index->FullIndexSearch(stEQ) == 0)
        ZelDatabaseErrorFmt(0x2185, Context, "Unexpected key violation on update- Index %s",
                            {index->IndexName()}, this);
      if (index->InsertKey(addr) != 0)
        ZelDatabaseErrorFmt(0x2185, Context, "Failed to add key to index - Index %s",
                            {index->IndexName()}, this);
    }
  } catch (...) {
    try {
      for (size_t i = 0; i < inserted; ++i) {
        changes[i].Index->CopyKeyBuffer(changes[i].NewKey.data());
        if (changes[i].Index->FullIndexSearch(stEQ) == 0) changes[i].Index->DeleteKey();
      }
      for (size_t i = 0; i < deleted; ++i) {
        changes[i].Index->CopyKeyBuffer(changes[i].OldKey.data());
        changes[i].Index->FullIndexSearch(stGE);
        changes[i].Index->InsertKey(addr);
      }
      if (written) RecordMgr_->UpdateRecord(addr, old);
      for (const auto& [blob, size] : newBlobs) BlobInterface_->DeleteBlob(blob, size);
    } catch (...) {
      // The first failure is the one to report.
    }
    if (!before.empty()) RecBuf_ = before;
    throw;
  }
  for (const auto& [blob, size] : oldBlobs) BlobInterface_->DeleteBlob(blob, size);
  TableDef_->TableHeader()->SetDirty(true);
  // Where the record stands in the current index changes only with its key.
  const int32_t recNo =
      currentKeyMoved ? 0 : static_cast<int32_t>(ix::LoadU32(rec + RecordSize_ + rbRecNo));
  StandOnWrittenRecord(addr, recNo);
  InternalCheckFilterStatus(!lock.Taken(), plat::usModified);
}

// ---------------------------------------------------------------- deleting

void TZelDataSet::DeleteRecord(const uint8_t* Buffer, bool Reposition) {
  static const char* const Context = "TZelDataSet.DeleteRecord";
  CheckInternalActive();
  CheckPrivilegePresent(TableDef_->PrivilegeFlags(), opDeleteDataBit);
  TCursorLock lock(*this, true);
  uint8_t* rec = RecBuf_.data();
  const uint32_t addr = BufferRecAddr(rec, RecordSize_);
  if (addr == 0) ZelDatabaseError(0x2204, Context, "", this);
  RecordMgr_->ReadRecord(addr, OldRecBuf_.data(), false);
  std::memcpy(rec, OldRecBuf_.data(), static_cast<size_t>(RecordSize_));
  if (Buffer != nullptr && !CheckRecordFlags(OldRecBuf_.data(), Buffer, false)) return;
  if (rec[rpInUse] != 1) ZelDatabaseError(0x2204, Context, "", this);

  for (int32_t i = 0; i < IndexMgr_->Count(); ++i) {
    TIndexItem* index = IndexMgr_->Items(i);
    index->CreateKeyBuffer(rec);
    if (index->FullIndexSearch(stEQ) != 0 || index->GetRecordAddress() != addr)
      ZelDatabaseErrorFmt(0x2204, Context, SzelIndexFmt, {index->IndexName()}, this);
  }
  // The keys go first: a record whose keys are gone is not reachable, while
  // a key without its record would be.
  for (int32_t i = 0; i < IndexMgr_->Count(); ++i) {
    TIndexItem* index = IndexMgr_->Items(i);
    // Each tree still stands on the key the check above found, unless
    // something moved it since.
    bool found = index->GetRecordAddress() == addr;
    if (!found) {
      index->CreateKeyBuffer(rec);
      found = index->FullIndexSearch(stEQ) == 0;
    }
    if (!found || index->DeleteKey() != 0)
      ZelDatabaseErrorFmt(0x2185, Context, "Failed to delete key from Index %s",
                          {index->IndexName()}, this);
  }
  RecordMgr_->DeleteRecord(addr);
  WriteBlobsToInterface(true, nullptr, nullptr);
  TableDef_->TableHeader()->SetDirty(true);
  CurrentRecordFlag_ = false;
  ClearBlobSlots();
  ClearBlobCache();
  if (Reposition) {
    // Stand on the record after the deleted one, else on the one before.
    TIndexItem* index = CurrentIndex();
    index->CreateKeyBuffer(rec);
    if (index->FullIndexSearch(stGE) == 0 || index->FullIndexSearch(stLE) == 0) LoadFromIndex();
  }
  InternalCheckFilterStatus(!lock.Taken(), plat::usDeleted);
}

// ---------------------------------------------------------------- emptying

void TZelDataSet::DataSetEmptyTable() {
  CheckInternalActive();
  CheckPrivilegePresent(TableDef_->PrivilegeFlags(), opDeleteDataBit);
  TCursorLock lock(*this, true);
  TTableDef& def = *TableDef_;
  def.RecordInterface()->Empty(true);
  def.RecordInterface()->SetFirstEmpty(0);
  if (def.UsesBlobs() && def.BlobInterface() != nullptr) {
    def.BlobInterface()->Empty(true);
    def.BlobInterface()->SetFirstEmpty(0);
  }
  for (int32_t i = 0; i < IndexMgr_->Count(); ++i) IndexMgr_->Items(i)->EmptyIndex();
  TTableHeader& header = *def.TableHeader();
  header.SetLogicalRecordNo(0);
  header.SetDirty(true);
  ClearRecord(nullptr);
  CurrentRecordFlag_ = false;
  InternalCheckFilterStatus(!lock.Taken(), plat::usDeleted);
}

}  // namespace zel
