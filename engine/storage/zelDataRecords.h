#pragma once
// The record manager: fixed-size records, one per block of a block store,
// with a copy of the last record touched and the blob slots the cursor fills.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelDataFields.h"
#include "engine/storage/zelInterfaceUnit.h"
#include "platform/rtl/Classes.h"

namespace zel {

enum TBlobState : uint8_t { bsNone, bsInvalid, bsValid, bsModified };

// The bytes of one blob field of the current record.
class TBlob : public plat::TCollectionItem {
 public:
  explicit TBlob(plat::TCollection* Collection);

  std::string ClassName() const override { return "TBlob"; }

  uint32_t RecID() const { return RecID_; }
  void SetRecID(uint32_t Value) { RecID_ = Value; }
  int32_t FieldNo() const { return FieldNo_; }
  void SetFieldNo(int32_t Value) { FieldNo_ = Value; }
  TBlobState State() const { return State_; }
  void SetState(TBlobState Value) { State_ = Value; }
  plat::TMemoryStream& Stream() { return *Stream_; }

 private:
  uint32_t RecID_ = 0;
  int32_t FieldNo_ = 0;
  TBlobState State_ = bsNone;
  std::unique_ptr<plat::TMemoryStream> Stream_;
};

class TBlobMgr : public plat::TCollection {
 public:
  TBlobMgr();

  std::string ClassName() const override { return "TBlobMgr"; }

  TBlob* Add() { return static_cast<TBlob*>(plat::TCollection::Add()); }
  TBlob* Items(int32_t Index) const { return static_cast<TBlob*>(plat::TCollection::Items(Index)); }
  // The first slot of that field and, when RecID is not 0, that record.
  TBlob* FindBlob(uint32_t RecID, int32_t FieldNo) const;
  // bsNone without slots; bsInvalid when any slot is; else bsModified when
  // any slot is; else bsValid.
  TBlobState CheckBlobStates() const;
  void InvalidateStreams();
};

// Invariant: while open, InternalBuffer holds RecordSize bytes and the store
// is set; the buffer changes only after the store call it follows returned.
class ZEL_API TRecordMgr : public plat::TObject {
 public:
  TRecordMgr();
  TRecordMgr(const TRecordMgr&) = delete;
  TRecordMgr& operator=(const TRecordMgr&) = delete;
  ~TRecordMgr() override;

  std::string ClassName() const override { return "TRecordMgr"; }

  // Only while no internal buffer exists.
  void SetRecordSize(int32_t Size);
  int32_t RecordSize() const { return RecordSize_; }
  // RecordSize 0 raises 0x2180.
  void Open(TBaseIOInterface* IOInterface);
  void Close();

  // Marks Rec's prefix as a new record of OwnerFlag's table, numbered
  // LogicalNo and never modified, before it is added.
  static void StampNewRecord(uint8_t* Rec, uint32_t OwnerFlag, int32_t LogicalNo);
  // Stores Buf as a new record; returns its address (never 0).
  uint32_t AddRecord(const void* Buf);
  void ReadRecord(uint32_t Addr, void* Buf, bool CopyToInternal);
  // Count records stored back to back from Addr (a disk store's run), in
  // one read; the internal buffer is left alone.
  void ReadRecords(uint32_t Addr, int32_t Count, void* Buf);
  // P points at the stored bytes without a copy.
  void ReadRecordByRef(uint32_t Addr, uint8_t*& P);
  void UpdateRecord(uint32_t Addr, const void* Buf);
  void DeleteRecord(uint32_t Addr);
  // The cursor's cancel of an edit.
  void RestoreBufferFromInternalBuffer(void* Buf) const;

  TBlobMgr& BlobMgr() { return *BlobMgr_; }
  TInternalFields& InternalFields() { return *InternalFields_; }
  TBaseIOInterface* IOInterface() const { return IOInterface_; }
  const uint8_t* InternalBuffer() const { return Buffer_.get(); }

 private:
  void CheckOpen(const char* Context) const;

  TBaseIOInterface* IOInterface_ = nullptr;
  std::unique_ptr<TBlobMgr> BlobMgr_;
  std::unique_ptr<TInternalFields> InternalFields_;
  int32_t RecordSize_ = 0;
  std::unique_ptr<uint8_t[]> Buffer_;
};

}  // namespace zel
