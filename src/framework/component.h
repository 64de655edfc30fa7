// Components: named objects with an owner that destroys them, and the
// design-time, loading and destroying states that the dataset components
// consult before reacting to property changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qd::fw {

// Component state flags (a bit set).
enum TComponentStateFlag : std::uint32_t {
  csLoading = 1u << 0,     // properties are being read from a stored description
  csReading = 1u << 1,     // the reader is assigning properties right now
  csDesigning = 1u << 2,   // the component lives in a designer
  csDestroying = 1u << 3,  // the component is being destroyed
};
using TComponentState = std::uint32_t;

// A component belongs to its owner: the owner deletes the components it owns
// when it is destroyed, and a component deleted earlier removes itself from
// its owner's list. Components that have an owner must be created with new.
class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  virtual void SetName(const std::string& name) { name_ = name; }
  TComponent* Owner() const { return owner_; }

  // Components owned by this one, in creation order.
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }

  TComponentState ComponentState() const { return state_; }
  bool IsDesigning() const { return (state_ & csDesigning) != 0; }
  bool IsLoading() const { return (state_ & csLoading) != 0; }
  bool IsReading() const { return (state_ & csReading) != 0; }
  bool IsDestroying() const { return (state_ & csDestroying) != 0; }

  // Puts the component (and the components it owns) into or out of the
  // design-time state.
  void SetDesigning(bool designing);
  // Starts reading a stored description: sets the loading and reading
  // states. EndLoading clears them and calls Loaded.
  void BeginLoading();
  void EndLoading();

 protected:
  // Called once every property of a stored description has been read.
  virtual void Loaded() {}
  // Marks the component (and its owned components) as being destroyed.
  void Destroying();

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  std::string name_;
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  TComponentState state_ = 0;
};

}  // namespace qd::fw
