#pragma once
// A database for table tests, in memory (parameter false) or in a file
// (true); the file is checked for integrity when the test ends.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/zelDatabase.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel::tabletest {

class TableSuite : public ::testing::TestWithParam<bool> {
 protected:
  bool Disk() const { return GetParam(); }
  std::string File() const { return Dir.File("test.zel"); }

  void SetUp() override { Db = Connect(true); }

  void TearDown() override {
    Tables.clear();
    if (Db) Db->SetConnected(false);
    Db.reset();
    if (Disk()) {
      EXPECT_TRUE(testsupport::DatabaseIsIntact(File()));
    }
  }

  // A new connection to the test database (made on the first call).
  std::unique_ptr<TZelDataBase> Connect(bool Create) {
    auto db = std::make_unique<TZelDataBase>();
    if (Disk()) {
      db->SetDirectory(Dir.Path());
      db->SetDataBaseName("test.zel");
      db->SetLockRetryInterval(5);
      if (Create) db->CreateDatabase();
    } else {
      db->SetDataBaseName("memory");
    }
    db->SetConnected(true);
    return db;
  }

  // Closes every table and, on a file, the connection, then connects again.
  void Reconnect() {
    Tables.clear();
    if (!Disk()) return;
    Db->SetConnected(false);
    Db = Connect(false);
  }

  template <class T = TZelTable>
  T& NewTable(const std::string& Name, TZelDataBase* On = nullptr) {
    auto table = std::make_unique<T>();
    T& t = *table;
    t.SetDataBase(On != nullptr ? On : Db.get());
    t.SetTableName(Name);
    t.SetMemory(!Disk());
    Tables.push_back(std::move(table));
    return t;
  }

  testsupport::TempDir Dir;
  std::unique_ptr<TZelDataBase> Db;
  std::vector<std::unique_ptr<TZelTable>> Tables;
};

}  // namespace zel::tabletest
