#pragma once
// Checks of the tables in a database file, on top of the map and store
// checks. Like those, they read the file's bytes and know the layouts only
// from their own constants:
//  - every page owned by a table belongs to a table that one of the two
//    table maps lists: a deleted table leaves no page behind;
//  - every index slot of a table's header names a root page of that table's
//    index store, with a depth from 1 up, a leaf flag that agrees with the
//    depth (a tree of depth 1 is one leaf) and entries that fit the page.
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

// Runs the map, store-map and table checks and then Checks on FileName.
::testing::AssertionResult TablesAreIntact(const std::string& FileName,
                                           const std::function<void(StoreCheck&)>& Checks = {},
                                           StoreCheck::PageDecoder Decoder = {},
                                           std::set<uint32_t> Encrypted = {});

}  // namespace testsupport
