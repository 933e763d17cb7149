#include "engine/storage/zelInterfaceUnit.h"

#include <cstring>
#include <limits>

#include "engine/storage/zelCommon.h"
#include "platform/rtl/Format.h"

namespace zel {

// ---------------------------------------------------------------- TBaseIOInterface

void TBaseIOInterface::NotImplemented(const char* Context) const {
  ZelDatabaseError(0x2751, Context, "", this);
}

void TBaseIOInterface::Open() {
  OwnerFlag_ = static_cast<uint16_t>((uint32_t{TableID_} << 4) | Usage_);
}

void TBaseIOInterface::Close() {}

void TBaseIOInterface::Empty(bool) {
  NotImplemented("TBaseIOInterface.Empty");
}

uint32_t TBaseIOInterface::AllocateNewAddress(int32_t, const void*) {
  NotImplemented("TBaseIOInterface.AllocateNewAddress");
}

void TBaseIOInterface::ReleaseBlock(uint32_t, int32_t) {
  NotImplemented("TBaseIOInterface.ReleaseBlock");
}

void TBaseIOInterface::WriteBlock(uint32_t, int32_t, const void*) {
  NotImplemented("TBaseIOInterface.WriteBlock");
}

void TBaseIOInterface::WriteBlockByRef(uint32_t, int32_t, const void*) {}

void TBaseIOInterface::ReadBlock(uint32_t, int32_t, void*) {}

void TBaseIOInterface::ReadBlockByRef(uint32_t, int32_t, uint8_t*& P) {
  P = nullptr;
}

void TBaseIOInterface::WriteBlockHeader(uint32_t, int32_t, const void*) {
  NotImplemented("TBaseIOInterface.WriteBlockHeader");
}

void TBaseIOInterface::ReadBlockHeader(uint32_t, int32_t, void*) {}

void TBaseIOInterface::ShowBlocks(plat::TStrings&) {}

void TBaseIOInterface::ListBlocks(std::vector<uint32_t>&) {}

bool TBaseIOInterface::CheckPageValid(uint32_t) {
  return false;
}

void TBaseIOInterface::ShowStatus(plat::TStrings&) {}

uint32_t TBaseIOInterface::GetNextMemoryBlockAddress(uint32_t) {
  return 0;
}

bool TBaseIOInterface::CheckBlockAddressValid(uint32_t) {
  return false;
}

void TBaseIOInterface::NotifyPageChange(uint32_t) {}

// ---------------------------------------------------------------- TMemoryIOInterface

TMemoryIOInterface::TMemoryIOInterface() {
  IOMode_ = iomMemory;
}

TMemoryIOInterface::TBlock* TMemoryIOInterface::Find(uint32_t Addr) {
  const uint32_t page = Addr >> SlotBits;
  if (page < FirstPage_ || page - FirstPage_ >= Pages_.size()) return nullptr;
  TSlotPage* slots = Pages_[page - FirstPage_].get();
  if (slots == nullptr) return nullptr;
  TBlock& block = slots->Slots[Addr & (SlotsPerPage - 1)];
  return block.Data != nullptr ? &block : nullptr;
}

void TMemoryIOInterface::CheckSize(const TBlock& Block, int32_t Size, const char* Context,
                                   const char* Message) const {
  // A request larger than the block would reach past its buffer.
  if (Size < 0 || Size > Block.Size) ZelDatabaseError(0x2185, Context, Message, this);
}

void TMemoryIOInterface::Changed(TBlock& Block) {
  ++*Changes_;
  if (Block.Notes != nullptr) Block.Notes->Drop();
}

void TMemoryIOInterface::Empty(bool) {
  ++*Changes_;
  Pages_.clear();
  Count_ = 0;
}

uint32_t TMemoryIOInterface::AllocateNewAddress(int32_t Size, const void* Buf) {
  ++*Changes_;
  if (Size < 0 || Buf == nullptr)
    ZelDatabaseError(0x2185, "TMemoryIOInterface.AllocateNewAddress",
                     "Write page error - nil pointer", this);
  if (NextAddress_ == std::numeric_limits<uint32_t>::max())
    ZelDatabaseError(0x2185, "TMemoryIOInterface.AllocateNewAddress",
                     "Memory block addresses exhausted", this);
  // At least a whole block, so that a later read of BlockSize bytes stays
  // inside it.
  const int32_t capacity =
      std::max<int32_t>(Size, static_cast<int32_t>(std::min<uint32_t>(BlockSize_, INT32_MAX)));
  const uint32_t addr = NextAddress_;
  const uint32_t page = addr >> SlotBits;
  if (Pages_.empty()) FirstPage_ = page;
  const size_t index = page - FirstPage_;
  if (index >= Pages_.size()) Pages_.resize(index + 1);
  if (Pages_[index] == nullptr) Pages_[index] = std::make_unique<TSlotPage>();
  TSlotPage& slots = *Pages_[index];
  const uint32_t slot = addr & (SlotsPerPage - 1);
  TBlock& block = slots.Slots[slot];
  if (capacity > 0 && capacity <= MostRoomBlock &&
      capacity == static_cast<int32_t>(BlockSize_) &&
      (slots.Room == nullptr || slots.RoomBlock == capacity)) {
    if (slots.Room == nullptr) {
      slots.Room = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(capacity) * SlotsPerPage);
      slots.RoomBlock = capacity;
    }
    block.Data = slots.Room.get() + static_cast<size_t>(capacity) * slot;
  } else {
    block.Own = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(capacity > 0 ? capacity : 1));
    block.Data = block.Own.get();
  }
  block.Size = capacity;
  if (Size > 0) std::memcpy(block.Data, Buf, static_cast<size_t>(Size));
  if (capacity > Size) std::memset(block.Data + Size, 0, static_cast<size_t>(capacity - Size));
  ++slots.Live;
  ++Count_;
  ++NextAddress_;
  return addr;
}

void TMemoryIOInterface::ReleaseBlock(uint32_t Addr, int32_t) {
  ++*Changes_;
  TBlock* block = Find(Addr);
  if (block == nullptr) return;
  *block = TBlock();
  --Count_;
  const size_t index = (Addr >> SlotBits) - FirstPage_;
  if (--Pages_[index]->Live != 0) return;
  Pages_[index].reset();
  // Emptied pages at either end leave the table, so that a store used as a
  // queue does not keep a slot for every number it ever gave.
  while (!Pages_.empty() && Pages_.front() == nullptr) {
    Pages_.pop_front();
    ++FirstPage_;
  }
  while (!Pages_.empty() && Pages_.back() == nullptr) Pages_.pop_back();
}

void TMemoryIOInterface::WriteBlock(uint32_t Addr, int32_t Size, const void* Buf) {
  TBlock* block = Find(Addr);
  if (block == nullptr) return;
  if (Buf == nullptr)
    ZelDatabaseError(0x2185, "TMemoryIOInterface.WriteBlock", "Write page error - nil pointer",
                     this);
  CheckSize(*block, Size, "TMemoryIOInterface.WriteBlock", "Write page error - block too small");
  Changed(*block);
  // A block changed in place is only marked written.
  if (Size > 0 && Buf != block->Data)
    std::memmove(block->Data, Buf, static_cast<size_t>(Size));
}

void TMemoryIOInterface::WriteBlockByRef(uint32_t Addr, int32_t Size, const void* Buf) {
  WriteBlock(Addr, Size, Buf);
}

TPageNotes* TMemoryIOInterface::BlockNotes(uint32_t Addr) {
  TBlock* block = Find(Addr);
  return block != nullptr ? &NotesOf(*block) : nullptr;
}

TPageNotes& TMemoryIOInterface::NotesOf(TBlock& Block) {
  if (Block.Notes == nullptr) {
    Block.Notes = std::make_unique<TPageNotes>();
    Block.Notes->Stamp = TPageNotes::NewStamp();
  }
  return *Block.Notes;
}

uint8_t* TMemoryIOInterface::BlockInPlace(uint32_t Addr, int32_t Size, TPageNotes*& Notes,
                                          std::shared_ptr<uint64_t>& Changes,
                                          std::shared_ptr<uint64_t>& Slots) {
  TBlock* block = Find(Addr);
  // The plain read reports what is wrong.
  if (block == nullptr || Size < 0 || Size > block->Size) return nullptr;
  Notes = &NotesOf(*block);
  Changes = Changes_;
  // A block's notes go with it when it is released: any change may have
  // dropped them.
  Slots = Changes_;
  return block->Data;
}

void TMemoryIOInterface::WriteBlockHeader(uint32_t Addr, int32_t Size, const void* Buf) {
  TBlock* block = Find(Addr);
  if (block == nullptr) return;
  if (Buf == nullptr)
    ZelDatabaseError(0x2185, "TMemoryIOInterface.WriteBlockHeader",
                     "Write header error - nil pointer", this);
  CheckSize(*block, Size, "TMemoryIOInterface.WriteBlockHeader",
            "Write header error - block too small");
  Changed(*block);
  if (Size > 0) std::memmove(block->Data, Buf, static_cast<size_t>(Size));
}

void TMemoryIOInterface::ReadBlock(uint32_t Addr, int32_t Size, void* Buf) {
  TBlock* block = Find(Addr);
  if (block == nullptr) {
    if (DebugStrings_ != nullptr) {
      DebugStrings_->Add(plat::Format("Read page error - address %u not listed", {Addr}));
      std::vector<uint32_t> listed;
      ListBlocks(listed);
      for (uint32_t address : listed) DebugStrings_->Add(plat::Format("Listed block %u", {address}));
    }
    ZelDatabaseError(0x2185, "TMemoryIOInterface.ReadBlock",
                     "Read page error - block address not found", this);
  }
  if (Buf == block->Data)
    ZelDatabaseError(0x2185, "TMemoryIOInterface.ReadBlock", "Read page error - buffers equal",
                     this);
  if (Buf == nullptr)
    ZelDatabaseError(0x2185, "TMemoryIOInterface.ReadBlock", "Unassigned memory pointer", this);
  CheckSize(*block, Size, "TMemoryIOInterface.ReadBlock", "Read page error - block too small");
  if (Size > 0) std::memcpy(Buf, block->Data, static_cast<size_t>(Size));
}

void TMemoryIOInterface::ReadBlockByRef(uint32_t Addr, int32_t Size, uint8_t*& P) {
  TBlock* block = Find(Addr);
  if (block == nullptr)
    ZelDatabaseError(0x2185, "TMemoryIOInterface.ReadBlockByRef",
                     "Read page error - block address not found", this);
  CheckSize(*block, Size, "TMemoryIOInterface.ReadBlockByRef", "Read page error - block too small");
  P = block->Data;
}

void TMemoryIOInterface::ReadBlockHeader(uint32_t Addr, int32_t Size, void* Buf) {
  TBlock* block = Find(Addr);
  if (block == nullptr) return;
  if (Buf == nullptr)
    ZelDatabaseError(0x2185, "TMemoryIOInterface.ReadBlockHeader",
                     "Read header error - nil pointer", this);
  CheckSize(*block, Size, "TMemoryIOInterface.ReadBlockHeader",
            "Read header error - block too small");
  if (Size > 0 && Buf != block->Data)
    std::memcpy(Buf, block->Data, static_cast<size_t>(Size));
}

void TMemoryIOInterface::ListBlocks(std::vector<uint32_t>& List) {
  List.clear();
  List.reserve(static_cast<size_t>(Count_));
  for (size_t k = 0; k < Pages_.size(); ++k) {
    if (Pages_[k] == nullptr) continue;
    const uint32_t first = (FirstPage_ + static_cast<uint32_t>(k)) << SlotBits;
    for (uint32_t i = 0; i < SlotsPerPage; ++i)
      if (Pages_[k]->Slots[i].Data != nullptr) List.push_back(first + i);
  }
}

bool TMemoryIOInterface::CheckPageValid(uint32_t Addr) {
  return Find(Addr) != nullptr;
}

bool TMemoryIOInterface::CheckBlockAddressValid(uint32_t Addr) {
  return Find(Addr) != nullptr;
}

uint32_t TMemoryIOInterface::GetNextMemoryBlockAddress(uint32_t Addr) {
  // Numbers grow with allocation, so the next number is the next block in
  // allocation order; this also holds when Addr itself was just released.
  for (uint64_t next = uint64_t{Addr} + 1; next < NextAddress_;) {
    const uint32_t page = static_cast<uint32_t>(next >> SlotBits);
    if (page < FirstPage_) {
      next = uint64_t{FirstPage_} << SlotBits;
      continue;
    }
    if (page - FirstPage_ >= Pages_.size()) break;
    if (Pages_[page - FirstPage_] == nullptr) {
      next = uint64_t{page + 1} << SlotBits;
      continue;
    }
    if (Find(static_cast<uint32_t>(next)) != nullptr) return static_cast<uint32_t>(next);
    ++next;
  }
  return 0;
}

}  // namespace zel
