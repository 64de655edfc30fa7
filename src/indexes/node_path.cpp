// The descent path's segment chain (see node_path.h).
#include "indexes/node_path.h"

#include <cstring>
#include <new>

namespace qd {

NodePath::NodePath() { segments_.push_back(std::make_unique<Segment>()); }

void NodePath::Reset(PathOwner owner) {
  segments_.resize(1);
  depth_ = 0;
  owner_ = owner;
}

std::uint8_t* NodePath::Push(std::int32_t page, const std::uint8_t* node) {
  if (depth_ >= kMaxTreeDepth) return nullptr;
  const std::size_t segment = static_cast<std::size_t>(depth_ / kSegmentEntries);
  if (segment == segments_.size()) {
    Segment* added = new (std::nothrow) Segment;
    if (added == nullptr) return nullptr;
    segments_.emplace_back(added);
  }
  Segment& s = *segments_[segment];
  const std::size_t slot = static_cast<std::size_t>(depth_ % kSegmentEntries);
  s.pages[slot] = page;
  if (node != s.nodes[slot].data()) std::memcpy(s.nodes[slot].data(), node, mdx::kBlockSize);
  ++depth_;
  return s.nodes[slot].data();
}

std::int32_t NodePath::Pop() {
  if (depth_ <= 1) return 0;
  --depth_;
  // A segment left empty goes, except the first.
  const std::size_t needed = static_cast<std::size_t>((depth_ + kSegmentEntries - 1) / kSegmentEntries);
  if (segments_.size() > needed && needed >= 1) segments_.resize(needed);
  return PageAt(depth_ - 1);
}

std::int32_t NodePath::PageAt(int level) const {
  if (level < 0 || level >= depth_) return 0;
  return segments_[static_cast<std::size_t>(level / kSegmentEntries)]
      ->pages[static_cast<std::size_t>(level % kSegmentEntries)];
}

std::uint8_t* NodePath::NodeAt(int level) {
  if (level < 0 || level >= depth_) return nullptr;
  return segments_[static_cast<std::size_t>(level / kSegmentEntries)]
      ->nodes[static_cast<std::size_t>(level % kSegmentEntries)]
      .data();
}

std::uint8_t* NodePath::Lookup(const IndexArea* file, std::int32_t page) {
  if (file == nullptr || owner_.file != file) return nullptr;
  for (int level = depth_ - 1; level >= 0; --level) {
    if (PageAt(level) == page) return NodeAt(level);
  }
  return nullptr;
}

}  // namespace qd
