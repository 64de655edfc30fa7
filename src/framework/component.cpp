// Components: ownership and component states.
#include "framework/component.h"

#include <algorithm>

namespace qd::fw {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Delete owned components last-created first; each removes itself.
  while (!components_.empty()) delete components_.back();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* component) {
  components_.push_back(component);
  if (IsDesigning()) component->SetDesigning(true);
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
}

void TComponent::SetDesigning(bool designing) {
  if (designing) state_ |= csDesigning;
  else state_ &= ~static_cast<TComponentState>(csDesigning);
  for (TComponent* component : components_) component->SetDesigning(designing);
}

void TComponent::BeginLoading() { state_ |= csLoading | csReading; }

void TComponent::EndLoading() {
  state_ &= ~static_cast<TComponentState>(csLoading | csReading);
  Loaded();
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  state_ |= csDestroying;
  for (TComponent* component : components_) component->Destroying();
}

}  // namespace qd::fw
