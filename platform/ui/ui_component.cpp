#include "ui_component.h"

#include <algorithm>

namespace vant {

void TPersistent::Assign(const TPersistent* source) {
  throw EConvertError("Cannot assign a " + (source ? source->ClassName() : std::string("nil")) +
                      " to a " + ClassName());
}

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  NotifyRemoved();
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::NotifyRemoved() {
  // Copy first: a notified component may remove itself from the list while we walk it.
  auto list = free_notifies_;
  free_notifies_.clear();
  for (TComponent* c : list) {
    c->RemoveFreeNotification(this);
    c->Notification(this, opRemove);
  }
}

void TComponent::Destroying() { state_ |= csDestroying; }

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && owner_) {
    TComponent* other = owner_->FindComponent(name);
    if (other && other != this)
      throw EComponentError("A component named " + name + " already exists");
  }
  name_ = name;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_) {
    if (c->name_.size() != name.size()) continue;
    if (std::equal(name.begin(), name.end(), c->name_.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        }))
      return c;
  }
  return nullptr;
}

void TComponent::SetLoading(bool value) {
  if (value)
    state_ |= csLoading;
  else
    state_ &= ~uint32_t(csLoading);
  for (TComponent* c : components_) c->SetLoading(value);
}

void TComponent::SetDesigning(bool value, bool children) {
  if (value)
    state_ |= csDesigning;
  else
    state_ &= ~uint32_t(csDesigning);
  if (children)
    for (TComponent* c : components_) c->SetDesigning(value, true);
}

void TComponent::Loaded() { state_ &= ~uint32_t(csLoading); }

void TComponent::InsertComponent(TComponent* c) {
  if (c->owner_) c->owner_->RemoveComponent(c);
  components_.push_back(c);
  c->owner_ = this;
  Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
  auto it = std::find(components_.begin(), components_.end(), c);
  if (it == components_.end()) return;
  Notification(c, opRemove);
  components_.erase(std::find(components_.begin(), components_.end(), c));
  c->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    // Detach before deleting so the child's destructor does not walk back into our list.
    RemoveComponent(c);
    delete c;
  }
}

void TComponent::FreeNotification(TComponent* c) {
  if (!c || c == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), c) == free_notifies_.end()) {
    free_notifies_.push_back(c);
    c->FreeNotification(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* c) {
  auto it = std::find(free_notifies_.begin(), free_notifies_.end(), c);
  if (it != free_notifies_.end()) free_notifies_.erase(it);
}

void TComponent::Notification(TComponent*, TOperation) {}

}  // namespace vant
