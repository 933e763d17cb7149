#include "support/IntegrityCheckIndex.h"

#include <algorithm>
#include <sstream>

#include "support/IntegrityCheckBytes.h"

namespace testsupport {

namespace {

// Page and entry layout of the B-tree.
constexpr int32_t kLeaf = 0;
constexpr int32_t kUsed = 4;
constexpr int32_t kNext = 8;
constexpr int32_t kPrior = 12;
constexpr int32_t kHeader = 16;
constexpr int32_t kEntryCount = 2;
constexpr int32_t kEntryAddress = 6;
constexpr int32_t kEntryKey = 10;  // bitmap and values follow
constexpr uint32_t kMaxDepth = 32;

struct Walker {
  const IndexPageSource& source;
  const IndexTreeDesc& desc;
  IndexTreeReport& report;
  std::set<uint32_t> seen;
  std::vector<uint32_t> leaves;
  size_t problemLimit = 50;

  void Problem(const std::string& Text) {
    if (report.Problems.size() < problemLimit) report.Problems.push_back(desc.Name + ": " + Text);
  }

  // The entries of a page (offsets into the page), or false when the page
  // is unreadable.
  bool Entries(uint32_t Addr, const std::vector<uint8_t>& Page, std::vector<int32_t>& Out) {
    const uint32_t leaf = LoadU32(Page.data() + kLeaf);
    const uint32_t used = LoadU32(Page.data() + kUsed);
    if (leaf > 1)
      Problem("page " + std::to_string(Addr) + " has leaf flag " + std::to_string(leaf));
    if (used > static_cast<uint32_t>(desc.PageSize - kHeader)) {
      Problem("page " + std::to_string(Addr) + " uses " + std::to_string(used) + " bytes");
      return false;
    }
    for (uint32_t pos = 0; pos < used;) {
      const uint8_t* e = Page.data() + kHeader + pos;
      const uint32_t len = pos + 2 <= used ? LoadU16(e) : 0;
      if (len < kEntryKey + 1 || pos + len > used ||
          (desc.FixedKeySize > 0 && len != static_cast<uint32_t>(desc.FixedKeySize))) {
        Problem("page " + std::to_string(Addr) + " entry at " + std::to_string(pos) +
                " has length " + std::to_string(len));
        return false;
      }
      Out.push_back(kHeader + static_cast<int32_t>(pos));
      pos += len;
    }
    return true;
  }

  bool SameKey(const uint8_t* A, const uint8_t* B) {
    const uint16_t la = LoadU16(A);
    const uint16_t lb = LoadU16(B);
    return la == lb && std::equal(A + kEntryKey, A + la, B + kEntryKey);
  }

  // Walks the subtree at Addr on Level; returns its record count and copies
  // its first entry into First.
  uint64_t Walk(uint32_t Addr, uint32_t Level, std::vector<uint8_t>& First) {
    if (!seen.insert(Addr).second) {
      Problem("page " + std::to_string(Addr) + " is reached twice");
      return 0;
    }
    report.Pages.push_back(Addr);
    std::vector<uint8_t> page;
    if (!source(Addr, page) || page.size() < static_cast<size_t>(desc.PageSize)) {
      Problem("page " + std::to_string(Addr) + " cannot be read");
      return 0;
    }
    std::vector<int32_t> entries;
    if (!Entries(Addr, page, entries)) return 0;
    const bool leaf = LoadU32(page.data() + kLeaf) == 1;
    const bool leafLevel = Level + 1 == desc.Depth;
    if (leaf != leafLevel) {
      Problem("page " + std::to_string(Addr) + " on level " + std::to_string(Level) +
              (leaf ? " is a leaf" : " is not a leaf"));
      return 0;
    }
    if (entries.empty() && Level > 0) Problem("page " + std::to_string(Addr) + " is empty");
    if (!entries.empty()) {
      const uint8_t* e = page.data() + entries[0];
      First.assign(e, e + LoadU16(e));
    }
    if (desc.Compare) {
      for (size_t i = 1; i < entries.size(); ++i) {
        const int c = desc.Compare(page.data() + entries[i - 1], page.data() + entries[i]);
        if (c > 0 || (c == 0 && desc.Unique && leaf))
          Problem("page " + std::to_string(Addr) + " entries " + std::to_string(i - 1) + " and " +
                  std::to_string(i) + " are out of order");
      }
    }
    if (leaf) {
      leaves.push_back(Addr);
      for (int32_t off : entries) {
        const uint8_t* e = page.data() + off;
        report.LeafEntries.emplace_back(e, e + LoadU16(e));
      }
      return entries.size();
    }
    if (LoadU32(page.data() + kNext) != 0 || LoadU32(page.data() + kPrior) != 0)
      Problem("internal page " + std::to_string(Addr) + " has leaf links");
    uint64_t total = 0;
    for (int32_t off : entries) {
      const uint8_t* e = page.data() + off;
      std::vector<uint8_t> childFirst;
      const uint64_t n = Walk(LoadU32(e + kEntryAddress), Level + 1, childFirst);
      if (n != LoadU32(e + kEntryCount))
        Problem("entry of child " + std::to_string(LoadU32(e + kEntryAddress)) + " counts " +
                std::to_string(LoadU32(e + kEntryCount)) + " records, the child holds " +
                std::to_string(n));
      if (!childFirst.empty() && !SameKey(e, childFirst.data()))
        Problem("entry of child " + std::to_string(LoadU32(e + kEntryAddress)) +
                " does not carry the child's first key");
      total += n;
    }
    return total;
  }

  void CheckLinks() {
    std::vector<uint8_t> page;
    for (size_t i = 0; i < leaves.size(); ++i) {
      if (!source(leaves[i], page)) continue;
      const uint32_t prior = i == 0 ? 0 : leaves[i - 1];
      const uint32_t next = i + 1 == leaves.size() ? 0 : leaves[i + 1];
      if (LoadU32(page.data() + kPrior) != prior || LoadU32(page.data() + kNext) != next)
        Problem("leaf " + std::to_string(leaves[i]) + " links " +
                std::to_string(LoadU32(page.data() + kPrior)) + "/" +
                std::to_string(LoadU32(page.data() + kNext)) + ", expected " +
                std::to_string(prior) + "/" + std::to_string(next));
    }
  }
};

}  // namespace

std::string IndexTreeReport::Report() const {
  std::ostringstream out;
  for (const std::string& p : Problems) out << p << "\n";
  return out.str();
}

IndexTreeReport CheckIndexTree(const IndexPageSource& Source, const IndexTreeDesc& Desc) {
  IndexTreeReport report;
  Walker walker{Source, Desc, report, {}, {}};
  if (Desc.Root == 0 || Desc.Depth == 0 || Desc.Depth > kMaxDepth) {
    walker.Problem("root " + std::to_string(Desc.Root) + " depth " + std::to_string(Desc.Depth));
    return report;
  }
  std::vector<uint8_t> first;
  report.Records = walker.Walk(Desc.Root, 0, first);
  walker.CheckLinks();
  if (Desc.Compare) {
    for (size_t i = 1; i < report.LeafEntries.size(); ++i) {
      const int c = Desc.Compare(report.LeafEntries[i - 1].data(), report.LeafEntries[i].data());
      if (c > 0 || (c == 0 && Desc.Unique)) {
        walker.Problem("leaf level out of order at entry " + std::to_string(i));
        break;
      }
    }
  }
  return report;
}

// ---------------------------------------------------------------- files

IndexCheck::IndexCheck(IntegrityCheck& Check) : check_(Check) {}

IndexTreeReport IndexCheck::CheckTree(const IndexTreeDesc& Desc, uint16_t OwnerCode) {
  const auto& bytes = check_.Bytes();
  const int32_t pageSize = check_.PageSize();
  IndexPageSource source = [&](uint32_t Addr, std::vector<uint8_t>& Page) {
    if (Addr % static_cast<uint32_t>(pageSize) != 0 ||
        static_cast<uint64_t>(Addr) + static_cast<uint64_t>(Desc.PageSize) > bytes.size())
      return false;
    Page.assign(bytes.begin() + Addr, bytes.begin() + Addr + Desc.PageSize);
    return true;
  };
  IndexTreeReport report = CheckIndexTree(source, Desc);
  for (uint32_t addr : report.Pages) {
    const uint32_t page = addr / static_cast<uint32_t>(pageSize);
    if (check_.Entry(page) != OwnerCode)
      report.Problems.push_back(Desc.Name + ": page " + std::to_string(addr) + " has owner " +
                                std::to_string(check_.Entry(page)) + ", expected " +
                                std::to_string(OwnerCode));
    treePages_.insert(addr);
  }
  for (const std::string& p : report.Problems) check_.Problem(p);
  return report;
}

void IndexCheck::CheckNoStrayPages(uint16_t OwnerCode) {
  const uint32_t pageSize = static_cast<uint32_t>(check_.PageSize());
  for (uint32_t page : check_.PagesOwnedBy(OwnerCode))
    if (treePages_.count(page * pageSize) == 0)
      check_.Problem("page " + std::to_string(page * pageSize) + " of owner " +
                     std::to_string(OwnerCode) + " belongs to no index");
}

::testing::AssertionResult IndexesAreIntact(const std::string& FileName,
                                            const std::function<void(IndexCheck&)>& Checks) {
  IntegrityCheck check(FileName);
  check.AddCheck([&](IntegrityCheck& c) {
    IndexCheck index(c);
    Checks(index);
  });
  if (check.Run()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << check.Report();
}

}  // namespace testsupport
