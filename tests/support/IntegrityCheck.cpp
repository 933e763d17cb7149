#include "support/IntegrityCheck.h"

#include <fstream>
#include <set>
#include <sstream>

#include "support/IntegrityCheckBytes.h"

namespace testsupport {

namespace {

constexpr uint32_t kSystemPages = 5;
constexpr uint32_t kHeaderOffset = 1024;
constexpr uint16_t kSystemCode = 1;
constexpr uint16_t kMapCode = 2;
constexpr uint16_t kFreeBit = 0x8000;
constexpr int32_t kEntriesOffset = 0x14;

constexpr uint32_t kSecurityOffset = 0x300;
constexpr uint32_t kSecuritySize = 40;
constexpr uint32_t kSecurityCRCField = 0x24;

// The reflected CRC-32 (polynomial 0xEDB88320), bit by bit: slow and plain,
// so that it shares nothing with the engine's table-driven one.
uint32_t Crc32(const uint8_t* Data, size_t Length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < Length; ++i) {
    crc ^= Data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

bool TableUsage(uint16_t Code) {
  const uint16_t usage = Code & 0xF;
  return usage == 1 || usage == 8 || usage == 9 || usage == 10;
}

}  // namespace

IntegrityCheck::IntegrityCheck(std::string FileName, int32_t PageSize)
    : fileName_(std::move(FileName)),
      pageSize_(PageSize),
      entriesPerPage_((PageSize - kEntriesOffset) / 2) {}

uint16_t IntegrityCheck::U16(uint64_t Offset) const {
  if (Offset + 2 > bytes_.size()) return 0;
  return static_cast<uint16_t>(bytes_[Offset] | (bytes_[Offset + 1] << 8));
}

uint32_t IntegrityCheck::U32(uint64_t Offset) const {
  if (Offset + 4 > bytes_.size()) return 0;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes_[Offset + static_cast<uint64_t>(i)];
  return value;
}

std::string IntegrityCheck::Report() const {
  std::string text;
  for (const std::string& line : problems_) text += line + "\n";
  return text;
}

std::vector<uint32_t> IntegrityCheck::PagesOwnedBy(uint16_t Code) const {
  std::vector<uint32_t> pages;
  for (uint32_t page = 0; page < entries_.size(); ++page)
    if (entries_[page] == Code) pages.push_back(page);
  return pages;
}

bool IntegrityCheck::Run() {
  problems_.clear();
  entries_.clear();
  mapPages_.clear();
  if (Load() && CheckHeader() && CheckChain()) {
    CheckEntries();
    CheckFreeLists();
    CheckSecurityHeader();
    if (problems_.empty())
      for (const Check& extra : extras_) extra(*this);
  }
  return problems_.empty();
}

bool IntegrityCheck::Load() {
  std::ifstream in(fileName_, std::ios::binary | std::ios::ate);
  if (!in) {
    Problem("cannot read " + fileName_);
    return false;
  }
  bytes_.resize(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
  if (!in) {
    Problem("cannot read " + fileName_);
    return false;
  }
  if (bytes_.size() % static_cast<size_t>(pageSize_) != 0)
    Problem("file size " + std::to_string(bytes_.size()) + " is not a whole number of pages");
  if (PageCount() < kSystemPages + 1) {
    Problem("file has " + std::to_string(PageCount()) + " pages, fewer than a new file's 6");
    return false;
  }
  return problems_.empty();
}

void IntegrityCheck::CheckSecurityHeader() {
  std::vector<uint8_t> header(bytes_.begin() + kSecurityOffset,
                              bytes_.begin() + kSecurityOffset + kSecuritySize);
  bool written = false;
  for (const uint8_t b : header) written = written || b != 0;
  if (!written) return;  // a new file gets its security header later
  if (U32(kSecurityOffset) != kSecuritySize)
    Problem("security header size is " + std::to_string(U32(kSecurityOffset)) + ", not 40");
  if (U16(kSecurityOffset + 0x0C) != 1 || U16(kSecurityOffset + 0x0E) != 1)
    Problem("security header words at 0x0C and 0x0E are not 1 and 1");
  const uint32_t stored = U32(kSecurityOffset + kSecurityCRCField);
  for (uint32_t i = 0; i < 4; ++i) header[kSecurityCRCField + i] = 0;
  if (Crc32(header.data(), header.size()) != stored)
    Problem("security header CRC " + Hex(stored) + " does not match its bytes");
}

bool IntegrityCheck::CheckHeader() {
  for (int32_t offset = 0; offset < 128; ++offset) {
    const bool field = offset >= 0x10 && offset < 0x2C;
    if (!field && bytes_[kHeaderOffset + static_cast<uint32_t>(offset)] != 0)
      Problem("global header byte " + Hex(static_cast<uint32_t>(offset)) + " is not zero");
  }
  const uint32_t firstMap = HeaderU32(0x14);
  if (firstMap != kSystemPages * static_cast<uint32_t>(pageSize_))
    Problem("FirstMapPage is " + Hex(firstMap) + ", not page 5");
  if (HeaderU32(0x18) == 0) Problem("MapPageCount is 0");
  return problems_.empty();
}

bool IntegrityCheck::CheckChain() {
  const uint32_t count = HeaderU32(0x18);
  uint32_t address = HeaderU32(0x14);
  for (uint32_t n = 0; n < count; ++n) {
    if (address % static_cast<uint32_t>(pageSize_) != 0 ||
        uint64_t{address} + static_cast<uint64_t>(pageSize_) > bytes_.size()) {
      Problem("map page " + std::to_string(n) + " at " + Hex(address) + " is outside the file");
      return false;
    }
    if (U32(address) != n) {
      Problem("map page at " + Hex(address) + " has sequence number " +
              std::to_string(U32(address)) + ", expected " + std::to_string(n));
      return false;
    }
    mapPages_.push_back(address);
    const uint32_t next = U32(address + 4);
    if (n + 1 < count && next == 0) {
      Problem("map chain ends after " + std::to_string(n + 1) + " of " + std::to_string(count) +
              " pages");
      return false;
    }
    if (n + 1 == count && next != 0) Problem("last map page links on to " + Hex(next));
    address = next;
  }
  // Each covered page of the file gets its entry.
  entries_.assign(PageCount(), 0);
  for (uint32_t n = 0; n < mapPages_.size(); ++n) {
    for (int32_t i = 0; i < entriesPerPage_; ++i) {
      const uint64_t page =
          uint64_t{n} * static_cast<uint64_t>(entriesPerPage_) + static_cast<uint64_t>(i);
      const uint16_t entry = U16(mapPages_[n] + kEntriesOffset + 2 * static_cast<uint32_t>(i));
      if (page < entries_.size()) {
        entries_[page] = entry;
      } else if (entry != 0) {
        Problem("map entry of page " + std::to_string(page) + " beyond the end of the file is " +
                Hex(entry));
      }
    }
  }
  return true;
}

void IntegrityCheck::CheckEntries() {
  const std::set<uint32_t> mapPageNumbers = [this] {
    std::set<uint32_t> numbers;
    for (uint32_t address : mapPages_) numbers.insert(address / static_cast<uint32_t>(pageSize_));
    return numbers;
  }();
  const uint64_t covered = uint64_t{mapPages_.size()} * static_cast<uint64_t>(entriesPerPage_);
  for (uint32_t page = 0; page < entries_.size(); ++page) {
    const uint16_t entry = entries_[page];
    const auto name = [page] { return "page " + std::to_string(page); };
    if (page >= covered) {
      Problem(name() + " has no map page");
      continue;
    }
    if (page < kSystemPages) {
      if (entry != kSystemCode) Problem(name() + " of the system area has code " + Hex(entry));
      continue;
    }
    if (mapPageNumbers.count(page) != 0) {
      if (entry != kMapCode) Problem("map " + name() + " has code " + Hex(entry));
      continue;
    }
    if (entry == 0) {
      Problem(name() + " was never given out");
    } else if (entry == kMapCode) {
      Problem(name() + " carries the map's code but is no map page");
    } else if ((entry & kFreeBit) == 0 && entry != kSystemCode && !TableUsage(entry)) {
      Problem(name() + " has the invalid owner code " + Hex(entry));
    }
  }
}

void IntegrityCheck::CheckFreeLists() {
  bool anyFree = false;
  int32_t firstWithFree = -1;
  for (uint32_t n = 0; n < mapPages_.size(); ++n) {
    const uint32_t base = mapPages_[n];
    const auto where = [n] { return "map page " + std::to_string(n); };
    std::set<uint32_t> listed;
    uint32_t offset = U16(base + 8);
    uint32_t previous = 0;
    int32_t steps = 0;
    while (offset != 0) {
      if (offset < kEntriesOffset || offset >= uint32_t(kEntriesOffset + 2 * entriesPerPage_) ||
          offset % 2 != 0) {
        Problem(where() + ": free link " + Hex(offset) + " is not an entry");
        break;
      }
      if (offset <= previous) {
        Problem(where() + ": free list is not ascending at " + Hex(offset));
        break;
      }
      if (++steps > entriesPerPage_) {
        Problem(where() + ": free list does not end");
        break;
      }
      const uint16_t entry = U16(base + offset);
      if ((entry & kFreeBit) == 0) {
        Problem(where() + ": free list holds the used entry at " + Hex(offset));
        break;
      }
      listed.insert(offset);
      previous = offset;
      offset = entry & 0x7FFF;
    }
    for (int32_t i = 0; i < entriesPerPage_; ++i) {
      const uint32_t entryOffset = kEntriesOffset + 2 * static_cast<uint32_t>(i);
      const uint64_t page =
          uint64_t{n} * static_cast<uint64_t>(entriesPerPage_) + static_cast<uint64_t>(i);
      const bool free = (U16(base + entryOffset) & kFreeBit) != 0;
      if (free && listed.count(entryOffset) == 0)
        Problem("page " + std::to_string(page) + " is free but on no free list (leaked)");
    }
    if (!listed.empty()) {
      anyFree = true;
      if (firstWithFree < 0) firstWithFree = static_cast<int32_t>(n);
    }
  }
  const uint32_t hint = HeaderU32(0x10);
  if (hint == 0) {
    if (anyFree) Problem("FirstMapPageEmpty is 0 but pages are free");
    return;
  }
  int32_t hinted = -1;
  for (uint32_t n = 0; n < mapPages_.size(); ++n)
    if (mapPages_[n] == hint) hinted = static_cast<int32_t>(n);
  if (hinted < 0) {
    Problem("FirstMapPageEmpty " + Hex(hint) + " is no map page");
  } else if (firstWithFree >= 0 && firstWithFree < hinted) {
    Problem("map page " + std::to_string(firstWithFree) +
            " has free pages but lies before FirstMapPageEmpty");
  }
}

::testing::AssertionResult FileIsIntact(const std::string& FileName, int32_t PageSize) {
  IntegrityCheck check(FileName, PageSize);
  if (check.Run()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << FileName << " is damaged:\n" << check.Report();
}

}  // namespace testsupport
