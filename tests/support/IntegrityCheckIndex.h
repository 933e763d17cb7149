#pragma once
// B-tree checks of the integrity checker. Like the other checks they read
// pages as raw bytes and know the layouts only from their own constants:
//  - page: leaf flag 0 or 1, used bytes within the page, entries whose
//    lengths add up to the used bytes exactly (and, for fixed-size keys,
//    equal the key size);
//  - shape: every leaf at depth - 1, no page reached twice, no page but the
//    root empty;
//  - counts: each internal entry counts exactly the records below it;
//  - keys: each internal entry carries its child's first key byte for byte;
//    with a comparison given, the keys of every page and of the whole leaf
//    level ascend (strictly for a unique index);
//  - links: the leaves form one chain in key order, the first with prior 0
//    and the last with next 0; internal pages have no links;
//  - ownership (files): every page of the tree is a live page of the
//    index's owner code, and every live page of that code belongs to a tree.
// The tree walk reads pages through a source, so the same checks run on a
// file image and on a live block store.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/IntegrityCheck.h"

namespace testsupport {

// Fills Page with the PageSize bytes at Addr; false when there is no page.
using IndexPageSource = std::function<bool(uint32_t Addr, std::vector<uint8_t>& Page)>;
// The order of two whole entries (negative, 0, positive).
using IndexKeyCompare = std::function<int(const uint8_t* A, const uint8_t* B)>;

struct IndexTreeDesc {
  std::string Name = "index";
  uint32_t Root = 0;
  uint32_t Depth = 0;
  int32_t PageSize = 4096;
  // Leaves the key order unchecked when empty.
  IndexKeyCompare Compare;
  bool Unique = false;
  // The length of every entry of an index of fixed-size keys, else 0.
  int32_t FixedKeySize = 0;
};

struct IndexTreeReport {
  std::vector<std::string> Problems;
  uint64_t Records = 0;
  std::vector<uint32_t> Pages;
  // Every leaf entry, whole, in leaf-chain order.
  std::vector<std::vector<uint8_t>> LeafEntries;
  bool Ok() const { return Problems.empty(); }
  std::string Report() const;
};

IndexTreeReport CheckIndexTree(const IndexPageSource& Source, const IndexTreeDesc& Desc);

// The checks on a database file, for use inside IntegrityCheck::Run (the
// map's view must be loaded).
class IndexCheck {
 public:
  explicit IndexCheck(IntegrityCheck& Check);

  // Checks one tree whose pages must be live pages of OwnerCode; problems
  // go to the integrity check.
  IndexTreeReport CheckTree(const IndexTreeDesc& Desc, uint16_t OwnerCode);
  // Every live page of OwnerCode belongs to one of the trees checked.
  void CheckNoStrayPages(uint16_t OwnerCode);

 private:
  IntegrityCheck& check_;
  std::set<uint32_t> treePages_;
};

// Runs the map checks and then Checks on FileName.
::testing::AssertionResult IndexesAreIntact(const std::string& FileName,
                                            const std::function<void(IndexCheck&)>& Checks);

}  // namespace testsupport
