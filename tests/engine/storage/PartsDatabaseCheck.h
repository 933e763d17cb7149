#pragma once
// The integrity checker over a parts database: it decrypts the encrypted
// table's pages with the parts key.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/storage/PartsDatabase.h"
#include "engine/storage/StorageTestSupport.h"
#include "support/IntegrityCheckTables.h"

namespace zel::partsdb {

inline ::testing::AssertionResult PartsAreIntact(const std::string& FileName) {
  std::set<uint32_t> encrypted;
  for (const TTableSpec& spec : PartsTables())
    if (spec.Level != encNone) encrypted.insert(static_cast<uint32_t>(spec.TableID));
  return testsupport::TablesAreIntact(
      FileName, {},
      [](uint32_t TableID, uint8_t* Page, int32_t Size) {
        storagetest::DecryptPage(false, kCryptKey, TableID, Page, Size);
      },
      std::move(encrypted));
}

}  // namespace zel::partsdb
