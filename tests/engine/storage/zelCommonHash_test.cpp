#include "engine/storage/zelCommonHash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/zelCommonLists.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Published.h"

namespace zel {
namespace {

// Every key in one bucket, to exercise chains and matching.
class OneBucketHash : public TZelBaseHash {
 public:
  using TZelBaseHash::TZelBaseHash;
  uint32_t HashOf(const void*, int32_t) const override { return 0; }
};

int32_t Len(const std::string& s) {
  return static_cast<int32_t>(s.size());
}

std::vector<int32_t> Values(const plat::TList& list) {
  std::vector<int32_t> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(ListEntryToInt(list.Items(i)));
  return out;
}

TEST(ZelBaseHash, HashOfRotatesAndXors) {
  TZelBaseHash hash(1000, 8, 10);
  const uint8_t small[] = {1, 2, 3};
  EXPECT_EQ(hash.HashOf(small, 3), 27u);  // ((1 rol 2) ^ 2) rol 2 ^ 3
  const std::string fox = "The quick brown fox";
  EXPECT_EQ(hash.HashOf(fox.data(), Len(fox)), 3012151599u);  // bits wrap around
  EXPECT_EQ(hash.HashOf(nullptr, 0), 0u);
  // The bucket is the hash modulo HashSize.
  hash.Add(fox.data(), 8, 42);
  const uint32_t h8 = hash.HashOf(fox.data(), 8);
  EXPECT_EQ(hash.DumpHashValues(), "Bucket " + std::to_string(h8 % 1000) + ": 42\n");
}

TEST(ZelBaseHash, ConstructionFaults) {
  EXPECT_THROW(TZelBaseHash(10, 8, 11), plat::EAssertionFailed);
  EXPECT_THROW(TZelBaseHash(0, 8, 0), plat::EAssertionFailed);
  EXPECT_THROW(TZelBaseHash(10, 0, 5), plat::EAssertionFailed);
  EXPECT_NO_THROW(TZelBaseHash(10, 8, 10));
}

TEST(ZelBaseHash, AddFindDelete) {
  TZelBaseHash hash(100, 8, 50);
  const std::string a = "AAAAAAAA", b = "BBBBBBBB";
  EXPECT_FALSE(hash.Find(a.data(), 8));
  EXPECT_EQ(hash.ValueOf(a.data(), 8), -1);
  EXPECT_FALSE(hash.Delete(a.data(), 8));

  hash.Add(a.data(), 8, 1);
  hash.Add(b.data(), 8, 2);
  hash.Add(a.data(), 8, 3);  // a duplicate key: the newest wins
  EXPECT_EQ(hash.Count(), 3);
  EXPECT_TRUE(hash.Find(a.data(), 8));
  EXPECT_EQ(hash.ValueOf(a.data(), 8), 3);
  EXPECT_EQ(hash.ValueOf(b.data(), 8), 2);

  EXPECT_TRUE(hash.Delete(a.data(), 8));
  EXPECT_EQ(hash.ValueOf(a.data(), 8), 1);
  EXPECT_TRUE(hash.Delete(a.data(), 8));
  EXPECT_FALSE(hash.Find(a.data(), 8));
  EXPECT_FALSE(hash.Delete(a.data(), 8));
  EXPECT_EQ(hash.ValueOf(b.data(), 8), 2);
  EXPECT_EQ(hash.Count(), 1);

  // A stored value of -1 is still found.
  hash.Add(a.data(), 8, -1);
  EXPECT_TRUE(hash.Find(a.data(), 8));
}

TEST(ZelBaseHash, KeyLengthsAgainstTheSlot) {
  // Everything in one bucket, so only the key comparison decides.
  OneBucketHash hash(10, 8, 10);
  hash.Add("ab", 2, 1);
  struct Case {
    std::string key;
    int32_t value;
  };
  const std::vector<Case> cases = {
      {"ab", 1},
      {std::string("ab\0", 3), 1},            // a 0 follows in the slot
      {std::string("ab\0\0\0\0\0\0", 8), 1},  // the whole slot
      {"a", -1},                              // the slot goes on with "b"
      {"abc", -1},
      {"ba", -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hash.ValueOf(c.key.data(), Len(c.key)), c.value) << "'" << c.key << "'";
  }
  // A key longer than the slot is kept and compared on its first 8 bytes.
  hash.Add("0123456789", 10, 2);
  EXPECT_EQ(hash.ValueOf("01234567", 8), 2);
  EXPECT_EQ(hash.ValueOf("01234567XYZ", 11), 2);
  EXPECT_EQ(hash.ValueOf("0123456", 7), -1);
}

TEST(ZelBaseHash, ReusedSlotHoldsNoOldKeyBytes) {
  TZelBaseHash hash(1, 8, 1);  // one entry, reused at once
  hash.Add("abcdefgh", 8, 1);
  ASSERT_TRUE(hash.Delete("abcdefgh", 8));
  hash.Add("xy", 2, 2);
  EXPECT_EQ(hash.ValueOf("xy", 2), 2);
  EXPECT_EQ(hash.ValueOf(std::string("xy\0\0\0\0\0\0", 8).data(), 8), 2);
  EXPECT_EQ(hash.ValueOf("xycdefgh", 8), -1);
}

TEST(ZelBaseHash, FullAndClear) {
  TZelBaseHash hash(5, 4, 3);
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_FALSE(hash.CheckHashFull());
    hash.Add(&i, 4, i);
  }
  EXPECT_TRUE(hash.CheckHashFull());
  const int32_t extra = 9;
  try {
    hash.Add(&extra, 4, 9);
    FAIL() << "no exception";
  } catch (const plat::EAssertionFailed& e) {
    EXPECT_NE(e.Message().find("BaseHash is full"), std::string::npos) << e.Message();
  }
  const int32_t one = 1;
  ASSERT_TRUE(hash.Delete(&one, 4));
  EXPECT_FALSE(hash.CheckHashFull());
  hash.Add(&extra, 4, 9);
  EXPECT_EQ(hash.ValueOf(&extra, 4), 9);
  EXPECT_EQ(hash.Count(), 3);

  // Clear frees the storage: nothing is found and there is no room left.
  hash.Clear();
  EXPECT_EQ(hash.Count(), 0);
  EXPECT_FALSE(hash.Find(&extra, 4));
  EXPECT_FALSE(hash.Delete(&extra, 4));
  EXPECT_TRUE(hash.CheckHashFull());
  EXPECT_THROW(hash.Add(&extra, 4, 1), plat::EAssertionFailed);
}

TEST(ZelBaseHash, PossibleMatchList) {
  OneBucketHash one(4, 4, 4);
  one.Add("A", 1, 1);
  one.Add("B", 1, 2);
  one.Add("A", 1, 3);
  plat::TList list;
  list.Add(IntToListEntry(99));  // the list is appended to
  one.GetPossibleMatchList("A", 1, list);
  EXPECT_EQ(Values(list), (std::vector<int32_t>{99, 3, 1}));
  list.Clear();
  one.GetPossibleMatchList(nullptr, 0, list);  // no key: the whole bucket
  EXPECT_EQ(Values(list), (std::vector<int32_t>{3, 2, 1}));
  list.Clear();
  one.GetPossibleMatchList("C", 1, list);
  EXPECT_EQ(list.Count(), 0);

  // With the real hash, entries that only share the bucket are left out.
  TZelBaseHash hash(1, 4, 1);
  hash.Add("A", 1, 5);
  list.Clear();
  hash.GetPossibleMatchList("B", 1, list);
  EXPECT_EQ(list.Count(), 0);
  hash.GetPossibleMatchList("A", 1, list);
  EXPECT_EQ(Values(list), (std::vector<int32_t>{5}));
}

TEST(ZelBaseHash, DuplicateValues) {
  TZelBaseHash hash(10, 4, 10);
  EXPECT_FALSE(hash.CheckForDuplicateValues());
  hash.Add("a", 1, 1);
  hash.Add("b", 1, 2);
  EXPECT_FALSE(hash.CheckForDuplicateValues());
  hash.Add("c", 1, 1);
  EXPECT_TRUE(hash.CheckForDuplicateValues());
  hash.Delete("c", 1);
  EXPECT_FALSE(hash.CheckForDuplicateValues());
}

TEST(ZelBaseHash, DiagnosticsListEveryEntry) {
  TZelBaseHash hash(10, 2, 4);
  hash.SetSourceFieldName("Name");
  hash.SetDataType(plat::ftString);
  hash.Add("\x01\xAB", 2, 7);
  EXPECT_EQ(hash.DebugListKeys(), "Entry 0: value 7 key 01 AB\n");
  EXPECT_EQ(hash.SourceFieldName(), "Name");
  EXPECT_EQ(hash.DataType(), plat::ftString);
}

TEST(ZelBaseHash, AgreesWithModel) {
  // Random adds and deletes over a few keys in few buckets, against a map of
  // value stacks (newest last).
  const uint32_t seed = 7;
  std::mt19937 rng(seed);
  TZelBaseHash hash(7, 4, 7);
  std::map<int32_t, std::vector<int32_t>> model;
  int32_t live = 0;
  for (int step = 0; step < 5000; ++step) {
    const int32_t key = static_cast<int32_t>(rng() % 12);
    const bool add = rng() % 2 == 0;
    if (add && live < 7) {
      const int32_t value = static_cast<int32_t>(rng() % 1000);
      hash.Add(&key, 4, value);
      model[key].push_back(value);
      ++live;
    } else if (!add) {
      auto& stack = model[key];
      ASSERT_EQ(hash.Delete(&key, 4), !stack.empty()) << "seed " << seed << " step " << step;
      if (!stack.empty()) {
        stack.pop_back();
        --live;
      }
    }
    ASSERT_EQ(hash.Count(), live);
    ASSERT_EQ(hash.CheckHashFull(), live == 7);
    for (const auto& [k, stack] : model) {
      ASSERT_EQ(hash.ValueOf(&k, 4), stack.empty() ? -1 : stack.back())
          << "seed " << seed << " step " << step << " key " << k;
    }
  }
}

// ---------------------------------------------------------------- hashed collection

TEST(HashCollectionItem, KeyFromInts) {
  THashCollection collection(plat::CollectionItemClass<THashCollectionItem>());
  auto* item = static_cast<THashCollectionItem*>(collection.Add());
  EXPECT_FALSE(item->IsHashed());
  item->SetHashFromInts(0x04030201u, 0x08070605u);
  EXPECT_TRUE(item->IsHashed());
  const uint8_t expected[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::memcmp(item->GetHashKey(), expected, 8), 0);
  const uint8_t other[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  item->SetHashKey(other);
  EXPECT_EQ(std::memcmp(item->GetHashKey(), other, 8), 0);
  item->SetIsHashed(false);
  EXPECT_FALSE(item->IsHashed());
}

class HashCollectionTest : public ::testing::Test {
 protected:
  // Adds an item keyed (n, n * 7) and hashes it as the page cache does:
  // key set first, then added.
  THashCollectionItem* AddKeyed(uint32_t n) {
    auto* item = static_cast<THashCollectionItem*>(collection.Add());
    item->SetHashFromInts(n, n * 7);
    collection.AddHashKey(item->GetHashKey(), item->ID());
    return item;
  }
  // The key SetHashFromInts(n, n * 7) gives: both halves little-endian.
  static std::vector<uint8_t> Key(uint32_t n) {
    std::vector<uint8_t> key(8);
    for (int i = 0; i < 4; ++i) {
      key[i] = static_cast<uint8_t>(n >> (8 * i));
      key[4 + i] = static_cast<uint8_t>((n * 7) >> (8 * i));
    }
    return key;
  }

  THashCollection collection{plat::CollectionItemClass<THashCollectionItem>()};
};

TEST_F(HashCollectionTest, FindAndDelete) {
  THashCollectionItem* a = AddKeyed(1);
  THashCollectionItem* b = AddKeyed(2);
  EXPECT_EQ(collection.FindHashKey(Key(1).data()), a);
  EXPECT_EQ(collection.FindHashKey(Key(2).data()), b);
  EXPECT_EQ(collection.FindHashKey(Key(3).data()), nullptr);

  collection.DeleteHashKey(a);
  EXPECT_FALSE(a->IsHashed());
  EXPECT_EQ(collection.FindHashKey(Key(1).data()), nullptr);
  EXPECT_EQ(collection.Count(), 2);
  collection.DeleteHashKey(a);  // not hashed: nothing else is removed
  EXPECT_EQ(collection.FindHashKey(Key(2).data()), b);

  collection.DeleteHashedItem(b->Index());
  EXPECT_EQ(collection.Count(), 1);
  EXPECT_EQ(collection.FindHashKey(Key(2).data()), nullptr);
  EXPECT_EQ(collection.Hash().Count(), 0);
}

TEST_F(HashCollectionTest, FindsItemsThatWereMoved) {
  std::vector<THashCollectionItem*> items;
  for (uint32_t n = 0; n < 20; ++n) items.push_back(AddKeyed(n));
  items[0]->SetIndex(19);
  items[15]->SetIndex(0);
  for (uint32_t n = 0; n < 20; ++n) EXPECT_EQ(collection.FindHashKey(Key(n).data()), items[n]);
}

TEST_F(HashCollectionTest, FullHashIsRebuiltTwiceAsLarge) {
  for (uint32_t n = 0; n < 1000; ++n) AddKeyed(n);
  ASSERT_TRUE(collection.Hash().CheckHashFull());
  ASSERT_EQ(collection.Hash().HashKeyMax(), 1000);

  THashCollectionItem* extra = AddKeyed(1000);
  EXPECT_EQ(collection.Count(), 1001);
  EXPECT_EQ(collection.Hash().HashKeyMax(), 2002);
  EXPECT_EQ(collection.Hash().HashSize(), 2002);
  // Each key once, although the new item's key was set before the rebuild.
  EXPECT_EQ(collection.Hash().Count(), 1001);
  EXPECT_FALSE(collection.Hash().CheckForDuplicateValues());
  for (uint32_t n = 0; n <= 1000; ++n) {
    ASSERT_NE(collection.FindHashKey(Key(n).data()), nullptr) << n;
    EXPECT_EQ(collection.FindHashKey(Key(n).data())->Index(), static_cast<int32_t>(n));
  }
  collection.DeleteHashKey(extra);
  EXPECT_EQ(collection.FindHashKey(Key(1000).data()), nullptr);
}

TEST_F(HashCollectionTest, RebuildKeepsAtLeastOneThousandEntries) {
  for (uint32_t n = 0; n < 1000; ++n) AddKeyed(n);
  // Items freed without their keys leave stale entries behind that fill the
  // hash; the rebuild drops them.
  while (collection.Count() > 300) collection.Delete(collection.Count() - 1);
  ASSERT_TRUE(collection.Hash().CheckHashFull());
  AddKeyed(5000);
  EXPECT_EQ(collection.Hash().HashKeyMax(), 1000);
  EXPECT_EQ(collection.Hash().Count(), 301);
  EXPECT_EQ(collection.FindHashKey(Key(999).data()), nullptr);
  EXPECT_NE(collection.FindHashKey(Key(299).data()), nullptr);
  EXPECT_NE(collection.FindHashKey(Key(5000).data()), nullptr);
}

TEST_F(HashCollectionTest, ResetHashTakesOnlyHashedItems) {
  THashCollectionItem* a = AddKeyed(1);
  AddKeyed(2);
  collection.DeleteHashKey(a);
  collection.ResetHash();
  EXPECT_EQ(collection.Hash().Count(), 1);
  EXPECT_EQ(collection.FindHashKey(Key(1).data()), nullptr);
  EXPECT_NE(collection.FindHashKey(Key(2).data()), nullptr);
}

TEST_F(HashCollectionTest, ClearEmptiesItemsAndHash) {
  for (uint32_t n = 0; n < 1200; ++n) AddKeyed(n);
  collection.Clear();
  EXPECT_EQ(collection.Count(), 0);
  EXPECT_EQ(collection.Hash().Count(), 0);
  EXPECT_EQ(collection.Hash().HashKeyMax(), 1000);
  EXPECT_EQ(collection.FindHashKey(Key(3).data()), nullptr);
  THashCollectionItem* again = AddKeyed(3);
  EXPECT_EQ(collection.FindHashKey(Key(3).data()), again);
}

TEST_F(HashCollectionTest, UseHashSearchIsPublished) {
  EXPECT_FALSE(collection.UseHashSearch());
  const plat::TPropInfo* prop = collection.PublishedProperties().Find("UseHashSearch");
  ASSERT_NE(prop, nullptr);
  prop->Set(collection, plat::TPropValue(true));
  EXPECT_TRUE(collection.UseHashSearch());
}

}  // namespace
}  // namespace zel
