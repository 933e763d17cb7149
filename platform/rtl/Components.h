#pragma once
// TComponent: named objects that own other components, tell each other when
// they go away, and are streamed as component text.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/ClassesBase.h"
#include "platform/rtl/Visibility.h"

namespace plat {

enum TComponentStateItem : uint8_t {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,
  csInline,
  csDesignInstance
};
using TComponentState = TSet<TComponentStateItem>;

enum TOperation : uint8_t { opInsert, opRemove };

// A component created with an owner is freed by that owner: owned components
// are freed in reverse order of insertion when the owner is. One created
// without an owner belongs to whoever created it (a std::unique_ptr).
//
// Invariants: every component in components_ has owner_ == this and the
// non-empty names among them differ ignoring ASCII case; free-notification
// links are mutual (a is in b's list exactly when b is in a's).
class PLAT_API TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  ~TComponent() override;

  std::string ClassName() const override { return "TComponent"; }

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // A name is empty or an identifier (a letter or "_", then letters, digits
  // and "_"), unique among the owner's components ignoring case; otherwise
  // EComponentError.
  virtual void SetName(const std::string& NewName);

  int32_t ComponentCount() const { return static_cast<int32_t>(components_.size()); }
  TComponent* Components(int32_t Index) const;
  // Position among the owner's components, -1 without owner.
  int32_t ComponentIndex() const;
  // The owned component of that name (ignoring case), or nullptr.
  TComponent* FindComponent(const std::string& AName) const;
  // Takes AComponent over from its present owner.
  void InsertComponent(TComponent* AComponent);
  // Gives AComponent up; it then has no owner and belongs to the caller.
  void RemoveComponent(TComponent* AComponent);

  // Asks that AComponent be told (Notification with opRemove) when this
  // component is freed, and this one when AComponent is. Components of the
  // same owner hear of each other through the owner anyway.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);
  // Told when AComponent is inserted in or removed from this component's
  // owner family, or freed after FreeNotification. The base forgets any free
  // notification link to a removed component and passes the call on to the
  // owned components. A descendant that overrides it calls the base.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  // Called once a component and all its siblings have been read from
  // component text; the base ends csLoading.
  virtual void Loaded();

  TComponentState ComponentState() const { return state_; }
  // Sets or clears csDesigning here and in every owned component.
  void SetDesigning(bool Value);
  // Marks this component and those it owns as being destroyed.
  void Destroying();

 protected:
  // Refuses NewName for AComponent (owned by this) when another owned
  // component has it already.
  virtual void ValidateRename(TComponent* AComponent, const std::string& CurName,
                              const std::string& NewName);

 private:
  friend class ComponentTextReader;
  friend class ComponentTextWriter;

  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void RemoveNotification(TComponent* AComponent);
  void DestroyComponents();

  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  TComponentState state_;
};

}  // namespace plat
