// The index unit's start-up and closing sections and the hooks it fills.
//
// Filled now: the read and lock semaphores, closing the index, opening the
// production index, the tag description, the key-text functions, the
// ascending and key-transform questions and the found flag. The order hooks
// (OrderActive, the moves, EndOrderMove) and the update hooks (AppendNewKey,
// NoteOldKeys, UpdateKeys) stay empty until navigation and maintenance fill
// them; Reindex is the build's: with OrderActive empty the table
// layer keeps to file order and never calls the others.
#include <cstdio>

#include "foundation/errors.h"
#include "indexes/indexes.h"

namespace qd {

namespace {

std::function<std::string()> KeyTextFunction(int slot) {
  if (TagInSlot(slot) == nullptr) return {};
  return [slot] { return KeyText(slot); };
}

std::function<std::string()> CurrentKeyTextFunction() {
  const IndexArea* index = CurrentIndexArea();
  if (index == nullptr || index->tags[1] == nullptr) return {};
  if (index->natural_order) {
    return [] {
      char text[16];
      std::snprintf(text, sizeof text, "%10d", static_cast<int>(RecNo()));
      return std::string("Rec:") + text;
    };
  }
  return [] { return KeyText(1); };
}

bool Ascending() {
  const CurrIndex* tag = TagInSlot(1);
  return tag != nullptr && !tag->descending;
}

}  // namespace

void InitIndexUnit() {
  IndexHooks.SetReadSemaphoreProc = SetReadSemaphoreProc;
  IndexHooks.SetLockSemaphoreProc = SetLockSemaphoreProc;
  IndexHooks.found_flag = &FoundFlag;
  IndexHooks.CloseIndex = CloseIndex;
  IndexHooks.OpenProductionIndex = [] { SetIndexTo(""); };
  IndexHooks.TagDescription = TagDescription;
  IndexHooks.KeyTextFunction = KeyTextFunction;
  IndexHooks.CurrentKeyTextFunction = CurrentKeyTextFunction;
  IndexHooks.Ascending = Ascending;
  IndexHooks.KeyTransform = [] { return false; };
  IndexHooks.Reindex = Reindex;
  FillOrderHooks();
  KeyTagNumber = 1;
  ExactLength = false;
  FoundFlag = false;
}

void StopIndexUnit() {
  const bool dispatch = SetImmediateDispatch(false);
  const bool raise = SetRaiseExceptions(false);
  const int selected = CurrentArea;
  for (int number = 1; number <= kWorkAreaCount; ++number) {
    if (WorkAreas[static_cast<std::size_t>(number)] == nullptr) continue;
    CurrentArea = number;
    try {
      CloseIndex();
    } catch (...) {
    }
  }
  CurrentArea = selected;
  SetRaiseExceptions(raise);
  SetImmediateDispatch(dispatch);
}

}  // namespace qd
