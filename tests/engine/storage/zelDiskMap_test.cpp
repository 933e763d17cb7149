#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelDisk.h"
#include "platform/os/Files.h"
#include "support/IntegrityCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using storagetest::ExpectError;

// ---------------------------------------------------------------- global header

TEST(GlobalHdr, SettersMarkDirtyOnlyOnChange) {
  TGlobalHdr hdr;
  hdr.Initialize();
  EXPECT_EQ(hdr.HdrSize(), 128);
  EXPECT_EQ(hdr.BaseAddress(), 1024u);
  hdr.SetMapPageCount(0);
  EXPECT_FALSE(hdr.Dirty());
  hdr.SetMapPageCount(3);
  EXPECT_TRUE(hdr.Dirty());
  hdr.SetDirty(false);
  hdr.SetMapPageCount(3);
  EXPECT_FALSE(hdr.Dirty());
  hdr.GlobalInterfaceSetHdrItem(77, 0x24);
  EXPECT_EQ(hdr.GetIndexesFirstEmpty(), 77u);
  EXPECT_TRUE(hdr.Dirty());
  // Fields land at their offsets, little-endian.
  hdr.SetFirstMapPageEmpty(0x11223344);
  EXPECT_EQ(hdr.Buffer()[0x10], 0x44);
  EXPECT_EQ(hdr.Buffer()[0x13], 0x11);
}

TEST(GlobalHdr, ItemsStayInsideTheHeader) {
  TGlobalHdr hdr;
  hdr.Initialize();
  for (int32_t offset : {1, 0x10, 0x28, 124}) {
    hdr.GlobalInterfaceSetHdrItem(0xA5A5A5A5u, offset);
    EXPECT_EQ(hdr.GlobalInterfaceGetHdrItem(offset), 0xA5A5A5A5u) << offset;
  }
  for (int32_t offset : {-4, 0, 125, 127, 128, 1000}) {
    ExpectError(0x2185, "DB Header. Item offset is out of range",
                [&] { hdr.GlobalInterfaceGetHdrItem(offset); });
    ExpectError(0x2185, "DB Header. Item offset is out of range",
                [&] { hdr.GlobalInterfaceSetHdrItem(1, offset); });
  }
  TGlobalHdr unsized;
  unsized.SetHdrSize(0);
  ExpectError(0x2185, "Unable to initialize header - size not set", [&] { unsized.Initialize(); });
  ExpectError(0x2185, "", [&] { unsized.GetMapPageCount(); });
}

// ---------------------------------------------------------------- page map

constexpr int32_t kPage = 256;
constexpr int32_t kEntries = (kPage - 20) / 2;  // 118 pages per map page
constexpr uint16_t kFree = 0x8000;

uint16_t Code(uint32_t Table, uint32_t Usage) {
  return static_cast<uint16_t>((Table << 4) | Usage);
}

uint16_t EntryOffset(uint32_t Page) {
  return static_cast<uint16_t>(20 + 2 * (Page % kEntries));
}

class MapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name = dir.File("map.zel");
    TDiskMgr creator;
    creator.SetFileName(name);
    creator.SetPageSize(kPage);
    creator.CreateNewFile();
    Reopen();
  }
  void TearDown() override {
    mgr.Close();
    EXPECT_TRUE(testsupport::FileIsIntact(name, kPage));
  }
  void Reopen() {
    mgr.Close();
    mgr.SetFileName(name);
    mgr.SetPageSize(kPage);
    mgr.Open();
  }
  uint32_t Allocate(int32_t Count, uint32_t Table = 3, uint32_t Usage = 9) {
    const std::vector<uint8_t> data(static_cast<size_t>(Count * kPage),
                                    static_cast<uint8_t>(Table));
    return mgr.WriteNewPages(Table, 1, Count, data.data(), Usage) / kPage;
  }
  void Release(uint32_t Page, int32_t Count = 1) { mgr.ReleasePages(Page * kPage, Count); }
  testsupport::IntegrityCheck Check() {
    testsupport::IntegrityCheck check(name, kPage);
    EXPECT_TRUE(check.Run()) << check.Report();
    return check;
  }
  // The free list of map page 0 as page numbers.
  std::vector<uint32_t> FreeList(const testsupport::IntegrityCheck& Check) {
    std::vector<uint32_t> pages;
    uint32_t offset = Check.U16(5 * kPage + 8);
    while (offset != 0 && pages.size() <= kEntries) {
      pages.push_back((offset - 20) / 2);
      offset = Check.U16(5 * kPage + offset) & 0x7FFF;
    }
    return pages;
  }

  testsupport::TempDir dir;
  std::string name;
  TDiskMgr mgr;
};

TEST_F(MapTest, FreedPagesJoinTheListInAscendingOrder) {
  EXPECT_EQ(Allocate(5), 6u);  // pages 6 to 10
  Release(7);
  Release(9);
  Release(8);
  const auto check = Check();
  EXPECT_EQ(FreeList(check), (std::vector<uint32_t>{7, 8, 9}));
  EXPECT_EQ(check.U16(5 * kPage + 8), EntryOffset(7));
  EXPECT_EQ(check.Entry(7), kFree | EntryOffset(8));
  EXPECT_EQ(check.Entry(9), kFree);
  EXPECT_EQ(check.HeaderU32(0x10), 5u * kPage);  // FirstMapPageEmpty
}

TEST_F(MapTest, ARunFromTheMiddleKeepsTheEntriesBeforeIt) {
  Allocate(5);  // 6 to 10
  Release(7);
  Release(9, 2);
  EXPECT_EQ(FreeList(Check()), (std::vector<uint32_t>{7, 9, 10}));
  EXPECT_EQ(Allocate(2, 4), 9u);
  auto check = Check();
  EXPECT_EQ(FreeList(check), (std::vector<uint32_t>{7}));
  EXPECT_EQ(check.Entry(9), Code(4, 9));
  EXPECT_EQ(check.Entry(10), Code(4, 9));
  EXPECT_EQ(Allocate(1, 5), 7u);
  check = Check();
  EXPECT_TRUE(FreeList(check).empty());
  EXPECT_EQ(check.HeaderU32(0x10), 0u);  // nothing free anywhere
  EXPECT_EQ(Allocate(1), 11u);           // so the file grows
}

TEST_F(MapTest, APageBeyondTheLastMapPageAddsTheNextMapPage) {
  EXPECT_EQ(Allocate(kEntries - 6), 6u);  // fills map page 0: pages 6 to 53
  EXPECT_EQ(mgr.GlobalHdr()->GetMapPageCount(), 1u);
  EXPECT_EQ(Allocate(1, 4), static_cast<uint32_t>(kEntries));  // page 54: map page 1's range
  auto check = Check();
  ASSERT_EQ(check.MapPages().size(), 2u);
  EXPECT_EQ(check.MapPages()[1], (kEntries + 1u) * kPage);  // appended after the page
  EXPECT_EQ(check.Entry(kEntries), Code(4, 9));
  EXPECT_EQ(check.Entry(kEntries + 1), 2);
  // A run across several map ranges adds every map page it needs.
  const uint32_t run = Allocate(3 * kEntries, 5);
  check = Check();
  EXPECT_EQ(check.MapPages().size(), 5u);
  for (uint32_t page = run; page < run + 3 * kEntries; ++page)
    ASSERT_EQ(check.Entry(page), Code(5, 9)) << page;
  Reopen();
  EXPECT_EQ(mgr.GlobalHdr()->GetMapPageCount(), 5u);
}

TEST_F(MapTest, FreeingGuardsTheSystemAreaAndTheFileEnd) {
  Allocate(2);  // 6, 7
  ExpectError(0x2185, "mapping corrupted", [&] { Release(3); });
  ExpectError(0x2185, "mapping corrupted", [&] { Release(5); });
  ExpectError(0x2185, "mapping corrupted", [&] { Release(7, 2); });  // page 8 does not exist
  ExpectError(0x2185, "mapping corrupted", [&] { mgr.ReleasePages(6 * kPage + 1, 1); });
  Release(6);
  Release(6);  // a second release leaves it free once
  const auto check = Check();
  EXPECT_EQ(FreeList(check), (std::vector<uint32_t>{6}));
  EXPECT_EQ(check.Entry(7), Code(3, 9));
}

TEST_F(MapTest, DeleteOwnedPagesFreesExactlyTheOwnersPages) {
  Allocate(2, 3, 9);
  Allocate(2, 3, 8);
  Allocate(2, 4, 9);
  Allocate(kEntries, 3, 10);  // reaches into map page 1
  std::vector<uint32_t> listed;
  mgr.MapPageMgr()->ListPagesUsedByOwner(3, 0, false, listed);
  EXPECT_EQ(listed.size(), 4u + kEntries);
  mgr.DeleteOwnedPages(3, 8, true);
  auto check = Check();
  EXPECT_EQ(FreeList(check), (std::vector<uint32_t>{8, 9}));
  mgr.DeleteOwnedPages(3, 0, false);
  check = Check();
  EXPECT_EQ(check.PagesOwnedBy(Code(3, 9)).size(), 0u);
  EXPECT_EQ(check.PagesOwnedBy(Code(3, 10)).size(), 0u);
  EXPECT_EQ(check.PagesOwnedBy(Code(4, 9)).size(), 2u);
  // Table 0's header store has the system area's code; the system area and
  // the map stay whatever is asked.
  mgr.DeleteOwnedPages(0, 1, true);
  mgr.DeleteOwnedPages(0, 0, false);
  check = Check();
  for (uint32_t page = 0; page < 5; ++page) EXPECT_EQ(check.Entry(page), 1) << page;
  EXPECT_EQ(check.Entry(5), 2);
  EXPECT_EQ(check.HeaderU32(0x10), 5u * kPage);
}

// Thousands of random allocations and releases against a model of the map.
TEST_F(MapTest, RandomRunsAgreeWithAModel) {
  const uint32_t seed = 424242;
  std::mt19937 rng(seed);
  std::vector<uint16_t> model(6, 1);
  model[5] = 2;
  struct Run {
    uint32_t First;
    int32_t Count;
    uint16_t Code;
  };
  std::vector<Run> runs;
  const uint16_t usages[] = {1, 8, 9, 10};

  auto compare = [&](int Step) {
    testsupport::IntegrityCheck check(name, kPage);
    ASSERT_TRUE(check.Run()) << "step " << Step << "\n" << check.Report();
    ASSERT_EQ(check.PageCount(), model.size()) << "step " << Step;
    for (uint32_t page = 0; page < model.size(); ++page) {
      if (model[page] == kFree) {
        ASSERT_TRUE(check.IsFree(page)) << "step " << Step << " page " << page;
      } else {
        ASSERT_EQ(check.Entry(page), model[page]) << "step " << Step << " page " << page;
      }
    }
  };
  // True when some map page's range holds Count adjacent free pages.
  auto hasFreeRun = [&](int32_t Count) {
    int32_t length = 0;
    for (uint32_t page = 0; page < model.size(); ++page) {
      if (page % kEntries == 0) length = 0;
      length = model[page] == kFree ? length + 1 : 0;
      if (length >= Count) return true;
    }
    return false;
  };

  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
    const uint32_t op = rng() % 20;
    if (op < 10 || runs.empty()) {
      const int32_t count = static_cast<int32_t>(rng() % 20 == 0 ? 1 + rng() % 150 : 1 + rng() % 5);
      const uint32_t table = 1 + rng() % 6;
      const uint16_t usage = usages[rng() % 4];
      const auto oldEnd = static_cast<uint32_t>(model.size());
      const bool reuse = hasFreeRun(count);
      const uint32_t first = Allocate(count, table, usage);
      ASSERT_EQ(first < oldEnd, reuse) << "count " << count;
      const auto newEnd = static_cast<uint32_t>(mgr.GetFileSize() / kPage);
      model.resize(std::max(newEnd, oldEnd), 0);
      for (uint32_t page = first; page < first + static_cast<uint32_t>(count); ++page) {
        ASSERT_TRUE(page >= oldEnd || model[page] == kFree)
            << "page " << page << " handed out twice";
        model[page] = Code(table, usage);
      }
      for (uint32_t page = oldEnd; page < newEnd; ++page)
        if (model[page] == 0) model[page] = 2;  // map pages added on the way
      runs.push_back({first, count, Code(table, usage)});
    } else if (op < 18) {
      const size_t pick = rng() % runs.size();
      const Run run = runs[pick];
      const int32_t offset = static_cast<int32_t>(rng() % static_cast<uint32_t>(run.Count));
      const int32_t length =
          1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(run.Count - offset));
      Release(run.First + static_cast<uint32_t>(offset), length);
      for (int32_t i = 0; i < length; ++i)
        model[run.First + static_cast<uint32_t>(offset + i)] = kFree;
      runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(pick));
      if (offset > 0) runs.push_back({run.First, offset, run.Code});
      if (offset + length < run.Count)
        runs.push_back({run.First + static_cast<uint32_t>(offset + length),
                        run.Count - offset - length, run.Code});
    } else if (op == 18) {
      const uint32_t table = 1 + rng() % 6;
      const bool exact = rng() % 2 == 0;
      const uint16_t usage = usages[rng() % 4];
      mgr.DeleteOwnedPages(table, usage, exact);
      auto matches = [&](uint16_t code) {
        return exact ? code == Code(table, usage) : (code >> 4) == table && code != kFree;
      };
      for (uint32_t page = 6; page < model.size(); ++page)
        if (model[page] != 2 && model[page] != kFree && matches(model[page])) model[page] = kFree;
      std::erase_if(runs, [&](const Run& run) { return matches(run.Code); });
    } else if (rng() % 8 == 0) {
      Reopen();
    }
    if (step % 100 == 99) compare(step);
    if (HasFatalFailure()) return;
  }
  Reopen();
  compare(-1);
}

// ---------------------------------------------------------------- damaged maps

void PokeU16(const std::string& Name, uint32_t Offset, uint16_t Value) {
  std::fstream io(Name, std::ios::in | std::ios::out | std::ios::binary);
  const char bytes[2] = {static_cast<char>(Value & 0xFF), static_cast<char>(Value >> 8)};
  io.seekp(Offset);
  io.write(bytes, 2);
}

void PokeU32(const std::string& Name, uint32_t Offset, uint32_t Value) {
  PokeU16(Name, Offset, static_cast<uint16_t>(Value));
  PokeU16(Name, Offset + 2, static_cast<uint16_t>(Value >> 16));
}

TEST(DamagedMap, WalksStopWithACorruptionError) {
  testsupport::TempDir dir;
  const std::string base = dir.File("base.zel");
  {
    TDiskMgr mgr;
    mgr.SetFileName(base);
    mgr.SetPageSize(kPage);
    mgr.CreateNewFile();
    mgr.Open();
    const std::vector<uint8_t> data(10 * kPage, 1);
    mgr.WriteNewPages(3, 1, 10, data.data(), 9);  // pages 6 to 15
    mgr.ReleasePages(8 * kPage, 1);
    mgr.ReleasePages(10 * kPage, 2);  // free list 8, 10, 11
    mgr.Close();
  }
  ASSERT_TRUE(testsupport::FileIsIntact(base, kPage));
  const uint32_t map = 5 * kPage;
  const uint32_t header = 1024;
  struct Case {
    const char* What;
    std::function<void(const std::string&)> Damage;
    int32_t Pages;  // pages to allocate afterwards
  };
  const std::vector<Case> cases = {
      {"free list loops back",
       [&](const std::string& f) { PokeU16(f, map + 20 + 2 * 11, kFree | (20 + 2 * 8)); }, 1},
      {"free list head is odd", [&](const std::string& f) { PokeU16(f, map + 8, 21); }, 1},
      {"free list head past the entries", [&](const std::string& f) { PokeU16(f, map + 8, kPage); },
       1},
      {"free list holds a used page",
       [&](const std::string& f) { PokeU16(f, map + 20 + 2 * 10, 0x39); }, 1},
      {"free page beyond the file",
       [&](const std::string& f) {
         PokeU16(f, map + 8, 20 + 2 * 40);
         PokeU16(f, map + 20 + 2 * 40, kFree);
       },
       1},
      {"hint names a table page",
       [&](const std::string& f) { PokeU32(f, header + 0x10, 6 * kPage); }, 1},
      {"map page count beyond the file",
       [&](const std::string& f) { PokeU32(f, header + 0x18, 1000); }, 1},
      {"chain ends early", [&](const std::string& f) { PokeU32(f, header + 0x18, 2); }, 5},
      {"chain links past the file",
       [&](const std::string& f) {
         PokeU32(f, header + 0x18, 2);
         PokeU32(f, map + 4, 400 * kPage);
       },
       5},
      {"chain links to itself",
       [&](const std::string& f) {
         PokeU32(f, header + 0x18, 2);
         PokeU32(f, map + 4, map);
       },
       5},
      {"wrong sequence number", [&](const std::string& f) { PokeU32(f, map, 3); }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string name = dir.File("damaged.zel");
    plat::DeleteFile(name);
    ASSERT_TRUE(plat::CopyFile(base, name, false));
    c.Damage(name);
    TDiskMgr mgr;
    mgr.SetFileName(name);
    mgr.SetPageSize(kPage);
    mgr.Open();
    const std::vector<uint8_t> data(static_cast<size_t>(c.Pages * kPage), 2);
    ExpectError(0x2103, "", [&] { mgr.WriteNewPages(4, 1, c.Pages, data.data(), 9); });
    mgr.Close();
  }
}

}  // namespace
}  // namespace zel
