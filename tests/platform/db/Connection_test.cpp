#include "platform/db/Connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MemDataSet.h"
#include "platform/rtl/Exceptions.h"

namespace {

using namespace plat;

// A connection that logs its steps and may refuse to connect.
class TLogConnection : public TCustomConnection {
 public:
  explicit TLogConnection(std::vector<std::string>& log) : TCustomConnection(nullptr), log_(log) {}
  bool GetConnected() const override { return connected_; }
  bool Refuse = false;

 protected:
  void DoConnect() override {
    log_.push_back("DoConnect");
    if (Refuse) throw EDatabaseError("no server");
    connected_ = true;
  }
  void DoDisconnect() override {
    log_.push_back("DoDisconnect");
    connected_ = false;
  }

 private:
  std::vector<std::string>& log_;
  bool connected_ = false;
};

TEST(Connection, ConnectAndDisconnectInOrder) {
  std::vector<std::string> log;
  TLogConnection db(log);
  db.BeforeConnect = [&](TObject*) { log.push_back("BeforeConnect"); };
  db.AfterConnect = [&](TObject*) { log.push_back("AfterConnect"); };
  db.BeforeDisconnect = [&](TObject*) { log.push_back("BeforeDisconnect"); };
  db.AfterDisconnect = [&](TObject*) { log.push_back("AfterDisconnect"); };
  TObject client;
  db.RegisterClient(&client, [&](TObject*, bool connecting) {
    log.push_back(connecting ? "client up" : "client down");
  });
  db.Open();
  EXPECT_TRUE(db.Connected());
  db.Open();  // already connected: nothing
  db.Close();
  db.Close();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeConnect", "DoConnect", "client up",
                                           "AfterConnect", "BeforeDisconnect", "client down",
                                           "DoDisconnect", "AfterDisconnect"}));

  log.clear();
  db.Refuse = true;
  EXPECT_THROW(db.SetConnected(true), EDatabaseError);
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeConnect", "DoConnect"}))
      << "a failed connect tells no client";
}

TEST(Connection, RegisteredDatasetsAreListed) {
  std::vector<std::string> log;
  TLogConnection db(log);
  testdb::TMemDataSet a, b;
  TObject other;
  db.RegisterClient(&a);
  db.RegisterClient(&b);
  db.RegisterClient(&a);  // once only
  db.RegisterClient(&other);
  EXPECT_EQ(db.DataSetCount(), 2);
  EXPECT_EQ(db.ClientCount(), 3);
  EXPECT_EQ(db.DataSets(1), &b);
  EXPECT_THROW(db.DataSets(2), EListError);
  db.UnRegisterClient(&a);
  EXPECT_EQ(db.DataSetCount(), 1);
  EXPECT_EQ(db.DataSets(0), &b);
}

TEST(Connection, ConnectedReadFromAStreamWaitsForLoaded) {
  std::vector<std::string> log;
  TLogConnection db(log);
  db.Loaded();
  EXPECT_FALSE(db.Connected());
}

}  // namespace
