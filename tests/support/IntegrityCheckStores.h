#pragma once
// Checks of the block stores inside a database file, on top of the map
// checks of IntegrityCheck. Like those, they read the file's bytes directly
// and know the layouts only from their own constants:
//  - a fixed-size store's blocks lie in its own pages, grouped as the engine
//    requests them; every block is either free (in exactly one free-block
//    run) or live, never both, and nothing is lost;
//  - free-block runs: a zero head, a count of at least 1 whose blocks stay in
//    the store's pages, zero bodies, links that end, no block twice;
//  - blob chains: blocks of the blob store, used counts that fit, full
//    blocks before the last one, zero padding, no loop;
//  - the two table maps (system tables from id 1024 at 4096, user tables
//    from id 1 at 12288): packed entries with unique ids in range, each
//    naming a header block of the header store whose table id, size and
//    index count agree.
// Pages of encrypted tables are decrypted first by a decoder the test gives.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/IntegrityCheck.h"

namespace testsupport {

class StoreCheck {
 public:
  // Decrypts one page of the table TableID in place.
  using PageDecoder = std::function<void(uint32_t TableID, uint8_t* Page, int32_t PageSize)>;
  using OwnerTest = std::function<bool(uint16_t Code)>;

  // Call from inside a check that IntegrityCheck::Run performs (the map's
  // view must be loaded). Pages owned by the tables in Encrypted are passed
  // through Decoder.
  explicit StoreCheck(IntegrityCheck& Check, PageDecoder Decoder = {},
                      std::set<uint32_t> Encrypted = {});

  uint32_t U32(uint64_t Offset) const;
  const uint8_t* At(uint64_t Offset) const { return image_.data() + Offset; }

  // Every block address of a fixed-size store, in file order.
  std::vector<uint32_t> StoreBlocks(const OwnerTest& Owner, uint32_t BlockSize);
  std::vector<uint32_t> StoreBlocks(uint16_t OwnerCode, uint32_t BlockSize);
  // Walks the runs from FirstEmpty; returns the free blocks.
  std::set<uint32_t> FreeBlocks(const std::string& Name, uint32_t FirstEmpty, uint32_t BlockSize,
                                const OwnerTest& Owner);
  // Every block of the store is in Live or free, not both.
  void CheckStore(const std::string& Name, uint16_t OwnerCode, uint32_t BlockSize,
                  uint32_t FirstEmpty, const std::set<uint32_t>& Live);
  // The data of the chain at Addr (empty for 0); its blocks are added to
  // Blocks when given.
  std::vector<uint8_t> BlobChain(const std::string& Name, uint32_t Addr, uint32_t BlockSize,
                                 uint16_t OwnerCode, std::set<uint32_t>* Blocks = nullptr);
  // Both table maps, their header blocks, and the header stores' runs: every
  // header-store block is a table's header or free.
  void CheckTableMaps();
  // (TableID, header address) of a map's entries; the user map by default.
  std::vector<std::pair<uint32_t, uint32_t>> MapEntries(bool System = false) const;

  bool InFile(uint64_t Offset, uint64_t Size) const { return Offset + Size <= image_.size(); }
  uint16_t PageCode(uint64_t Offset) const {
    return check_.Entry(static_cast<uint32_t>(Offset / static_cast<uint64_t>(pageSize_)));
  }
  void Problem(const std::string& Text) { check_.Problem(Text); }

 private:
  IntegrityCheck& check_;
  int32_t pageSize_;
  std::vector<uint8_t> image_;
};

// Runs the map checks and then Checks on FileName.
::testing::AssertionResult StoresAreIntact(const std::string& FileName,
                                           const std::function<void(StoreCheck&)>& Checks,
                                           StoreCheck::PageDecoder Decoder = {},
                                           std::set<uint32_t> Encrypted = {});

// The engine's request size for a store of BlockSize blocks, in bytes.
uint32_t BestPageRequestSize(uint32_t BlockSize, uint32_t PageSize);

}  // namespace testsupport
