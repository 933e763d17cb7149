#include "engine/storage/zelDataReadAhead.h"

#include <algorithm>

#include "platform/rtl/Exceptions.h"

namespace zel {

void TReadAheadBufferItem::Initialize(uint8_t* RecBuf, uint8_t* KeyBuf) {
  PLAT_ASSERT(RecBuf != nullptr, "RecBuf has not been initialized");
  PLAT_ASSERT(KeyBuf != nullptr, "KeyBuf has not been initialized");
  RecBuf_ = RecBuf;
  KeyBuf_ = KeyBuf;
}

TReadAheadBufferItem::~TReadAheadBufferItem() {
  if (Pair_ < 0) return;
  if (auto* buffer = dynamic_cast<TReadAheadBuffer*>(Collection()))
    buffer->FreePairs_.push_back(Pair_);
}

TReadAheadBuffer::TReadAheadBuffer()
    : plat::TCollection(plat::CollectionItemClass<TReadAheadBufferItem>()) {}

TReadAheadBuffer::~TReadAheadBuffer() {
  Clear();
}

void TReadAheadBuffer::Open(int32_t RecordSize, int32_t KeySize, uint32_t ValidPeriod) {
  Close();
  RecordSize_ = std::max(RecordSize, 0);
  KeySize_ = std::max(KeySize, 0);
  ValidPeriod_ = ValidPeriod;
  ValidTimeStamp_ = 0;
  LastRecordCount_ = 0;
  RecordCountValid_ = false;
}

void TReadAheadBuffer::Close() {
  Clear();
  FreePairs_.clear();
  RecPool_.clear();
  KeyPool_.clear();
}

TReadAheadBufferItem* TReadAheadBuffer::Add() {
  if (FreePairs_.empty()) {
    // Zero-length buffers still get storage, so every item has both.
    RecPool_.push_back(std::make_unique<uint8_t[]>(static_cast<size_t>(std::max(RecordSize_, 1))));
    KeyPool_.push_back(std::make_unique<uint8_t[]>(static_cast<size_t>(std::max(KeySize_, 1))));
    FreePairs_.push_back(static_cast<int32_t>(RecPool_.size()) - 1);
  }
  const int32_t pair = FreePairs_.back();
  auto* item = static_cast<TReadAheadBufferItem*>(plat::TCollection::Add());
  FreePairs_.pop_back();
  item->Pair_ = pair;
  item->Initialize(RecPool_[static_cast<size_t>(pair)].get(),
                   KeyPool_[static_cast<size_t>(pair)].get());
  return item;
}

void TReadAheadBuffer::Invalidate() {
  Clear();
  ValidTimeStamp_ = 0;
}

bool TReadAheadBuffer::IsValid(uint32_t Now) {
  // Tick counts wrap, so the age is their unsigned difference.
  if (Count() > 0 && ValidTimeStamp_ != 0 && Now - ValidTimeStamp_ <= ValidPeriod_) return true;
  Invalidate();
  return false;
}

int32_t TReadAheadBuffer::GetIndexOfBufferItem(uint32_t RecAddr) const {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (Items(i)->RecAddr() == RecAddr) return i;
  return -1;
}

TReadAheadBufferItem* TReadAheadBuffer::GetBufferItem(uint32_t RecAddr) const {
  const int32_t i = GetIndexOfBufferItem(RecAddr);
  return i < 0 ? nullptr : Items(i);
}

TReadAheadBufferItem* TReadAheadBuffer::GetNextBufferItem(uint32_t RecAddr) const {
  const int32_t i = GetIndexOfBufferItem(RecAddr);
  return i < 0 || i + 1 >= Count() ? nullptr : Items(i + 1);
}

TReadAheadBufferItem* TReadAheadBuffer::GetPriorBufferItem(uint32_t RecAddr) const {
  const int32_t i = GetIndexOfBufferItem(RecAddr);
  return i <= 0 ? nullptr : Items(i - 1);
}

TReadAheadBufferItem* TReadAheadBuffer::Last() const {
  return Count() == 0 ? nullptr : Items(Count() - 1);
}

void TReadAheadBuffer::DeleteItem(int32_t Index) {
  Delete(Index);
}

}  // namespace zel
