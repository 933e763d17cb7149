#include <cstring>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataRecords.h"
#include "engine/storage/zelIndexKeys.h"

namespace zel {

// ---------------------------------------------------------------- TBlob, TBlobMgr

TBlob::TBlob(plat::TCollection* Collection)
    : plat::TCollectionItem(Collection), Stream_(std::make_unique<plat::TMemoryStream>()) {}

TBlobMgr::TBlobMgr() : plat::TCollection(plat::CollectionItemClass<TBlob>()) {}

TBlob* TBlobMgr::FindBlob(uint32_t RecID, int32_t FieldNo) const {
  for (int32_t i = 0; i < Count(); ++i) {
    TBlob* blob = Items(i);
    if (blob->FieldNo() == FieldNo && (RecID == 0 || blob->RecID() == RecID)) return blob;
  }
  return nullptr;
}

TBlobState TBlobMgr::CheckBlobStates() const {
  if (Count() == 0) return bsNone;
  bool modified = false;
  for (int32_t i = 0; i < Count(); ++i) {
    const TBlobState state = Items(i)->State();
    if (state == bsInvalid) return bsInvalid;
    if (state == bsModified) modified = true;
  }
  return modified ? bsModified : bsValid;
}

void TBlobMgr::InvalidateStreams() {
  for (int32_t i = 0; i < Count(); ++i) Items(i)->SetState(bsInvalid);
}

// ---------------------------------------------------------------- TRecordMgr

TRecordMgr::TRecordMgr()
    : BlobMgr_(std::make_unique<TBlobMgr>()),
      InternalFields_(std::make_unique<TInternalFields>()) {}

TRecordMgr::~TRecordMgr() = default;

void TRecordMgr::SetRecordSize(int32_t Size) {
  PLAT_ASSERT(Buffer_ == nullptr, "Setting record size when buffers set");
  RecordSize_ = Size;
}

void TRecordMgr::CheckOpen(const char* Context) const {
  if (Buffer_ == nullptr || IOInterface_ == nullptr) [[unlikely]]
    ZelNotOpenError(Context, this);
}

void TRecordMgr::Open(TBaseIOInterface* IOInterface) {
  if (RecordSize_ <= 0) ZelDatabaseError(0x2180, "TRecordMgr.Open", "", this);
  Buffer_.reset();
  Buffer_ = std::make_unique<uint8_t[]>(static_cast<size_t>(RecordSize_));
  IOInterface_ = IOInterface;
  InternalFields_->Open();
  InternalFields_->SetRecordSize(RecordSize_);
  BlobMgr_->Clear();
  for (int32_t i = 0; i < InternalFields_->Count(); ++i) {
    const TInternalFieldItem* field = InternalFields_->GetIndex(i);
    if (!IsBlobFieldType(field->DataType())) continue;
    TBlob* blob = BlobMgr_->Add();
    blob->SetFieldNo(field->FieldIndex());
    blob->SetState(bsInvalid);
  }
}

void TRecordMgr::Close() {
  InternalFields_->Close();
  BlobMgr_->Clear();
  Buffer_.reset();
}

void TRecordMgr::StampNewRecord(uint8_t* Rec, uint32_t OwnerFlag, int32_t LogicalNo) {
  Rec[rpInUse] = 1;
  ix::StoreU32(Rec + rpOwnerCode, OwnerFlag);
  ix::StoreU32(Rec + rpLogicalRecordNo, static_cast<uint32_t>(LogicalNo));
  ix::StoreU32(Rec + rpModificationStamp, 0);
}

uint32_t TRecordMgr::AddRecord(const void* Buf) {
  CheckOpen("TRecordMgr.AddRecord");
  const uint32_t addr = IOInterface_->AllocateNewAddress(RecordSize_, Buf);
  if (addr == 0)
    ZelDatabaseError(0x2185, "TRecordMgr.AddRecord", "The record store gave address 0", this);
  std::memmove(Buffer_.get(), Buf, static_cast<size_t>(RecordSize_));
  return addr;
}

void TRecordMgr::ReadRecord(uint32_t Addr, void* Buf, bool CopyToInternal) {
  CheckOpen("TRecordMgr.ReadRecord");
  IOInterface_->ReadBlock(Addr, RecordSize_, Buf);
  if (CopyToInternal) {
    std::memmove(Buffer_.get(), Buf, static_cast<size_t>(RecordSize_));
    BlobMgr_->InvalidateStreams();
  }
}

void TRecordMgr::ReadRecords(uint32_t Addr, int32_t Count, void* Buf) {
  CheckOpen("TRecordMgr.ReadRecords");
  IOInterface_->ReadBlock(Addr, RecordSize_ * Count, Buf);
}

void TRecordMgr::ReadRecordByRef(uint32_t Addr, uint8_t*& P) {
  CheckOpen("TRecordMgr.ReadRecordByRef");
  IOInterface_->ReadBlockByRef(Addr, RecordSize_, P);
}

void TRecordMgr::UpdateRecord(uint32_t Addr, const void* Buf) {
  CheckOpen("TRecordMgr.UpdateRecord");
  IOInterface_->WriteBlock(Addr, RecordSize_, Buf);
  std::memmove(Buffer_.get(), Buf, static_cast<size_t>(RecordSize_));
}

void TRecordMgr::DeleteRecord(uint32_t Addr) {
  CheckOpen("TRecordMgr.DeleteRecord");
  IOInterface_->ReleaseBlock(Addr, RecordSize_);
  BlobMgr_->InvalidateStreams();
}

void TRecordMgr::RestoreBufferFromInternalBuffer(void* Buf) const {
  CheckOpen("TRecordMgr.RestoreBufferFromInternalBuffer");
  std::memmove(Buf, Buffer_.get(), static_cast<size_t>(RecordSize_));
}

}  // namespace zel
