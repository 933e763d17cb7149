#include "support/IntegrityCheckStores.h"

#include <algorithm>
#include <sstream>

#include "support/IntegrityCheckBytes.h"

namespace testsupport {

namespace {

constexpr uint32_t kSystemPages = 5;
constexpr uint16_t kFreeBit = 0x8000;
constexpr uint32_t kRunNext = 0x08;
constexpr uint32_t kRunCount = 0x0C;
constexpr uint32_t kRunHeader = 0x10;
constexpr uint32_t kBlobData = 8;
// Table maps and headers.
constexpr uint32_t kSystemMap = 4096;
constexpr uint32_t kUserMap = 12288;
constexpr uint32_t kMapEntries = 1000;
constexpr uint32_t kHeaderBlock = 256;
constexpr uint16_t kHeaderStoreCode = 1;  // table 0, use 1
constexpr int32_t kUserHeadersFirstEmpty = 0x1C;
constexpr int32_t kSystemHeadersFirstEmpty = 0x20;
constexpr uint32_t kMaxIndexes = 34;

bool AllZero(const uint8_t* P, uint64_t Count) {
  return std::all_of(P, P + Count, [](uint8_t b) { return b == 0; });
}

}  // namespace

uint32_t BestPageRequestSize(uint32_t BlockSize, uint32_t PageSize) {
  const uint64_t rounded = (uint64_t{BlockSize} + PageSize - 1) / PageSize * PageSize;
  if (PageSize >= BlockSize && rounded % BlockSize <= PageSize / 4)
    return static_cast<uint32_t>(rounded);
  uint64_t best = rounded;
  for (uint64_t x = rounded; x < 10 * rounded; x += PageSize)
    if (x % BlockSize < best % BlockSize) best = x;
  return static_cast<uint32_t>(best);
}

StoreCheck::StoreCheck(IntegrityCheck& Check, PageDecoder Decoder, std::set<uint32_t> Encrypted)
    : check_(Check), pageSize_(Check.PageSize()), image_(Check.Bytes()) {
  if (!Decoder || Encrypted.empty()) return;
  for (uint32_t page = kSystemPages; page < Check.PageCount(); ++page) {
    const uint16_t code = Check.Entry(page);
    const uint16_t usage = code & 0xF;
    if ((code & kFreeBit) != 0 || Encrypted.count(code >> 4u) == 0) continue;
    if (usage == 8 || usage == 9 || usage == 10)
      Decoder(code >> 4u, image_.data() + uint64_t{page} * static_cast<uint64_t>(pageSize_),
              pageSize_);
  }
}

uint32_t StoreCheck::U32(uint64_t Offset) const {
  if (!InFile(Offset, 4)) return 0;
  const uint8_t* p = At(Offset);
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

std::vector<uint32_t> StoreCheck::StoreBlocks(uint16_t OwnerCode, uint32_t BlockSize) {
  return StoreBlocks([OwnerCode](uint16_t Code) { return Code == OwnerCode; }, BlockSize);
}

std::vector<uint32_t> StoreCheck::StoreBlocks(const OwnerTest& Owner, uint32_t BlockSize) {
  std::vector<uint32_t> blocks;
  if (BlockSize == 0) return blocks;
  const uint32_t page = static_cast<uint32_t>(pageSize_);
  const uint32_t request = BestPageRequestSize(BlockSize, page);
  const uint32_t pagesPerRequest = request / page;
  const uint32_t blocksPerRequest = request / BlockSize;
  const uint32_t pages = check_.PageCount();
  for (uint32_t p = kSystemPages; p < pages;) {
    const uint16_t code = check_.Entry(p);
    if ((code & kFreeBit) != 0 || !Owner(code)) {
      ++p;
      continue;
    }
    // The store takes its pages a whole request at a time.
    for (uint32_t k = 1; k < pagesPerRequest; ++k) {
      if (p + k >= pages || check_.Entry(p + k) != code) {
        Problem("store page " + std::to_string(p) + " (code " + Hex(code) +
                ") does not start a whole request of " + std::to_string(pagesPerRequest) +
                " pages");
        break;
      }
    }
    for (uint32_t k = 0; k < blocksPerRequest; ++k) blocks.push_back(p * page + k * BlockSize);
    p += pagesPerRequest;
  }
  return blocks;
}

std::set<uint32_t> StoreCheck::FreeBlocks(const std::string& Name, uint32_t FirstEmpty,
                                          uint32_t BlockSize, const OwnerTest& Owner) {
  std::set<uint32_t> free;
  const uint64_t limit = image_.size() / std::max<uint32_t>(BlockSize, 1) + 1;
  uint64_t steps = 0;
  for (uint32_t run = FirstEmpty; run != 0;) {
    const std::string where = Name + ": free run at " + Hex(run);
    if (++steps > limit) {
      Problem(Name + ": free-run list does not end");
      break;
    }
    if (!InFile(run, BlockSize)) {
      Problem(where + " lies outside the file");
      break;
    }
    if (!AllZero(At(run), 8)) Problem(where + " has a non-zero head");
    const uint32_t next = U32(run + kRunNext);
    const uint32_t count = U32(run + kRunCount);
    if (count == 0) Problem(where + " counts no blocks");
    for (uint64_t k = 0; k < count; ++k) {
      const uint64_t block = run + k * BlockSize;
      if (!InFile(block, BlockSize)) {
        Problem(where + ": block " + std::to_string(k) + " of " + std::to_string(count) +
                " lies outside the file");
        break;
      }
      const uint16_t code = PageCode(block);
      if ((code & kFreeBit) != 0 || !Owner(code) || PageCode(block + BlockSize - 1) != code) {
        Problem(where + ": block " + Hex(block) + " lies in a page of code " + Hex(code) +
                ", not the store's");
        break;
      }
      if (!free.insert(static_cast<uint32_t>(block)).second)
        Problem(where + ": block " + Hex(block) + " is free twice");
      const uint64_t skip = k == 0 ? kRunHeader : 0;
      if (!AllZero(At(block + skip), BlockSize - skip))
        Problem(where + ": free block " + Hex(block) + " is not zero");
    }
    run = next;
  }
  return free;
}

void StoreCheck::CheckStore(const std::string& Name, uint16_t OwnerCode, uint32_t BlockSize,
                            uint32_t FirstEmpty, const std::set<uint32_t>& Live) {
  const std::vector<uint32_t> all = StoreBlocks(OwnerCode, BlockSize);
  const std::set<uint32_t> allSet(all.begin(), all.end());
  const std::set<uint32_t> free = FreeBlocks(
      Name, FirstEmpty, BlockSize, [OwnerCode](uint16_t Code) { return Code == OwnerCode; });
  for (uint32_t block : free)
    if (allSet.count(block) == 0)
      Problem(Name + ": free block " + Hex(block) + " is no block of the store");
  for (uint32_t block : Live) {
    if (allSet.count(block) == 0)
      Problem(Name + ": live block " + Hex(block) + " is no block of the store");
    if (free.count(block) != 0) Problem(Name + ": live block " + Hex(block) + " is also free");
  }
  for (uint32_t block : all)
    if (free.count(block) == 0 && Live.count(block) == 0)
      Problem(Name + ": block " + Hex(block) + " is neither live nor free (leaked)");
}

std::vector<uint8_t> StoreCheck::BlobChain(const std::string& Name, uint32_t Addr,
                                           uint32_t BlockSize, uint16_t OwnerCode,
                                           std::set<uint32_t>* Blocks) {
  std::vector<uint8_t> data;
  std::set<uint32_t> seen;
  bool lastWasShort = false;
  for (uint32_t block = Addr; block != 0;) {
    const std::string where = Name + ": blob block " + Hex(block);
    if (!seen.insert(block).second) {
      Problem(Name + ": blob chain loops at " + Hex(block));
      break;
    }
    if (!InFile(block, BlockSize) || PageCode(block) != OwnerCode ||
        PageCode(block + BlockSize - 1) != OwnerCode) {
      Problem(where + " is not in the blob store's pages");
      break;
    }
    if (lastWasShort) Problem(where + " follows a block that was not full");
    const uint32_t used = U32(block + 4);
    if (used > BlockSize - kBlobData) {
      Problem(where + " uses " + std::to_string(used) + " bytes");
      break;
    }
    if (!AllZero(At(block + kBlobData + used), BlockSize - kBlobData - used))
      Problem(where + " has non-zero padding");
    data.insert(data.end(), At(block + kBlobData), At(block + kBlobData + used));
    if (Blocks != nullptr && !Blocks->insert(block).second)
      Problem(where + " belongs to another chain too");
    lastWasShort = used < BlockSize - kBlobData;
    block = U32(block);
  }
  return data;
}

std::vector<std::pair<uint32_t, uint32_t>> StoreCheck::MapEntries(bool System) const {
  const uint32_t map = System ? kSystemMap : kUserMap;
  std::vector<std::pair<uint32_t, uint32_t>> entries;
  for (uint32_t i = 0; i < kMapEntries; ++i) {
    const uint32_t id = U32(map + 8 * i);
    if (id == 0) break;
    entries.emplace_back(id, U32(map + 8 * i + 4));
  }
  return entries;
}

void StoreCheck::CheckTableMaps() {
  std::set<uint32_t> headers;
  for (bool system : {true, false}) {
    const uint32_t map = system ? kSystemMap : kUserMap;
    const uint32_t base = system ? 1024 : 1;
    const std::string name = system ? "system table map" : "user table map";
    std::set<uint32_t> ids;
    bool ended = false;
    for (uint32_t i = 0; i < kMapEntries; ++i) {
      const uint32_t id = U32(map + 8 * i);
      const uint32_t addr = U32(map + 8 * i + 4);
      const std::string where = name + " entry " + std::to_string(i);
      if (id == 0) {
        ended = true;
        if (addr != 0) Problem(where + " is free but holds an address");
        continue;
      }
      if (ended) Problem(where + " follows a free entry (map not packed)");
      if (id < base || id >= base + kMapEntries)
        Problem(where + ": id " + std::to_string(id) + " out of range");
      if (!ids.insert(id).second) Problem(where + ": id " + std::to_string(id) + " given twice");
      if (!InFile(addr, kHeaderBlock) || PageCode(addr) != kHeaderStoreCode ||
          addr < kSystemPages * static_cast<uint32_t>(pageSize_)) {
        Problem(where + ": header address " + Hex(addr) + " is not in the header store");
        continue;
      }
      if (!headers.insert(addr).second)
        Problem(where + ": header block " + Hex(addr) + " used twice");
      const std::string hdr = "header of table " + std::to_string(id);
      if (U32(addr) != id) Problem(hdr + " names table " + std::to_string(U32(addr)));
      if (U32(addr + 8) != kHeaderBlock)
        Problem(hdr + " has size " + std::to_string(U32(addr + 8)));
      const uint32_t indexes = U32(addr + 0x24);
      if (indexes > kMaxIndexes) {
        Problem(hdr + " has " + std::to_string(indexes) + " indexes");
        continue;
      }
      if (U32(addr + 0x2C) != 0) Problem(hdr + " has a non-zero word at 0x2C");
      const uint32_t used = 0x30 + 6 * indexes;
      if (!AllZero(At(addr + used), kHeaderBlock - used))
        Problem(hdr + " is not zero behind its index slots");
      const uint32_t recordFree = U32(addr + 0x0C);
      const uint32_t blobFree = U32(addr + 0x18);
      if (recordFree != 0 && (!InFile(recordFree, 1) || PageCode(recordFree) != ((id << 4) | 9)))
        Problem(hdr + ": RecordFirstEmpty " + Hex(recordFree) + " is not in the record store");
      if (blobFree != 0 && (!InFile(blobFree, 1) || PageCode(blobFree) != ((id << 4) | 10)))
        Problem(hdr + ": BlobFirstEmpty " + Hex(blobFree) + " is not in the blob store");
    }
  }
  // Both header stores take their blocks from pages of the same code.
  const auto headerPage = [](uint16_t Code) { return Code == kHeaderStoreCode; };
  std::set<uint32_t> free = FreeBlocks(
      "user header store", check_.HeaderU32(kUserHeadersFirstEmpty), kHeaderBlock, headerPage);
  for (uint32_t block :
       FreeBlocks("system header store", check_.HeaderU32(kSystemHeadersFirstEmpty), kHeaderBlock,
                  headerPage))
    if (!free.insert(block).second)
      Problem("header block " + Hex(block) + " is free in both header stores");
  const std::vector<uint32_t> all = StoreBlocks(kHeaderStoreCode, kHeaderBlock);
  for (uint32_t block : all) {
    const bool isFree = free.count(block) != 0;
    const bool isHeader = headers.count(block) != 0;
    if (isFree && isHeader)
      Problem("header block " + Hex(block) + " is both free and a table's header");
    if (!isFree && !isHeader)
      Problem("header block " + Hex(block) + " is neither free nor a header (leaked)");
  }
  const std::set<uint32_t> allSet(all.begin(), all.end());
  for (uint32_t block : free)
    if (allSet.count(block) == 0)
      Problem("free header block " + Hex(block) + " is no header-store block");
}

::testing::AssertionResult StoresAreIntact(const std::string& FileName,
                                           const std::function<void(StoreCheck&)>& Checks,
                                           StoreCheck::PageDecoder Decoder,
                                           std::set<uint32_t> Encrypted) {
  IntegrityCheck check(FileName);
  check.AddCheck([&](IntegrityCheck& c) {
    StoreCheck stores(c, Decoder, Encrypted);
    stores.CheckTableMaps();
    if (Checks) Checks(stores);
  });
  if (check.Run()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << FileName << " is damaged:\n" << check.Report();
}

}  // namespace testsupport
