#include "platform/rtl/Components.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RtlTestSupport.h"

namespace plat {
namespace {

// Logs its destruction and every notification it hears, and forgets a
// watched component that goes away, as real components do.
class TLogged : public TComponent {
 public:
  TLogged(TComponent* owner, std::string tag, std::vector<std::string>& log)
      : TComponent(owner), tag_(std::move(tag)), log_(log) {}
  ~TLogged() override { log_.push_back("free " + tag_); }

  std::string ClassName() const override { return "TLogged"; }

  void Watch(TLogged* other) {
    watched = other;
    // The component is half destroyed when it reports its removal; only its
    // address may be used then.
    watchedTag = other != nullptr ? other->tag_ : "";
    if (other != nullptr) other->FreeNotification(this);
  }

  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == watched) {
      log_.push_back(tag_ + " lost " + watchedTag);
      watched = nullptr;
    }
    if (operation == opInsert) log_.push_back(tag_ + " saw insert");
  }

  TLogged* watched = nullptr;
  std::string watchedTag;

 private:
  std::string tag_;
  std::vector<std::string>& log_;
};

using rtltest::MessageOf;

TEST(TComponentTest, OwnerFreesInReverseOrder) {
  std::vector<std::string> log;
  {
    auto owner = std::make_unique<TLogged>(nullptr, "owner", log);
    auto* a = new TLogged(owner.get(), "a", log);
    new TLogged(a, "a1", log);
    new TLogged(owner.get(), "b", log);
    new TLogged(owner.get(), "c", log);
    EXPECT_EQ(owner->ComponentCount(), 3);
    EXPECT_EQ(owner->Components(0), a);
    EXPECT_EQ(a->Owner(), owner.get());
    EXPECT_EQ(a->ComponentIndex(), 0);
    log.clear();
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free owner", "free c", "free b", "free a", "free a1"}));
}

TEST(TComponentTest, NamesAreIdentifiersUniqueInTheOwner) {
  std::vector<std::string> log;
  TLogged owner(nullptr, "owner", log);
  auto* a = new TLogged(&owner, "a", log);
  auto* b = new TLogged(&owner, "b", log);
  a->SetName("Table1");
  EXPECT_EQ(owner.FindComponent("TABLE1"), a);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  a->SetName("TABLE1");  // the same name in another case
  EXPECT_EQ(a->Name(), "TABLE1");

  struct Case {
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {"1abc", "EComponentError: '1abc' is not a valid component name"},
      {"a b", "EComponentError: 'a b' is not a valid component name"},
      {"caf\xC3\xA9", "EComponentError: 'caf\xC3\xA9' is not a valid component name"},
      {"table1", "EComponentError: A component named table1 already exists"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MessageOf([&] { b->SetName(c.name); }), c.message);
    EXPECT_EQ(b->Name(), "");
  }
  b->SetName("_x9");
  EXPECT_EQ(b->Name(), "_x9");
  b->SetName("");
  EXPECT_EQ(owner.FindComponent("_x9"), nullptr);

  // Taking over a component whose name the new owner has already is refused.
  TLogged other(nullptr, "other", log);
  auto* c = new TLogged(&other, "c", log);
  c->SetName("Table1");
  EXPECT_EQ(MessageOf([&] { owner.InsertComponent(c); }),
            "EComponentError: A component named Table1 already exists");
  EXPECT_EQ(c->Owner(), &other);
  EXPECT_EQ(MessageOf([&] { owner.Components(2); }), "EListError: List index out of bounds (2)");
}

TEST(TComponentTest, InsertAndRemoveMoveOwnership) {
  std::vector<std::string> log;
  TLogged first(nullptr, "first", log);
  TLogged second(nullptr, "second", log);
  auto* child = new TLogged(&first, "child", log);
  EXPECT_EQ(log, (std::vector<std::string>{"first saw insert"}));
  second.InsertComponent(child);
  EXPECT_EQ(child->Owner(), &second);
  EXPECT_EQ(first.ComponentCount(), 0);
  second.RemoveComponent(child);
  EXPECT_EQ(child->Owner(), nullptr);
  std::unique_ptr<TLogged> owned(child);
  owned.reset();
  EXPECT_EQ(log.back(), "free child");
}

TEST(TComponentTest, FreeNotificationAcrossOwners) {
  std::vector<std::string> log;
  auto database = std::make_unique<TLogged>(nullptr, "database", log);
  auto form = std::make_unique<TLogged>(nullptr, "form", log);
  auto* table = new TLogged(form.get(), "table", log);
  table->Watch(database.get());
  EXPECT_TRUE(database->ComponentState().Contains(csFreeNotification));
  database.reset();
  EXPECT_EQ(table->watched, nullptr);
  // The component's own destructor has run before it tells the others.
  EXPECT_EQ(log,
            (std::vector<std::string>{"form saw insert", "free database", "table lost database"}));

  // The watcher going first unlinks itself: the watched one later tells no one.
  log.clear();
  auto other = std::make_unique<TLogged>(nullptr, "other", log);
  table->Watch(other.get());
  form.reset();
  other.reset();
  EXPECT_EQ(log, (std::vector<std::string>{"free form", "free table", "free other"}));

  // RemoveFreeNotification drops the link both ways.
  log.clear();
  TLogged x(nullptr, "x", log);
  {
    TLogged y(nullptr, "y", log);
    y.Watch(&x);
    x.RemoveFreeNotification(&y);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free y"}));
}

TEST(TComponentTest, SiblingsHearThroughTheOwner) {
  std::vector<std::string> log;
  {
    TLogged form(nullptr, "form", log);
    auto* table = new TLogged(&form, "table", log);
    auto* database = new TLogged(&form, "database", log);
    auto* query = new TLogged(&form, "query", log);
    table->Watch(database);
    query->Watch(database);
    log.clear();
    delete database;
    EXPECT_EQ(table->watched, nullptr);
    EXPECT_EQ(query->watched, nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"free database", "query lost database",
                                             "table lost database"}));

    // Freed by the owner, a watched sibling still warns the others first.
    auto* late = new TLogged(&form, "late", log);
    table->Watch(late);
    new TLogged(&form, "last", log);
    log.clear();
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free form", "free last", "table lost late", "free late",
                                           "free query", "free table"}));
}

class TStateProbe : public TComponent {
 public:
  TStateProbe(TComponent* owner, TComponentState& seen) : TComponent(owner), seen_(seen) {}
  ~TStateProbe() override { seen_ = ComponentState(); }

 private:
  TComponentState& seen_;
};

TEST(TComponentTest, StateFlags) {
  TComponentState seen;
  {
    TComponent owner(nullptr);
    new TStateProbe(&owner, seen);
    owner.SetDesigning(true);
    auto* late = new TComponent(&owner);
    EXPECT_TRUE(late->ComponentState().Contains(csDesigning));
    owner.SetDesigning(false);
    EXPECT_FALSE(late->ComponentState().Contains(csDesigning));
    EXPECT_FALSE(owner.ComponentState().Contains(csDestroying));
  }
  EXPECT_TRUE(seen.Contains(csDestroying));
  EXPECT_FALSE(seen.Contains(csLoading));
}

TEST(TSetTest, Operations) {
  const TComponentState a{csLoading, csReading};
  const TComponentState b{csReading, csWriting};
  EXPECT_EQ(a + b, (TComponentState{csLoading, csReading, csWriting}));
  EXPECT_EQ(a - b, (TComponentState{csLoading}));
  EXPECT_EQ(a * b, (TComponentState{csReading}));
  EXPECT_TRUE((TComponentState{csReading}) <= a);
  EXPECT_FALSE(b <= a);
  EXPECT_EQ(a.Bits(), 3u);
  EXPECT_TRUE(TComponentState().Empty());
}

}  // namespace
}  // namespace plat
