#pragma once
// The integrity checker over a parts database: it decrypts the encrypted
// table's pages with the parts key.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/PartsDatabase.h"
#include "engine/storage/StorageTestSupport.h"
#include "support/IntegrityCheckTables.h"

namespace zel::partsdb {

// The key layouts of the parts tables' indexes, from the record layout of
// the table definition: one key field each, ID and Name.
inline std::vector<testsupport::IndexKeyLayout> PartsKeyLayouts() {
  std::vector<testsupport::IndexKeyLayout> layouts;
  for (const TTableSpec& spec : PartsTables()) {
    const std::unique_ptr<TTableDef> def = MakePartsDef(spec.Name, spec.Level, spec.TableID);
    for (int32_t i = 0; i < def->InternalIndexDefs().Count(); ++i) {
      const TInternalFieldItem* field =
          def->InternalFields().FindField(i == 0 ? "ID" : "Name");
      testsupport::IndexKeyLayout layout;
      layout.TableID = static_cast<uint32_t>(spec.TableID);
      layout.Slot = static_cast<uint32_t>(def->InternalIndexDefs().Items(i)->IndexSequence());
      layout.RecordSize = static_cast<uint32_t>(def->RecordSize());
      testsupport::KeyFieldLayout key;
      key.Offset = static_cast<uint32_t>(field->DataOffset());
      key.NullFlag = field->NullFlagOffset();
      key.Size = static_cast<uint32_t>(field->FieldSize());
      if (field->DataType() == plat::ftString) key.SizeMarker = field->SizeMarkerOffset();
      layout.Fields.push_back(key);
      layouts.push_back(layout);
    }
  }
  return layouts;
}

// The tables' stores and maps, and every index entry against its record.
inline ::testing::AssertionResult PartsAreIntact(const std::string& FileName) {
  std::set<uint32_t> encrypted;
  for (const TTableSpec& spec : PartsTables())
    if (spec.Level != encNone) encrypted.insert(static_cast<uint32_t>(spec.TableID));
  const std::vector<testsupport::IndexKeyLayout> layouts = PartsKeyLayouts();
  return testsupport::TablesAreIntact(
      FileName,
      [&](testsupport::StoreCheck& Stores) {
        for (const testsupport::IndexKeyLayout& layout : layouts)
          testsupport::CheckIndexKeys(Stores, layout);
      },
      [](uint32_t TableID, uint8_t* Page, int32_t Size) {
        storagetest::DecryptPage(false, kCryptKey, TableID, Page, Size);
      },
      std::move(encrypted));
}

}  // namespace zel::partsdb
