// The semaphore protocol through which programs sharing a table keep their
// views of its index consistent: the semaphore file beside the table
// (semaphore_layout.h), its user count and reader registrations, the writer
// lock, and the change counter through which another program's changes are
// noticed.
//
// For a table open for exclusive use every action does nothing. Every
// failure is reported through RaiseError, so it always ends the operation
// (and leaves the nesting counts as they were before the failed call).
#pragma once

#include <cstdint>
#include <string>

#include "indexes/index_engine.h"

namespace qd {

enum SemaphoreAction : int {
  LOGIN = 0,
  LOGOUT = 1,
  INCREAD = 2,
  DECREAD = 3,
  LOCKSEMAPHORE = 4,
  UNLOCKSEMAPHORE = 5,
};

// The per-work-area semaphore state, allocated at LOGIN and freed at LOGOUT.
struct SemaphoreState {
  SemaphoreState() = default;
  SemaphoreState(const SemaphoreState&) = delete;
  SemaphoreState& operator=(const SemaphoreState&) = delete;
  ~SemaphoreState();  // closes the file if still open (no writes)

  platform::FileHandle file = platform::kNoFile;
  std::string file_name;
  std::uint8_t record[4] = {};   // the record as last read or written
  std::uint8_t login_number = 0;  // the user count after this program's LOGIN
  std::uint16_t last_seen = 0;    // the change counter last seen
  bool range_held = false;        // this program holds the byte range
  bool registered = false;        // counted as a reader in the file
  int read_nesting = 0;
  int write_nesting = 0;
};

// Limits of the waits. Production code never changes them; tests shorten
// them so that a timeout takes a second instead of minutes:
//   SemaphoreWaitLimit  - seconds a writer waits for the readers to leave
//                         (100); also the number shown in the timeout text.
//   SemaphoreLockPause  - milliseconds between two of the 1001 attempts at a
//                         byte-range or table-byte lock (10, so the attempts
//                         span about 10 seconds).
inline std::uint32_t SemaphoreWaitLimit = 100;
inline std::uint32_t SemaphoreLockPause = 10;

inline constexpr int kSemaphoreLockAttempts = 1001;
inline constexpr int kLastSemaphoreArea = 34;

// Runs one action for the current work area.
void HandleSemafore(int action);
// Read phases and write phases, nested: only the outermost call of each
// pair reaches the semaphore file.
void SetReadSemaphoreProc(bool on);
void SetLockSemaphoreProc(bool on);
// True (after re-reading every open tag header) when another program
// raised the change counter since this program last looked.
bool IndexChangedElsewhere();

// Name of the semaphore file of a table file.
std::string SemaphoreFileName(const std::string& table_file);
// True when the current work area is logged in.
bool SemaphoreLoggedIn();
// The record as last read or written (all zero when not logged in).
void SemaphoreRecord(std::uint8_t (&record)[4]);

}  // namespace qd
