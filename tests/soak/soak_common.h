// Shared by the soak driver, its worker processes and its checker: the
// shared table's layout, the memo values the workers write, the clock that
// orders the workers' changes, and the log line format.
//
// The table SOAK.DBF (dBASE IV, 0x8B) has four fields, in this order so that
// the memo field sits where the memo checker looks for it (offset 11):
//
//   CODE   C(10)  at 1      key of tag CODES
//   NOTES  M(10)  at 11     block of the record's memo value in SOAK.DBT
//   AMOUNT N(8,0) at 21     key of tag AMOUNTS, FOR AMOUNT >= 2000
//   DAY    D(8)   at 29     key of tag DAYS
//
// Log lines (one file per worker, one line per event, written with a single
// write after the engine call returned; <ts> is the clock below, taken
// while the worker held the record or table lock: for an append just before
// the call, for other changes just after it):
//
//   P <rec> <ts> <code> <amount> <day> <memo>   appended, table lock still held
//   A <rec> <ts> <code> <amount> <day> <memo>   append committed (lock released)
//   I <rec> <ts> <code> <amount> <day> <memo>   about to replace (record lock held)
//   R <rec> <ts> <code> <amount> <day> <memo>   replace committed
//   J <rec> <ts> <D|U>                          about to delete (D) or recall (U)
//   D <rec> <ts> / U <rec> <ts>                 delete / recall committed
//   F <rec> <ts> <code>                         the change announced last failed
//   E <ts> <code> <operation> <text>            an engine error
//   X <ts> <what>                               an inconsistency the worker saw
//   S <key>=<count> ...                         the worker's figures, at its end
//
// <memo> is the key of the value (MemoValue), "-" for an empty value and
// "=" for "unchanged". <day> is the stored form YYYYMMDD.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qd::soak {

inline constexpr const char* kTableName = "SOAK";
inline constexpr int kCodeField = 1;
inline constexpr int kNotesField = 2;
inline constexpr int kAmountField = 3;
inline constexpr int kDayField = 4;
inline constexpr int kCodeLength = 10;
inline constexpr int kForAmount = 2000;  // AMOUNTS holds records with AMOUNT >= this
inline constexpr int kCodePool = 400;    // codes K000 .. K399
inline constexpr int kContentionRecords = 3;

// Nanoseconds of the system-wide monotonic clock: every process reads the
// same clock, so the stamps of two changes made under the same lock order
// them.
inline std::int64_t Stamp() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline std::uint32_t Mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

// The value stored under a memo key: its key and length first (so a reader
// can tell a whole value from a torn one), then filler, 40 to about 2540
// bytes, sometimes crossing several 512-byte blocks.
inline std::string MemoValue(const std::string& key) {
  if (key.empty() || key == "-") return {};
  std::uint32_t h = 2166136261u;
  for (char c : key) h = (h ^ static_cast<std::uint8_t>(c)) * 16777619u;
  h = Mix(h);
  const std::size_t length = 40 + h % 2500;
  std::string value = "soak " + key + " " + std::to_string(length) + ";";
  while (value.size() < length) value += static_cast<char>('a' + Mix(h + static_cast<std::uint32_t>(value.size())) % 26);
  value.resize(length);
  return value;
}

}  // namespace qd::soak
