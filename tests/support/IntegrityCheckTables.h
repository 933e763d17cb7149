#pragma once
// Checks of the tables in a database file, on top of the map and store
// checks. Like those, they read the file's bytes and know the layouts only
// from their own constants:
//  - every page owned by a table belongs to a table that one of the two
//    table maps lists: a deleted table leaves no page behind;
//  - every index slot of a table's header names a root page of that table's
//    index store, with a depth from 1 up, a leaf flag that agrees with the
//    depth (a tree of depth 1 is one leaf) and entries that fit the page;
//    a header whose index count or slots do not fit the file is reported.
// Pages of encrypted tables are decrypted first by the decoder the test
// gives.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/IntegrityCheck.h"
#include "support/IntegrityCheckStores.h"

namespace testsupport {

// Call from inside a check that IntegrityCheck::Run performs.
void CheckTables(IntegrityCheck& Check, StoreCheck& Stores);

// The tables listed in both maps.
std::set<uint32_t> ListedTables(const StoreCheck& Stores);

// How one index's keys are made from the records of its table, for
// CheckIndexKeys. The checker builds each key from the record's bytes itself.
struct KeyFieldLayout {
  uint32_t Offset = 0;     // the value in the record
  int32_t NullFlag = -1;   // the byte that is 1 when the field has a value, -1 none
  uint32_t Size = 0;       // the value's bytes (a string's room)
  int32_t SizeMarker = -1; // a string's u16 length in the record, -1 for other types
};
struct IndexKeyLayout {
  uint32_t TableID = 0;
  uint32_t Slot = 0;
  uint32_t RecordSize = 0;
  uint32_t BitmapSize = 1;
  uint32_t FixedKeySize = 0;  // every key this long, 0 when keys are as long as their values
  std::vector<KeyFieldLayout> Fields;
};

// Walks the tree of the index (its pages must be the table's index pages
// and keep the tree's rules) and compares every leaf entry with the key
// built from the record it names: an entry whose record changed, or that
// names no record of the table, is reported. A table that neither map lists
// is left alone.
void CheckIndexKeys(StoreCheck& Stores, const IndexKeyLayout& Layout);

// Runs the map, store-map and table checks and then Checks on FileName.
::testing::AssertionResult TablesAreIntact(const std::string& FileName,
                                           const std::function<void(StoreCheck&)>& Checks = {},
                                           StoreCheck::PageDecoder Decoder = {},
                                           std::set<uint32_t> Encrypted = {});

}  // namespace testsupport
