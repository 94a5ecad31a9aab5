#pragma once
// TComponent: the owner-based lifetime every window part shares. An owner frees the components
// it owns, last created first; a component leaves its owner's list when it is freed on its own.
// Owning is not parenting: the host widgets of controls are reparented by `SetParent`, but only
// the owner ever deletes a component.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exceptions.h"

namespace vant {

VANT_DECLARE_EXCEPTION(EComponentError, Exception);
// Raised by Assign between classes that cannot copy each other.
VANT_DECLARE_EXCEPTION(EConvertError, Exception);

enum TComponentStateFlag : uint32_t {
  csLoading = 1,
  csReading = 2,
  csWriting = 4,
  csDestroying = 8,
  csDesigning = 16,
};
enum TOperation { opInsert, opRemove };

// Root of the framework's classes: the type of every event's Sender.
class TObject {
 public:
  virtual ~TObject() = default;
  virtual std::string ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TPersistent : public TObject {
 public:
  // Copies `source` into this object; the base raises EConvertError ("Cannot assign ...").
  virtual void Assign(const TPersistent* source);
  std::string ClassName() const override { return "TPersistent"; }
};

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& GetName() const { return name_; }
  // Raises EComponentError when a sibling of the same owner already has the name.
  void SetName(const std::string& name);
  TComponent* GetOwner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Component(int i) const { return components_.at(i); }
  TComponent* FindComponent(const std::string& name) const;
  intptr_t GetTag() const { return tag_; }
  void SetTag(intptr_t v) { tag_ = v; }

  uint32_t ComponentState() const { return state_; }
  bool HasState(TComponentStateFlag f) const { return (state_ & f) != 0; }
  // Sets or clears csLoading on this component and everything it owns (form builders bracket the
  // creation of a window's components with it, then call Loaded on each).
  void SetLoading(bool value);
  // Sets or clears csDesigning; with `children`, on every owned component too.
  void SetDesigning(bool value, bool children = true);
  // Called once a builder has set every property: clears csLoading.
  virtual void Loaded();

  // Moves ownership to `owner` (nullptr: none).
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);
  // Frees every owned component, the most recently created first.
  void DestroyComponents();
  // `c` will be told through Notification(this, opRemove) when this component is freed.
  void FreeNotification(TComponent* c);
  void RemoveFreeNotification(TComponent* c);

  std::string ClassName() const override { return "TComponent"; }

 protected:
  // opInsert/opRemove for owned components, opRemove for free-notified ones being freed.
  virtual void Notification(TComponent* component, TOperation operation);
  // Marks the component as being destroyed; derived destructors should call it first so
  // notifications during their teardown see the flag.
  void Destroying();

 private:
  void NotifyRemoved();
  std::string name_;
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
  uint32_t state_ = 0;
  intptr_t tag_ = 0;
};

}  // namespace vant
