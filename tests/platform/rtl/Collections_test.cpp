#include "platform/rtl/Collections.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RtlTestSupport.h"

namespace plat {
namespace {

class TNamedItem : public TCollectionItem {
 public:
  explicit TNamedItem(TCollection* collection) : TCollectionItem(collection) {}
  ~TNamedItem() override { ++destroyed; }

  std::string ClassName() const override { return "TNamedItem"; }
  std::string DisplayName() const override { return text.empty() ? ClassName() : text; }
  void Touch() { Changed(false); }

  void Assign(const TPersistent* Source) override {
    if (const auto* source = dynamic_cast<const TNamedItem*>(Source)) {
      text = source->text;
      return;
    }
    TCollectionItem::Assign(Source);
  }

  std::string text;
  static int destroyed;
};
int TNamedItem::destroyed = 0;

// Records every Update call: the item's text, or "*" for the whole collection.
class TWatchedCollection : public TCollection {
 public:
  explicit TWatchedCollection(TPersistent* owner = nullptr)
      : TCollection(CollectionItemClass<TNamedItem>(), owner) {}

  TNamedItem* Add(const std::string& text) {
    auto* item = static_cast<TNamedItem*>(TCollection::Add());
    item->text = text;
    return item;
  }
  TNamedItem* Item(int32_t index) const { return static_cast<TNamedItem*>(Items(index)); }

  std::vector<std::string> updates;

 protected:
  void Update(TCollectionItem* item) override {
    updates.push_back(item == nullptr ? "*" : static_cast<TNamedItem*>(item)->text);
  }
};

std::vector<std::string> Texts(const TWatchedCollection& collection) {
  std::vector<std::string> result;
  for (int32_t i = 0; i < collection.Count(); ++i) result.push_back(collection.Item(i)->text);
  return result;
}

std::vector<int32_t> Ids(const TCollection& collection) {
  std::vector<int32_t> result;
  for (int32_t i = 0; i < collection.Count(); ++i) result.push_back(collection.Items(i)->ID());
  return result;
}

using rtltest::MessageOf;

TEST(TCollectionTest, IdsAreNeverGivenTwice) {
  TWatchedCollection collection;
  collection.Add("a");
  collection.Add("b");
  collection.Add("c");
  EXPECT_EQ(Ids(collection), (std::vector<int32_t>{0, 1, 2}));
  collection.Delete(2);
  collection.Add("d");
  EXPECT_EQ(Ids(collection), (std::vector<int32_t>{0, 1, 3}));
  collection.Clear();
  collection.Add("e");
  EXPECT_EQ(Ids(collection), (std::vector<int32_t>{4}));
  EXPECT_EQ(collection.FindItemID(4), collection.Items(0));
  EXPECT_EQ(collection.FindItemID(0), nullptr);

  // An item moved to another collection gets an ID there.
  TWatchedCollection other;
  other.Add("x");
  TCollectionItem* moved = collection.Items(0);
  moved->SetCollection(&other);
  EXPECT_EQ(collection.Count(), 0);
  EXPECT_EQ(moved->ID(), 1);
  EXPECT_EQ(moved->Index(), 1);
}

TEST(TCollectionTest, InsertDeleteAndIndex) {
  TWatchedCollection collection;
  collection.Add("a");
  collection.Add("c");
  static_cast<TNamedItem*>(collection.Insert(1))->text = "b";
  static_cast<TNamedItem*>(collection.Insert(0))->text = "first";
  EXPECT_EQ(Texts(collection), (std::vector<std::string>{"first", "a", "b", "c"}));
  collection.Item(0)->SetIndex(3);
  EXPECT_EQ(Texts(collection), (std::vector<std::string>{"a", "b", "c", "first"}));
  EXPECT_EQ(collection.Item(2)->Index(), 2);

  const int destroyed = TNamedItem::destroyed;
  collection.Delete(1);
  delete collection.Item(0);  // an item freed on its own leaves its collection
  EXPECT_EQ(TNamedItem::destroyed, destroyed + 2);
  EXPECT_EQ(Texts(collection), (std::vector<std::string>{"c", "first"}));

  struct Case {
    std::function<void()> action;
    const char* message;
  };
  const Case cases[] = {
      {[&] { collection.Insert(3); }, "EListError: List index out of bounds (3)"},
      {[&] { collection.Insert(-1); }, "EListError: List index out of bounds (-1)"},
      {[&] { collection.Delete(2); }, "EListError: List index out of bounds (2)"},
      {[&] { collection.Items(-1); }, "EListError: List index out of bounds (-1)"},
      {[&] { collection.Item(0)->SetIndex(2); }, "EListError: List index out of bounds (2)"},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageOf(c.action), c.message);
  EXPECT_EQ(Texts(collection), (std::vector<std::string>{"c", "first"}));
}

TEST(TCollectionTest, UpdatesWaitForEndUpdate) {
  TWatchedCollection collection;
  collection.Add("a");
  collection.Item(0)->Touch();
  EXPECT_EQ(collection.updates, (std::vector<std::string>{"*", "a"}));
  collection.updates.clear();
  collection.BeginUpdate();
  collection.BeginUpdate();
  collection.Add("b");
  collection.Item(1)->Touch();
  collection.Delete(0);
  collection.EndUpdate();
  EXPECT_TRUE(collection.updates.empty());
  collection.EndUpdate();
  EXPECT_EQ(collection.updates, (std::vector<std::string>{"*"}));
  collection.updates.clear();
  collection.EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(collection.UpdateCount(), 0);
  collection.Item(0)->SetIndex(0);
  EXPECT_TRUE(collection.updates.empty());
}

TEST(TCollectionTest, AssignCopiesItems) {
  TPersistent owner;
  TWatchedCollection source(&owner);
  source.Add("x");
  source.Add("y");
  TWatchedCollection target;
  target.Add("old");
  target.Add("older");
  target.updates.clear();
  target.Assign(&source);
  EXPECT_EQ(Texts(target), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(Ids(target), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(target.updates, (std::vector<std::string>{"*"}));
  EXPECT_EQ(source.Owner(), &owner);
  EXPECT_EQ(target.Owner(), nullptr);
  EXPECT_EQ(target.Item(0)->DisplayName(), "x");
  EXPECT_EQ(TCollection(CollectionItemClass<TCollectionItem>()).Add()->DisplayName(),
            "TCollectionItem");

  TCollection plain(CollectionItemClass<TCollectionItem>());
  plain.Add();
  EXPECT_EQ(MessageOf([&] { target.Assign(&plain); }),
            "EConvertError: Cannot assign a TCollectionItem to a TNamedItem");
  EXPECT_EQ(MessageOf([&] { target.Items(0)->Assign(nullptr); }),
            "EConvertError: Cannot assign a nil to a TNamedItem");
  TPersistent stranger;
  EXPECT_EQ(MessageOf([&] { target.Assign(&stranger); }),
            "EConvertError: Cannot assign a TPersistent to a TCollection");
}

}  // namespace
}  // namespace plat
