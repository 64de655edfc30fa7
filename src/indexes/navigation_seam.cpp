// Stand-in for navigation's SetOrderToTag until navigation is merged: it
// only moves the named tag into slot 1 (the tag numbered 1 into the named
// tag's slot), without positioning. Delete this file when navigation lands.
#include "indexes/navigation_seam.h"

#include <utility>

#include "foundation/errors.h"
#include "indexes/index_engine.h"
#include "indexes/tag_table.h"

namespace qd {

bool SetOrderToTag(const std::string& name) {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || !index->header) return false;
  if (name.empty()) {
    index->natural_order = true;
    return true;
  }
  const int number = FindTag(index->Header(), name);
  if (number == 0 || index->tags[static_cast<std::size_t>(number)] == nullptr) return false;
  index->natural_order = false;
  std::swap(index->tags[1], index->tags[static_cast<std::size_t>(number)]);
  return true;
}

}  // namespace qd
