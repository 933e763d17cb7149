#include "platform/rtl/Collections.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "platform/rtl/Exceptions.h"

namespace plat {

namespace {

[[noreturn]] void IndexError(int32_t index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

// Holds a collection inside BeginUpdate for a scope.
class UpdateScope {
 public:
  explicit UpdateScope(TCollection& collection) : collection_(collection) {
    collection_.BeginUpdate();
  }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;
  ~UpdateScope() { collection_.EndUpdate(); }

 private:
  TCollection& collection_;
};

}  // namespace

// ---------------------------------------------------------------- TCollectionItem

TCollectionItem::TCollectionItem(TCollection* Collection) {
  SetCollection(Collection);
}

TCollectionItem::~TCollectionItem() {
  SetCollection(nullptr);
}

void TCollectionItem::SetCollection(TCollection* Value) {
  if (collection_ == Value) return;
  if (collection_ != nullptr) collection_->RemoveItem(this);
  if (Value != nullptr) Value->InsertItem(this);
}

int32_t TCollectionItem::Index() const {
  if (collection_ == nullptr) return -1;
  const auto& items = collection_->items_;
  const auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int32_t>(it - items.begin());
}

void TCollectionItem::SetIndex(int32_t Value) {
  const int32_t current = Index();
  if (current < 0 || current == Value) return;
  auto& items = collection_->items_;
  if (Value < 0 || Value >= static_cast<int32_t>(items.size())) IndexError(Value);
  items.erase(items.begin() + current);
  items.insert(items.begin() + Value, this);
  Changed(true);
}

std::string TCollectionItem::DisplayName() const {
  return ClassName();
}

void TCollectionItem::SetDisplayName(const std::string&) {
  Changed(false);
}

void TCollectionItem::Changed(bool AllItems) {
  if (collection_ != nullptr && collection_->updateCount_ == 0) {
    collection_->Update(AllItems ? nullptr : this);
  }
}

// ---------------------------------------------------------------- TCollection

TCollection::TCollection(TCollectionItemClass ItemClass, TPersistent* Owner)
    : itemClass_(std::move(ItemClass)), owner_(Owner) {}

TCollection::~TCollection() {
  // No Update calls while the collection goes away.
  updateCount_ = 1;
  while (!items_.empty()) delete items_.back();
}

void TCollection::InsertItem(TCollectionItem* Item) {
  items_.push_back(Item);
  Item->collection_ = this;
  Item->id_ = nextID_++;
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* Item) {
  // Searched from the back: Clear and most deletions remove the last item,
  // which keeps emptying a large collection linear.
  const auto rit = std::find(items_.rbegin(), items_.rend(), Item);
  const auto it = rit == items_.rend() ? items_.end() : std::next(rit).base();
  if (it != items_.end()) items_.erase(it);
  Item->collection_ = nullptr;
  Changed();
}

TCollectionItem* TCollection::Add() {
  PLAT_ASSERT(itemClass_ != nullptr, "Collection has no item class");
  TCollectionItem* item = itemClass_(this);
  PLAT_ASSERT(
      item != nullptr && item->collection_ == this && !items_.empty() && items_.back() == item,
      "Item class did not add its item to the collection");
  return item;
}

TCollectionItem* TCollection::Insert(int32_t Index) {
  // Checked first, so a bad index adds nothing.
  if (Index < 0 || Index > Count()) IndexError(Index);
  TCollectionItem* item = Add();
  item->SetIndex(Index);
  return item;
}

void TCollection::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) IndexError(Index);
  delete items_[static_cast<size_t>(Index)];
}

void TCollection::Clear() {
  if (items_.empty()) return;
  UpdateScope scope(*this);
  while (!items_.empty()) delete items_.back();
}

TCollectionItem* TCollection::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count()) IndexError(Index);
  return items_[static_cast<size_t>(Index)];
}

void TCollection::SetItems(int32_t Index, const TCollectionItem* Value) {
  Items(Index)->Assign(Value);
}

TCollectionItem* TCollection::FindItemID(int32_t ID) const {
  for (TCollectionItem* item : items_) {
    if (item->id_ == ID) return item;
  }
  return nullptr;
}

void TCollection::EndUpdate() {
  if (updateCount_ == 0) return;
  --updateCount_;
  Changed();
}

void TCollection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Assign(const TPersistent* Source) {
  const auto* source = dynamic_cast<const TCollection*>(Source);
  if (source == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  UpdateScope scope(*this);
  Clear();
  for (const TCollectionItem* item : source->items_) Add()->Assign(item);
}

std::vector<TCollectionItem*> TCollection::DetachItems() {
  std::vector<TCollectionItem*> detached;
  detached.swap(items_);
  Changed();
  return detached;
}

void TCollection::ReattachItems(std::vector<TCollectionItem*> Items) {
  UpdateScope scope(*this);
  while (!items_.empty()) delete items_.back();
  items_ = std::move(Items);
}

void TCollection::FreeDetached(std::vector<TCollectionItem*>& Items) {
  UpdateScope scope(*this);
  // Each still names this collection, so its destructor sees the collection
  // it lived in; RemoveItem finds it no longer listed.
  while (!Items.empty()) {
    std::unique_ptr<TCollectionItem> item(Items.back());
    Items.pop_back();
  }
}

}  // namespace plat
