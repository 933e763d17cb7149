#pragma once
// The database file integrity checker of the tests. It reads a file as raw
// bytes, independently of the engine's own code, and checks what the engine
// promises about it:
//  - the file is a whole number of pages, at least the six of a new file;
//  - the global header's roots: the first map page at page 5, a map chain of
//    MapPageCount pages with sequence numbers 0, 1, ... ending in a 0 link;
//  - every page of the file has a map entry and no entry describes a page
//    beyond the end; pages 0 to 4 are the system area, map pages carry the
//    map's code and nothing else does; other owner codes are table codes;
//  - every free list is strictly ascending and holds exactly the free
//    entries of its map page (nothing leaked, nothing listed twice);
//  - FirstMapPageEmpty is 0 only when nothing is free, and otherwise names a
//    map page with no free entries on any earlier one;
//  - the security header at 0x300, once written (not all zero), has its
//    size 40, the two words 1 and 1, and a CRC-32 that matches its bytes.
//
// Later checks (table stores, blob chains, B-trees) are added with AddCheck
// or as members that Run calls; they find the loaded image and the map's
// view through the accessors below and report through Problem.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class IntegrityCheck {
 public:
  using Check = std::function<void(IntegrityCheck&)>;

  explicit IntegrityCheck(std::string FileName, int32_t PageSize = 4096);

  // Adds a check that Run performs after the map checks, when those found
  // the map sound enough to be read.
  void AddCheck(Check Extra) { extras_.push_back(std::move(Extra)); }

  // Loads the file and runs every check; true when no problem was found.
  bool Run();
  const std::vector<std::string>& Problems() const { return problems_; }
  // The problems, one a line.
  std::string Report() const;
  void Problem(const std::string& Text) { problems_.push_back(Text); }

  // The loaded file.
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  int32_t PageSize() const { return pageSize_; }
  uint32_t PageCount() const { return static_cast<uint32_t>(bytes_.size() / pageSize_); }
  uint16_t U16(uint64_t Offset) const;
  uint32_t U32(uint64_t Offset) const;
  // The global header's u32 at Offset (0 to 124).
  uint32_t HeaderU32(int32_t Offset) const { return U32(1024 + static_cast<uint64_t>(Offset)); }

  // The map's view, valid after Run: the map entry of each page of the file
  // (0 for a page no map page covers), and the addresses of the map pages in
  // chain order.
  uint16_t Entry(uint32_t PageNo) const {
    return PageNo < entries_.size() ? entries_[PageNo] : uint16_t{0};
  }
  bool IsFree(uint32_t PageNo) const { return (Entry(PageNo) & 0x8000) != 0; }
  const std::vector<uint32_t>& MapPages() const { return mapPages_; }
  // Pages whose entry is exactly Code.
  std::vector<uint32_t> PagesOwnedBy(uint16_t Code) const;

 private:
  bool Load();
  bool CheckHeader();
  bool CheckChain();
  void CheckEntries();
  void CheckFreeLists();
  void CheckSecurityHeader();

  std::string fileName_;
  int32_t pageSize_;
  int32_t entriesPerPage_;
  std::vector<uint8_t> bytes_;
  std::vector<std::string> problems_;
  std::vector<uint16_t> entries_;
  std::vector<uint32_t> mapPages_;
  std::vector<Check> extras_;
};

// For EXPECT_TRUE / ASSERT_TRUE: success, or the checker's report.
::testing::AssertionResult FileIsIntact(const std::string& FileName, int32_t PageSize = 4096);

}  // namespace testsupport
