#pragma once
// A fixture for suites run on the memory database (parameter false) and on a
// database file (true); the file is checked for integrity after each test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/zelDatabase.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel::datasettest {

class MemoryOrDiskDatabase : public ::testing::TestWithParam<bool> {
 protected:
  bool Disk() const { return GetParam(); }

  void SetUp() override {
    Db = std::make_unique<TZelDataBase>();
    if (Disk()) {
      Db->SetDirectory(Dir.Path());
      Db->SetDataBaseName("test.zel");
      Db->SetExclusive(true);
      Db->CreateDatabase();
    } else {
      Db->SetDataBaseName("memory");
      EXPECT_EQ(Db->DataBaseName(), "MEMORY");
    }
    Db->SetConnected(true);
  }

  void TearDown() override {
    Tables.clear();
    Db->SetConnected(false);
    Db.reset();
    if (Disk()) {
      EXPECT_TRUE(testsupport::DatabaseIsIntact(Dir.File("test.zel")));
    }
  }

  // A table of this fixture's database, kept until the test ends.
  TZelTable& NewTable(const std::string& Name) {
    Tables.push_back(std::make_unique<TZelTable>());
    TZelTable& t = *Tables.back();
    t.SetDataBase(Db.get());
    t.SetTableName(Name);
    t.SetMemory(!Disk());
    return t;
  }

  testsupport::TempDir Dir;
  std::unique_ptr<TZelDataBase> Db;
  std::vector<std::unique_ptr<TZelTable>> Tables;
};

inline std::string MemoryOrDiskName(const ::testing::TestParamInfo<bool>& Info) {
  return Info.param ? std::string("Disk") : std::string("Memory");
}

}  // namespace zel::datasettest
