// The work area's index block and the tag control record: creation on
// demand, lookup from the current work area, and release of what they own.
#include <new>

#include "indexes/index_engine.h"
#include "indexes/node_cache.h"
#include "indexes/node_path.h"
#include "indexes/semaphore.h"

namespace qd {

CurrIndex::~CurrIndex() {
  if (IndexExpr == key_expr || IndexExpr == for_expr) IndexExpr = nullptr;
  FreeExpr(key_expr);
  FreeExpr(for_expr);
}

IndexArea::IndexArea() {
  // The stub's first word, -1, marks "no position".
  empty_node[0] = 0xFF;
  empty_node[1] = 0xFF;
}

IndexArea::~IndexArea() {
  for (auto& tag : tags) tag.reset();
  if (file != platform::kNoFile) platform::CloseFile(file);
  if (counted) {
    counted = false;
    if (--OpenIndexFiles <= 0) {
      OpenIndexFiles = 0;
      delete SharedPath;
      SharedPath = nullptr;
    }
  }
  if (SharedPath != nullptr && SharedPath->Owner().file == this) SharedPath->Reset({});
}

SemaphoreState::~SemaphoreState() {
  if (file != platform::kNoFile) platform::CloseFile(file);
}

IndexArea* IndexAreaOf(WorkArea& area) { return static_cast<IndexArea*>(area.index.get()); }

IndexArea& EnsureIndexArea(WorkArea& area) {
  if (area.index == nullptr) area.index = std::make_shared<IndexArea>();
  return *static_cast<IndexArea*>(area.index.get());
}

IndexArea* CurrentIndexArea() {
  WorkArea* area = CurrentWorkArea();
  return area != nullptr ? IndexAreaOf(*area) : nullptr;
}

CurrIndex* TagInSlot(int slot) {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || slot < 1 || slot > mdx::kMaxTags) return nullptr;
  return index->tags[static_cast<std::size_t>(slot)].get();
}

}  // namespace qd
