#pragma once
// The read-ahead buffer: one batch of records in index order, each with a
// copy of the record, a copy of its key, its record number and its address.
// The buffers behind the items are pooled and reused from batch to batch; a
// batch expires after ValidPeriod milliseconds so that other users' changes
// become visible.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/rtl/Classes.h"

namespace zel {

class TReadAheadBufferItem : public plat::TCollectionItem {
 public:
  explicit TReadAheadBufferItem(plat::TCollection* Collection)
      : plat::TCollectionItem(Collection) {}
  // Gives the item's buffers back to its buffer's pool.
  ~TReadAheadBufferItem() override;

  std::string ClassName() const override { return "TReadAheadBufferItem"; }

  // Gives the item its pooled buffers; both must be there.
  void Initialize(uint8_t* RecBuf, uint8_t* KeyBuf);

  uint8_t* RecBuf() const { return RecBuf_; }
  uint8_t* KeyBuf() const { return KeyBuf_; }
  int32_t RecNo() const { return RecNo_; }
  void SetRecNo(int32_t Value) { RecNo_ = Value; }
  uint32_t RecAddr() const { return RecAddr_; }
  void SetRecAddr(uint32_t Value) { RecAddr_ = Value; }

 private:
  friend class TReadAheadBuffer;

  uint8_t* RecBuf_ = nullptr;
  uint8_t* KeyBuf_ = nullptr;
  int32_t RecNo_ = 0;
  uint32_t RecAddr_ = 0;
  int32_t Pair_ = -1;  // the pool pair the item holds
};

// Invariants: the record and key pools always have the same length; every
// pool pair is either held by exactly one item or listed as free.
class TReadAheadBuffer : public plat::TCollection {
 public:
  TReadAheadBuffer();
  ~TReadAheadBuffer() override;

  std::string ClassName() const override { return "TReadAheadBuffer"; }

  // Closes, then keeps the sizes and the period; no batch is valid.
  void Open(int32_t RecordSize, int32_t KeySize, uint32_t ValidPeriod);
  // Frees every pooled buffer and every item.
  void Close();
  // A new item with an unused pair of pooled buffers (allocated only when
  // every pair is in use). The caller fills record, key, RecNo and RecAddr.
  TReadAheadBufferItem* Add();
  // Removes all items; the pooled buffers stay for the next batch.
  void Invalidate();
  // True while the batch holds items and Now (a tick count) lies within
  // ValidPeriod of ValidTimeStamp; otherwise the batch is invalidated.
  bool IsValid(uint32_t Now);

  void SetValidTimeStamp(uint32_t Value) { ValidTimeStamp_ = Value; }
  uint32_t ValidTimeStamp() const { return ValidTimeStamp_; }
  uint32_t ValidPeriod() const { return ValidPeriod_; }
  void SetLastRecordCount(int32_t Value) { LastRecordCount_ = Value; }
  int32_t LastRecordCount() const { return LastRecordCount_; }
  void SetRecordCountValid(bool Value) { RecordCountValid_ = Value; }
  bool RecordCountValid() const { return RecordCountValid_; }
  int32_t RecordSize() const { return RecordSize_; }
  int32_t KeySize() const { return KeySize_; }

  // Position of the item with that address, searched from the last; -1.
  int32_t GetIndexOfBufferItem(uint32_t RecAddr) const;
  TReadAheadBufferItem* GetBufferItem(uint32_t RecAddr) const;
  // The item after or before the one with that address; nullptr at the
  // ends or when the address is not held.
  TReadAheadBufferItem* GetNextBufferItem(uint32_t RecAddr) const;
  TReadAheadBufferItem* GetPriorBufferItem(uint32_t RecAddr) const;
  TReadAheadBufferItem* Last() const;
  // Number of pooled buffer pairs.
  int32_t GetInternalBufferCount() const { return static_cast<int32_t>(RecPool_.size()); }
  TReadAheadBufferItem* Items(int32_t Index) const {
    return static_cast<TReadAheadBufferItem*>(plat::TCollection::Items(Index));
  }
  // Removes one item; its buffers go back to the pool.
  void DeleteItem(int32_t Index);

 private:
  friend class TReadAheadBufferItem;

  std::vector<std::unique_ptr<uint8_t[]>> RecPool_;
  std::vector<std::unique_ptr<uint8_t[]>> KeyPool_;
  // Pairs not held by an item, the next one to hand out last.
  std::vector<int32_t> FreePairs_;
  int32_t RecordSize_ = 0;
  int32_t KeySize_ = 0;
  uint32_t ValidTimeStamp_ = 0;
  uint32_t ValidPeriod_ = 0;
  int32_t LastRecordCount_ = 0;
  bool RecordCountValid_ = false;
};

}  // namespace zel
