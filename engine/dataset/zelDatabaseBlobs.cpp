// Blob fields as streams: the blob stream a table hands out for a field,
// writing a blob field's pending value, the blob cache and the compression
// handlers.
#include <cstring>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "platform/db/DBConsts.h"
#include "platform/db/Fields.h"

namespace zel {

namespace {

// What the blob cache of one cursor may hold.
constexpr int64_t BlobCacheMaxBytes = 8 << 20;
constexpr int32_t BlobCacheMaxItems = 64;

}  // namespace

// The whole value of one blob field of the active record, in memory. A read
// stream is filled from the record buffer (a blob read while browsing comes
// from the blob cache when it is there); a write stream starts empty, a
// read-write stream with the current value. What was written goes back into
// the record buffer as the field's pending value when the stream is freed;
// the record keeps it until it is posted.
//
// Everything that can refuse a write (read-only field, not editing, missing
// right) is checked when the stream is made: a destructor cannot report.
class TBlobStream : public plat::TMemoryStream {
 public:
  TBlobStream(plat::TField* Field, plat::TBlobStreamMode Mode);
  ~TBlobStream() override;
  TBlobStream(const TBlobStream&) = delete;
  TBlobStream& operator=(const TBlobStream&) = delete;

  std::string ClassName() const override { return "TBlobStream"; }

  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Mode_ != plat::bmRead) Written_ = true;
    return plat::TMemoryStream::Write(Buffer, Count);
  }
  void SetSize(int64_t Size) override {
    if (Mode_ != plat::bmRead) Written_ = true;
    plat::TMemoryStream::SetSize(Size);
  }

 private:
  plat::TField* Field_;
  TZelBaseTable* Table_ = nullptr;
  int32_t FieldNo_ = -1;
  plat::TBlobStreamMode Mode_;
  plat::TRecordBuffer RecBuf_ = nullptr;
  bool Written_ = false;
  bool Cached_ = false;
  bool Opened_ = false;
};

TBlobStream::TBlobStream(plat::TField* Field, plat::TBlobStreamMode Mode)
    : Field_(Field), Mode_(Mode) {
  static const char* const Context = "TBlobStream.Create";
  Table_ = dynamic_cast<TZelBaseTable*>(Field->DataSet());
  PLAT_ASSERT(Table_ != nullptr, "Mismatch in calling dataset type");
  FieldNo_ = Field->FieldNo() - 1;
  if (FieldNo_ < 0 || !Table_->IsFieldBlob(FieldNo_))
    ZelDatabaseError(0x2185, Context, "Unable to use this method to access non-blob fields",
                     Table_);
  RecBuf_ = Table_->GetActiveRecBuf();
  TBlob* slot = Table_->BlobSlot(FieldNo_, false);
  const bool modified = slot != nullptr && slot->State() == bsModified;
  if (Mode != plat::bmRead) {
    if (!modified && Field->ReadOnly())
      plat::DatabaseErrorFmt(plat::SFieldReadOnly, {Field->DisplayName()}, Table_);
    const plat::TDataSetState state = Table_->State();
    if (state != plat::dsEdit && state != plat::dsInsert)
      plat::DatabaseError(plat::SNotEditing, Table_);
    if (RecBuf_ != nullptr) Table_->CheckBlobWriteRight(RecBuf_, FieldNo_);
  }
  if (RecBuf_ != nullptr && Mode != plat::bmWrite) {
    const bool editing = Table_->State() == plat::dsEdit || Table_->State() == plat::dsInsert;
    if (editing && modified) {
      if (slot->Stream().Size() > 0) CopyFrom(slot->Stream(), 0);
    } else if (Mode == plat::bmRead && Table_->UseBlobCache() &&
               Table_->State() == plat::dsBrowse) {
      // The lock rereads the table header, which drops the cache when
      // another cursor or process changed the table since it was filled.
      TZelBaseTable::TCursorLock lock(*Table_, false);
      Cached_ = Table_->GetBlobCacheData(RecBuf_, FieldNo_, *this);
      if (!Cached_) {
        bool isNull = true;
        Table_->DataSetGetFieldStreamFromRecBuf(RecBuf_, FieldNo_, *this, isNull);
        Table_->SetBlobCacheData(RecBuf_, FieldNo_, *this);
        Cached_ = true;
      }
    } else {
      bool isNull = true;
      Table_->DataSetGetFieldStreamFromRecBuf(RecBuf_, FieldNo_, *this, isNull);
    }
  }
  SetPosition(0);
  Opened_ = true;
}

TBlobStream::~TBlobStream() {
  if (!Opened_ || !Written_ || RecBuf_ == nullptr) return;
  try {
    SetPosition(0);
    Table_->DataSetSetFieldStreamFromRecBuf(RecBuf_, FieldNo_, Size() == 0, *this);
    // The buffer shows a value while one is pending; the stored chain, if
    // any, stays named in it until the post replaces it.
    const TInternalFieldItem* f = Table_->GetInternalField(FieldNo_);
    RecBuf_[f->NullFlagOffset()] = Size() != 0 || ix::LoadU32(RecBuf_ + f->DataOffset()) != 0;
    Table_->DataEvent(plat::deFieldChange, reinterpret_cast<plat::TDataEventInfo>(Field_));
  } catch (...) {
    // Nothing may leave a destructor; every refusal was raised when the
    // stream was made, so only a failure to copy the bytes can end here.
  }
}

std::unique_ptr<plat::TStream> TZelBaseTable::CreateBlobStream(plat::TField* Field,
                                                               plat::TBlobStreamMode Mode) {
  if (dynamic_cast<plat::TBlobField*>(Field) == nullptr)
    ZelDatabaseError(0x2710, "TZelBaseTable.CreateBlobStream", Field->FieldName(), this);
  return std::make_unique<TBlobStream>(Field, Mode);
}

// ---------------------------------------------------------------- the cursor's side

void TZelDataSet::CheckBlobWriteRight(const uint8_t* RecBuf, int32_t FieldNo) const {
  // A new record needs the right to insert, a stored one the right to
  // update; a bare cursor tells them apart by the record's address.
  bool inserting = State() == plat::dsInsert;
  if (State() != plat::dsInsert && State() != plat::dsEdit)
    inserting = RecBuf == nullptr || BufferRecAddr(RecBuf, RecordSize_) == 0;
  CheckPrivilegePresent(GetInternalField(FieldNo)->PrivilegeFlags(),
                        inserting ? opInsertDataBit : opUpdateDataBit);
}

void TZelDataSet::DataSetSetFieldStreamFromRecBuf(const uint8_t* RecBuf, int32_t FieldNo,
                                                  bool IsNull, plat::TStream& Stream) {
  static const char* const Context = "TZelDataSet.DataSetSetFieldStream";
  CheckBlobWriteRight(RecBuf, FieldNo);
  if (!IsFieldBlob(FieldNo)) ZelDatabaseError(0x2A01, Context, "Field is not a blob", this);
  TBlob* slot = BlobSlot(FieldNo, true);
  slot->Stream().Clear();
  if (!IsNull && Stream.Size() > 0) slot->Stream().CopyFrom(Stream, 0);
  slot->SetState(bsModified);
}

void TZelDataSet::DataSetGetFieldStream(int32_t FieldNo, plat::TStream& Stream) {
  bool isNull = true;
  TBlob* slot = BlobSlot(FieldNo, false);
  if (slot != nullptr && slot->State() == bsModified) {
    if (slot->Stream().Size() > 0) Stream.CopyFrom(slot->Stream(), 0);
    return;
  }
  DataSetGetFieldStreamFromRecBuf(RecBuf_.data(), FieldNo, Stream, isNull);
}

void TZelDataSet::SetUseBlobCache(bool Value) {
  UseBlobCache_ = Value;
  if (!Value) ClearBlobCache();
}

void TZelDataSet::ClearBlobCache() {
  BlobCache_->Clear();
}

bool TZelDataSet::GetBlobCacheData(const uint8_t* Buffer, int32_t FieldNo, plat::TStream& Stream) {
  if (!UseBlobCache_ || State() != plat::dsBrowse || Buffer == nullptr) return false;
  const uint32_t addr = BufferRecAddr(Buffer, RecordSize_);
  if (addr == 0) return false;
  TBlob* blob = BlobCache_->FindBlob(addr, FieldNo);
  if (blob == nullptr) return false;
  if (blob->Stream().Size() > 0) Stream.CopyFrom(blob->Stream(), 0);
  return true;
}

void TZelDataSet::SetBlobCacheData(const uint8_t* Buffer, int32_t FieldNo, plat::TStream& Stream) {
  if (!UseBlobCache_ || State() != plat::dsBrowse || Buffer == nullptr) return;
  const uint32_t addr = BufferRecAddr(Buffer, RecordSize_);
  if (addr == 0) return;
  if (TBlob* old = BlobCache_->FindBlob(addr, FieldNo)) BlobCache_->Delete(old->Index());
  if (Stream.Size() > BlobCacheMaxBytes) return;
  // Browsing a table of large blobs must not keep them all: the oldest
  // copies go first.
  int64_t bytes = Stream.Size();
  for (int32_t i = 0; i < BlobCache_->Count(); ++i) bytes += BlobCache_->Items(i)->Stream().Size();
  while (BlobCache_->Count() > 0 &&
         (BlobCache_->Count() >= BlobCacheMaxItems || bytes > BlobCacheMaxBytes)) {
    bytes -= BlobCache_->Items(0)->Stream().Size();
    BlobCache_->Delete(0);
  }
  TBlob* blob = BlobCache_->Add();
  blob->SetRecID(addr);
  blob->SetFieldNo(FieldNo);
  if (Stream.Size() > 0) blob->Stream().CopyFrom(Stream, 0);
  blob->SetState(bsValid);
}

void TZelDataSet::SetOnCompressBlob(TBlobInterface::TCompressBlobEvent Value) {
  OnCompressBlob = std::move(Value);
  BlobInterface_->SetOnCompressBlob(OnCompressBlob);
}

void TZelDataSet::SetOnDecompressBlob(TBlobInterface::TDecompressBlobEvent Value) {
  OnDecompressBlob = std::move(Value);
  BlobInterface_->SetOnDecompressBlob(OnDecompressBlob);
}

}  // namespace zel
