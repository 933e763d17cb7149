#include "platform/rtl/Components.h"

#include <algorithm>
#include <memory>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsIdentChar(char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9');
}

bool IsIdentifier(const std::string& s) {
  return !s.empty() && IsIdentStart(s[0]) && std::all_of(s.begin() + 1, s.end(), IsIdentChar);
}

void Erase(std::vector<TComponent*>& list, TComponent* item) {
  const auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

}  // namespace

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    other->RemoveNotification(this);
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* instance = components_.back();
    // A component that others watch leaves through RemoveComponent, so that
    // its siblings hear of it before it is gone.
    if (instance->state_.Contains(csFreeNotification)) {
      RemoveComponent(instance);
    } else {
      Remove(instance);
    }
    std::unique_ptr<TComponent> owned(instance);
  }
}

void TComponent::SetName(const std::string& NewName) {
  if (name_ == NewName) return;
  if (!NewName.empty() && !IsIdentifier(NewName)) {
    throw EComponentError("'" + NewName + "' is not a valid component name");
  }
  if (owner_ != nullptr) {
    owner_->ValidateRename(this, name_, NewName);
  } else {
    ValidateRename(nullptr, name_, NewName);
  }
  name_ = NewName;
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& CurName,
                                const std::string& NewName) {
  if (AComponent != nullptr && !SameText(CurName, NewName) && AComponent->owner_ == this &&
      FindComponent(NewName) != nullptr) {
    throw EComponentError("A component named " + NewName + " already exists");
  }
}

TComponent* TComponent::Components(int32_t Index) const {
  if (Index < 0 || Index >= ComponentCount()) {
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  }
  return components_[static_cast<size_t>(Index)];
}

int32_t TComponent::ComponentIndex() const {
  if (owner_ == nullptr) return -1;
  const auto& list = owner_->components_;
  const auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int32_t>(it - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* component : components_) {
    if (SameText(component->name_, AName)) return component;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->owner_ == this) return;
  PLAT_ASSERT(AComponent != this, "A component cannot own itself");
  // Checked here and not only on rename: two owned components of one name
  // would make FindComponent and component text ambiguous.
  if (FindComponent(AComponent->name_) != nullptr) {
    throw EComponentError("A component named " + AComponent->name_ + " already exists");
  }
  if (AComponent->owner_ != nullptr) AComponent->owner_->RemoveComponent(AComponent);
  Insert(AComponent);
  if (state_.Contains(csDesigning)) AComponent->SetDesigning(true);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->owner_ != this) return;
  Notification(AComponent, opRemove);
  Remove(AComponent);
}

void TComponent::Insert(TComponent* AComponent) {
  components_.push_back(AComponent);
  AComponent->owner_ = this;
}

void TComponent::Remove(TComponent* AComponent) {
  Erase(components_, AComponent);
  AComponent->owner_ = nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (owner_ == nullptr || AComponent->owner_ != owner_) {
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), AComponent) == freeNotifies_.end()) {
      freeNotifies_.push_back(AComponent);
      AComponent->FreeNotification(this);
    }
  }
  state_.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  RemoveNotification(AComponent);
  AComponent->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* AComponent) {
  Erase(freeNotifies_, AComponent);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr) RemoveFreeNotification(AComponent);
  // The calls may free or remove owned components; walk down and re-clamp.
  auto i = static_cast<int32_t>(components_.size()) - 1;
  while (i >= 0) {
    components_[static_cast<size_t>(i)]->Notification(AComponent, Operation);
    --i;
    if (i >= static_cast<int32_t>(components_.size()))
      i = static_cast<int32_t>(components_.size()) - 1;
  }
}

void TComponent::Loaded() {
  state_.Exclude(csLoading);
}

void TComponent::SetDesigning(bool Value) {
  if (Value) {
    state_.Include(csDesigning);
  } else {
    state_.Exclude(csDesigning);
  }
  for (TComponent* component : components_) component->SetDesigning(Value);
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* component : components_) component->Destroying();
}

}  // namespace plat
