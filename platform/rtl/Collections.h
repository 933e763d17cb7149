#pragma once
// Collections: lists of like items that belong to one owner and are streamed
// with it. Each item gets an ID from a counter of its collection that only
// grows, so an ID is never given twice within one collection.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/ClassesBase.h"
#include "platform/rtl/Visibility.h"

namespace plat {

class TCollection;

// An item lives in at most one collection; constructing an item with a
// collection inserts it there, destroying it takes it out.
class PLAT_API TCollectionItem : public TPersistent {
 public:
  explicit TCollectionItem(TCollection* Collection);
  TCollectionItem(const TCollectionItem&) = delete;
  TCollectionItem& operator=(const TCollectionItem&) = delete;
  ~TCollectionItem() override;

  std::string ClassName() const override { return "TCollectionItem"; }

  TCollection* Collection() const { return collection_; }
  // Moves the item to another collection (or to none), where it gets a new ID.
  void SetCollection(TCollection* Value);
  int32_t ID() const { return id_; }
  // Position in the collection, -1 when in none.
  int32_t Index() const;
  virtual void SetIndex(int32_t Value);
  // The class name unless a descendant has a better one.
  virtual std::string DisplayName() const;
  virtual void SetDisplayName(const std::string& Value);

 protected:
  // Tells the collection that this item (or, with AllItems, the collection as
  // a whole) changed, unless the collection is inside BeginUpdate.
  void Changed(bool AllItems);

 private:
  friend class TCollection;

  TCollection* collection_ = nullptr;
  int32_t id_ = 0;
};

// Makes a new item inside the given collection; the collection owns it.
using TCollectionItemClass = std::function<TCollectionItem*(TCollection* Collection)>;

template <class T>
TCollectionItemClass CollectionItemClass() {
  return [](TCollection* collection) -> TCollectionItem* { return new T(collection); };
}

// Owns its items and frees them (last first) when cleared or destroyed. A
// descendant whose items use its own members in their destructors should
// Clear in its destructor. Invariant: every item in items_ has collection_ ==
// this, and IDs in items_ are distinct and below nextID_.
class PLAT_API TCollection : public TPersistent {
 public:
  explicit TCollection(TCollectionItemClass ItemClass, TPersistent* Owner = nullptr);
  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;
  ~TCollection() override;

  std::string ClassName() const override { return "TCollection"; }

  TCollectionItem* Add();
  // Adds an item and moves it to Index (0..Count).
  TCollectionItem* Insert(int32_t Index);
  void Delete(int32_t Index);
  void Clear();
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TCollectionItem* Items(int32_t Index) const;
  // Assigns Value to the item at Index.
  void SetItems(int32_t Index, const TCollectionItem* Value);
  TCollectionItem* FindItemID(int32_t ID) const;

  // Nested; Update(nullptr) follows the outermost EndUpdate.
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int32_t UpdateCount() const { return updateCount_; }

  TPersistent* Owner() const { return owner_; }
  const TCollectionItemClass& ItemClass() const { return itemClass_; }

  // From another collection: clears this one and adds one item per source
  // item, each assigned from its source item (new IDs).
  void Assign(const TPersistent* Source) override;

 protected:
  // Called after a change: Item is the changed item, or nullptr when the
  // collection as a whole changed.
  virtual void Update(TCollectionItem* Item);
  void Changed();

 private:
  friend class TCollectionItem;
  friend class ComponentTextReader;

  void InsertItem(TCollectionItem* Item);
  void RemoveItem(TCollectionItem* Item);
  // For the component text reader, which must be able to undo a read: the
  // items leave the list without being freed, keeping their IDs.
  std::vector<TCollectionItem*> DetachItems();
  // Frees the present items and puts detached ones back.
  void ReattachItems(std::vector<TCollectionItem*> Items);
  // Frees items detached before.
  void FreeDetached(std::vector<TCollectionItem*>& Items);

  TCollectionItemClass itemClass_;
  TPersistent* owner_;
  std::vector<TCollectionItem*> items_;
  int32_t updateCount_ = 0;
  int32_t nextID_ = 0;
};

}  // namespace plat
