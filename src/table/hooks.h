// Procedure slots through which the table layer reaches the optional index,
// memo and expression units without depending on them. Each unit fills its
// table when it starts; an empty slot means the unit is absent: every move
// then runs in file order, memo files are not opened with their tables, and
// memo searches report that the memo unit is missing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qd::platform {
struct TextFile;
}

namespace qd {

// ------------------------------------------------------------- indexes ----
// All index hooks act on the current work area and its current order.
struct IndexHookTable {
  // True when the work area has a current tag (an index is open).
  bool (*OrderActive)() = nullptr;
  // Re-positions the current order on the current record, after the table
  // layer moved without the order's help (by number, or to end of file).
  void (*ResyncOrder)() = nullptr;
  // Record numbers in order. Next/Prior return the current number again when
  // there is none; First/Last return record count + 1 when the order is empty.
  std::int32_t (*NextInOrder)() = nullptr;
  std::int32_t (*PriorInOrder)() = nullptr;
  std::int32_t (*FirstInOrder)() = nullptr;
  std::int32_t (*LastInOrder)() = nullptr;
  // The order's own end and beginning flags; they replace the work area's
  // flags in dEOF and dBOF while an order is active.
  bool (*OrderEOF)() = nullptr;
  bool (*OrderBOF)() = nullptr;
  // Tell the order that the table layer set end or beginning of file.
  void (*SetOrderEOF)() = nullptr;
  void (*SetOrderBOF)() = nullptr;
  // Called at the end of every ordered GoTop, GoBottom, Skip and Go.
  void (*EndOrderMove)() = nullptr;
  // Record updates: add the new record's keys to every tag; note the keys of
  // the record as stored before a replace; replace changed keys afterwards.
  void (*AppendNewKey)() = nullptr;
  void (*NoteOldKeys)() = nullptr;
  void (*UpdateKeys)() = nullptr;
  // Index read semaphore around ordered moves, lock semaphore around updates.
  void (*SetReadSemaphoreProc)(bool hold) = nullptr;
  void (*SetLockSemaphoreProc)(bool hold) = nullptr;
  // The index engine's found flag (set by every search and step).
  bool* found_flag = nullptr;
  void (*Reindex)() = nullptr;
  // Closes the current work area's index files.
  void (*CloseIndex)() = nullptr;
  // Opens the production index of the current table.
  void (*OpenProductionIndex)() = nullptr;
  // Description text of the tag in the given slot.
  std::string (*TagDescription)(int slot) = nullptr;
  // Key-text function of a slot (empty function when the slot is empty), and
  // of the current order ("Rec:" + record number in natural order).
  std::function<std::string()> (*KeyTextFunction)(int slot) = nullptr;
  std::function<std::string()> (*CurrentKeyTextFunction)() = nullptr;
  // True when the current order's tag is not descending.
  bool (*Ascending)() = nullptr;
  // Always False in this engine.
  bool (*KeyTransform)() = nullptr;
};
inline IndexHookTable IndexHooks;

// ---------------------------------------------------------------- memos ---
// The memo unit's state for one table; defined by the memo unit.
struct MemoState;

// Memo hooks act on the current work area's memo file.
struct MemoHookTable {
  // Binds a runtime text file to the memo value whose block the variable
  // holds (the absolute value is used; 0 is an empty value), so that the
  // text operations of platform/text_files.h read its lines. False when the
  // current work area has no table or no memo file (reported).
  bool (*AssignMemo)(platform::TextFile& file, std::int32_t* block) = nullptr;
  // Rewrites the memo file keeping only the values the records refer to.
  void (*PackMemofile)() = nullptr;
  // Opens the memo file of the current table. `table_base` is the table's
  // full file name with its extension removed. Returns 0 or the error code
  // (already reported through SetError).
  std::uint16_t (*OpenMemofile)(const std::string& table_base) = nullptr;
  // Closes the current table's memo file and frees its memo state.
  void (*CloseMemofile)() = nullptr;
  // Copies a value from another work area's memo file into the current one;
  // returns the new block, 0 when nothing was copied.
  std::int32_t (*CopyMemo)(int source_area, std::int32_t source_block) = nullptr;
  std::int32_t (*CopyMemoKeepPosition)(int source_area, std::int32_t source_block) = nullptr;
  // Replaces the memo file by an empty one.
  void (*EmptyMemofile)() = nullptr;
  // Stores a text as a new value and returns its block (0 for an empty text).
  std::int32_t (*AddMemo)(const std::string& text) = nullptr;
  // Called after the current record (number given) was written by Replace:
  // the memo values it no longer names give their blocks up now.
  void (*RecordWritten)(std::int32_t record) = nullptr;
};
inline MemoHookTable MemoHooks;

// Error text of memo searches when the memo unit is absent.
inline constexpr const char* kMemoUnitMissing = "MEMO unit not linked in [Count/Sum/Continue]";

// ---------------------------------------------------------- expressions ---
// A compiled expression; defined by the expression unit.
struct ExprRecord;

struct ExprHookTable {
  // Compiles a text; nil on failure (reported).
  ExprRecord* (*AssignExpr)(std::string& text) = nullptr;
  // Releases a record and sets the caller's variable to nil.
  void (*FreeExpr)(ExprRecord*& record) = nullptr;
  // Evaluates a record and returns its result pointer (nil for nil).
  void* (*EvalExpr)(ExprRecord*& record) = nullptr;
  // The record's expression text.
  std::string (*ExprSource)(ExprRecord* record) = nullptr;
  // The index engine's evaluation hook: evaluates the engine-wide index
  // expression slot and returns its result pointer.
  void* (*EvalIndexExpr)() = nullptr;
  // Set when the expression unit has started.
  bool present = false;
};
inline ExprHookTable ExprHooks;

}  // namespace qd
