// Moving a tag's cursor through its B-tree, and the work area's order.
//
// A tag's cursor is the node in use (a copy on the shared descent path while
// the tag owns the path, its own node image, or the work area's empty-node
// stub when it has no position), its page, the position of the current
// entry and a pointer to it, the before-first and after-last flags and the
// key buffer. The descent path (node_path.h) holds the nodes from the root
// to the current leaf; only the tag that owns it may step from entry to
// entry. Every other tag (and a tag whose path was taken by another tag or
// invalidated by an order change or another program's change) first finds
// its place again from its key buffer and the current record.
//
// Tags are addressed by slot (slot 1 holds the current order). Operations
// on "the tag" act on the slot named by KeyTagNumber (1 except while
// maintenance walks every tag). Natural order (order 0) keeps the index
// open but visits records by number; the order hooks handle it too, so the
// table layer calls them whether or not an order is active.
#pragma once

#include <cstdint>
#include <string>

#include "indexes/index_engine.h"

namespace qd {

// Engine-wide values of search and maintenance.
//   InsertPositioning - set only during the search of an insertion, so that a
//                       key above every key stands after the last entry.
//   TargetRecord      - the record whose entry a deletion removes.
inline bool InsertPositioning = false;
inline std::int32_t TargetRecord = 0;

// ------------------------------------------------------ tag operations ---

// Makes the node at `page` the node in use of the tag in `slot` (read into
// its own node image, entry 0 current). Page -1 selects the empty-node
// stub; page 0 reports 254 "Invalid Node Number (0) ...".
void GetNode(std::int32_t page, int slot);
// The position of the first entry not below `key` in a node: -1 when the
// node is empty or the key is below entry 0, -2 when it is above the last
// entry, else the entry's index.
int SearchInNode(const CurrIndex& tag, const NodeView& node, const std::uint8_t* key);
// Positions the tag in slot KeyTagNumber on the first entry whose key is
// not below `key`; returns (and sets) the found flag. For numeric tags the
// found entry's key is copied back into `key` (which must hold 12 bytes).
bool Seek(std::uint8_t* key);
// First (or last) entry of the tag in slot KeyTagNumber: its record, or
// record count + 1 with both flags set when the tag is empty.
std::int32_t FindFirstLastRec(bool first);
// The next and previous record in the current order (natural order
// included); the current number again, with a flag set, at the ends.
std::int32_t FindNextRec();
std::int32_t FindPriorRec();
// Positions slot 1 after its last entry and the table on its blank record.
void GoToEnd();
// Key buffers of slot 1 (count 1) or every tag (count 47) take the keys of
// the current record; blanks or zeros when there is none.
void SyncKeys(int count);

// Cursor steps used by maintenance: the tag must own the path. False at
// the end (the cursor stays where it was).
bool StepForward(CurrIndex& tag, int slot);
bool StepBackward(CurrIndex& tag, int slot);
// True while the tag in `slot` owns the descent path (its cursor is live).
bool OwnsPath(const CurrIndex& tag, int slot);
// The record and key of the tag's current entry (the tag must own the path
// or be on its own node image).
std::int32_t EntryRecord(const CurrIndex& tag);
const std::uint8_t* EntryKey(const CurrIndex& tag);
// Runs the change check; when another program changed the index, the
// descent path is dropped and the record count refreshed. True then.
bool RefreshAfterChanges();

// -------------------------------------------------- public operations ---

// Seeks a text in the current order and makes the record found current;
// not found leaves the table at end of file. Returns the found flag.
bool Find(const std::string& text);
// Selects the current order: 0 natural order, else a tag number.
void Set_Order_To(int order);
// Selects the order by tag name (empty: natural order). True when an order
// was selected.
bool SetOrderToTag(const std::string& name);
// The current order's tag number; 0 in natural order or without an index.
int CurrentOrder();
// The exact-length switch: each returns the previous setting.
bool SetExactLength();
bool ClearExactLength();
// True, after reporting 221, when the current work area has no open index.
bool IndexNotOpen(const std::string& operation);

// Positions tag 1 of a freshly opened index on its first visible record
// (the table moves there; at its end when the tag holds none).
void PositionOnOpen();

// Fills the order and update hooks of the table layer.
void FillOrderHooks();

// ------------------------------------------------------- maintenance ---

// Inserts the current record with `key` into the tag in `slot`: 0 when it
// was inserted or legitimately left out (FOR condition false, equal key in
// a unique tag), -1 when memory ran out (217 reported). With
// `position_current`, a slot-1 insertion leaves the cursor on the entry.
std::int32_t AppendIndex(const std::uint8_t* key, int slot, bool position_current = true);
// Removes the entry with `key` whose record is TargetRecord from the tag in
// `slot`: 1 removed, 0 no such entry.
int DeleteEntry(const std::uint8_t* key, int slot);
// The hooks of record updates.
void AppendNewKey();
void NoteOldKeys();
void UpdateKeys();
// Puts the cursor of slot 1 (or of every tag) on the current record.
void SyncIndex(bool all_tags);
// The same for slot 1 after another program changed the index.
void SoftSyncIndex();

}  // namespace qd
