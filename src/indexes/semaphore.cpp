// The semaphore protocol of shared indexes (see semaphore.h and
// semaphore_layout.h).
#include "indexes/semaphore.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "foundation/errors.h"
#include "indexes/file_header_layout.h"
#include "indexes/index_file.h"
#include "indexes/semaphore_layout.h"

namespace qd {

using namespace table_text;
namespace pf = qd::platform;
namespace sem = qd::mdx::semaphore;

namespace {

const char* ActionName(int action) {
  static const char* const kNames[] = {"LOGIN",   "LOGOUT",        "INCREAD",
                                       "DECREAD", "LOCKSEMAPHORE", "UNLOCKSEMAPHORE"};
  return action >= 0 && action <= UNLOCKSEMAPHORE ? kNames[action] : "";
}

void Pause() { pf::SleepMs(SemaphoreLockPause); }

// "<what><file> <action>", and " [Database Semaphore]" for LOGIN and LOGOUT.
std::string StepText(const char* what, const SemaphoreState& s, int action) {
  std::string text = what + s.file_name + " " + ActionName(action);
  if (action == LOGIN || action == LOGOUT) text += " [Database Semaphore]";
  return text;
}

// Reports through RaiseError; false for the caller to stop with, should the
// report return.
bool Fail(std::uint32_t code, const std::string& text) {
  RaiseError(static_cast<std::uint16_t>(code), text);
  return false;
}

std::uint8_t& Users(SemaphoreState& s) { return s.record[sem::kUsers]; }
std::uint8_t& Readers(SemaphoreState& s) { return s.record[sem::kReaders]; }
std::uint16_t Counter(const SemaphoreState& s) { return Get16(s.record + sem::kChangeCounter); }

std::uint32_t ReadRecord(SemaphoreState& s) {
  std::size_t done = 0;
  const std::uint32_t code = pf::ReadAt(s.file, 0, s.record, sem::kRecordSize, done);
  if (code != 0) return code;
  return done < sem::kRecordSize ? 100 : 0;
}

std::uint32_t WriteRecord(SemaphoreState& s) {
  std::size_t done = 0;
  const std::uint32_t code = pf::WriteAt(s.file, 0, s.record, sem::kRecordSize, done);
  return code != 0 || done < sem::kRecordSize ? WriteErrorCode(code) : 0;
}

// Tries the byte range up to 1001 times: 0, or the last refusal's code.
std::uint32_t TryLockRange(SemaphoreState& s) {
  std::uint32_t code = 0;
  for (int attempt = 1; attempt <= kSemaphoreLockAttempts; ++attempt) {
    code = pf::LockRange(s.file, sem::kLockOffset, sem::kLockLength);
    if (code == 0) {
      s.range_held = true;
      return 0;
    }
    if (attempt < kSemaphoreLockAttempts) Pause();
  }
  return code;
}

std::string LockTimeoutText(const SemaphoreState& s, int action, std::uint32_t code) {
  return "10 second timeout: Cannot lock index semaphore file: " + s.file_name + " " + ActionName(action) +
         "\r\nPossible cause: Network lock limit exceeded\r\n" + " Lock result code: " + std::to_string(code);
}

bool LockRange(SemaphoreState& s, int action) {
  const std::uint32_t code = TryLockRange(s);
  return code == 0 || Fail(1202, LockTimeoutText(s, action, code));
}

// Gives the range back: 0 or the system's code (the flag is cleared anyway).
std::uint32_t TryUnlockRange(SemaphoreState& s) {
  if (!s.range_held) return 0;
  s.range_held = false;
  return pf::UnlockRange(s.file, sem::kLockOffset, sem::kLockLength);
}

std::string UnlockFailureText(const SemaphoreState& s, int action) {
  return "Cannot unlock index semaphore file: " + s.file_name + " " + ActionName(action);
}

bool UnlockRange(SemaphoreState& s, int action) {
  const std::uint32_t code = TryUnlockRange(s);
  return code == 0 || Fail(code, UnlockFailureText(s, action));
}

// Gives the range back on a way out that already reports something else.
void UnlockRangeQuietly(SemaphoreState& s) {
  if (s.range_held) pf::UnlockRange(s.file, sem::kLockOffset, sem::kLockLength);
  s.range_held = false;
}

// The table's semaphore byte, held around LOGIN and LOGOUT. The destructor
// gives it back quietly on an early way out; Release gives it back and
// reports a failure.
class TableByte {
 public:
  explicit TableByte(WorkArea& area) : area_(area) {}
  TableByte(const TableByte&) = delete;
  TableByte& operator=(const TableByte&) = delete;
  ~TableByte() {
    if (held_) pf::UnlockRange(area_.file, kSemaphoreLockOffset, 1);
  }
  bool Take(const SemaphoreState& s, int action) {
    for (int attempt = 1; attempt <= kSemaphoreLockAttempts; ++attempt) {
      if (LockSemaphoreByte()) {
        held_ = true;
        return true;
      }
      if (attempt < kSemaphoreLockAttempts) Pause();
    }
    return Fail(1202, "Cannot lock database for: " + s.file_name + " Action=" + ActionName(action) +
                          " [Database Semaphore]");
  }
  void Release() {
    if (!held_) return;
    held_ = false;
    UnlockSemaphoreByte();
  }

 private:
  WorkArea& area_;
  bool held_ = false;
};

bool IsOpenInsteadCode(std::uint32_t code) {
  return code == 3 || code == 5 || code == 32 || code == 150 || code == 162 || code == 163;
}

// Creates the file with one zero record, or opens the existing one; either
// way ends holding the byte range with the record read.
bool OpenOrCreate(SemaphoreState& s) {
  bool created = false;
  if (!pf::FileExists(s.file_name)) {
    pf::FileHandle handle = pf::kNoFile;
    const std::uint32_t code = pf::CreateNewFile(s.file_name, kExclusiveOpenMode, handle);
    if (code == 0) {
      const std::uint8_t zero[sem::kRecordSize] = {};
      std::size_t done = 0;
      const std::uint32_t written = pf::WriteAt(handle, 0, zero, sem::kRecordSize, done);
      pf::CloseFile(handle);
      if (written != 0 || done < sem::kRecordSize) {
        return Fail(WriteErrorCode(written), StepText("Cannot write to: ", s, LOGIN));
      }
      created = true;
    } else if (!IsOpenInsteadCode(code)) {
      return Fail(code, StepText("Cannot open/create: ", s, LOGIN));
    }
  }
  if (const std::uint32_t code = pf::OpenFile(s.file_name, kSharedOpenMode, s.file); code != 0) {
    s.file = pf::kNoFile;
    return Fail(code, StepText("Cannot open: ", s, LOGIN));
  }
  if (!LockRange(s, LOGIN)) return false;
  if (created) {
    std::memset(s.record, 0, sizeof s.record);
    return true;
  }
  pf::SleepMs(5);
  if (const std::uint32_t code = ReadRecord(s); code != 0) return Fail(code, StepText("Cannot read: ", s, LOGIN));
  return true;
}

void Login(WorkArea& area, IndexArea& index) {
  if (index.semaphore) return;
  std::unique_ptr<SemaphoreState> state(new (std::nothrow) SemaphoreState);
  if (state == nullptr) {
    Fail(217, "Memory needed=349 [Set_Index_To]");
    return;
  }
  state->file_name = SemaphoreFileName(area.file_name);
  TableByte table_byte(area);
  if (!table_byte.Take(*state, LOGIN)) return;
  if (!OpenOrCreate(*state)) return;  // closing the file drops the range
  ++Users(*state);
  state->login_number = Users(*state);
  state->last_seen = 0;
  if (const std::uint32_t code = WriteRecord(*state); code != 0) {
    Fail(code, StepText("Cannot write to: ", *state, LOGIN));
    return;
  }
  if (!UnlockRange(*state, LOGIN)) return;
  index.semaphore = std::move(state);
  table_byte.Release();
}

void Logout(WorkArea& area, IndexArea& index) {
  // The state goes whatever happens below (its file with it).
  std::unique_ptr<SemaphoreState> state = std::move(index.semaphore);
  if (state == nullptr) return;
  TableByte table_byte(area);
  if (!table_byte.Take(*state, LOGOUT)) return;
  if (!LockRange(*state, LOGOUT)) return;
  if (const std::uint32_t code = ReadRecord(*state); code != 0) {
    Fail(code, StepText("Cannot read: ", *state, LOGOUT));
    return;
  }
  if (state->registered && Readers(*state) > 0) --Readers(*state);
  if (Users(*state) > 0) --Users(*state);
  if (const std::uint32_t code = WriteRecord(*state); code != 0) {
    Fail(code, StepText("Cannot write to: ", *state, LOGOUT));
    return;
  }
  if (!UnlockRange(*state, LOGOUT)) return;
  pf::CloseFile(state->file);
  state->file = pf::kNoFile;
  if (Users(*state) == 0) pf::EraseFile(state->file_name);
  table_byte.Release();
}

// INCREAD (begin) and DECREAD.
void ReadPhase(SemaphoreState& s, bool begin) {
  const int action = begin ? INCREAD : DECREAD;
  if (begin) {
    if (++s.read_nesting > 1) return;
  } else {
    if (--s.read_nesting < 0) {
      s.read_nesting = 0;
      Fail(254, "Unbalanced IncRead/DecRead for semaphore file: " + s.file_name);
      return;
    }
    if (s.read_nesting > 0) return;
  }
  if (s.range_held || s.registered == begin) return;
  // A failure from here on leaves registration and nesting as they were
  // before this call, so that the next call tries again.
  auto give_up = [&](std::uint32_t code, const std::string& text) {
    UnlockRangeQuietly(s);
    s.registered = !begin;
    s.read_nesting += begin ? -1 : 1;
    Fail(code, text);
  };
  if (const std::uint32_t code = TryLockRange(s); code != 0) return give_up(1202, LockTimeoutText(s, action, code));
  s.registered = begin;
  if (const std::uint32_t code = ReadRecord(s); code != 0) return give_up(code, StepText("Cannot read: ", s, action));
  std::uint8_t& readers = Readers(s);
  if (begin && readers < sem::kMostReaders) ++readers;
  if (!begin && readers > 0) --readers;
  if (const std::uint32_t code = WriteRecord(s); code != 0) {
    return give_up(code, StepText("Cannot write to: ", s, action));
  }
  UnlockRange(s, action);
}

std::string TimeoutText(const SemaphoreState& s) {
  return std::to_string(SemaphoreWaitLimit) + " second timeout, cannot read: " + s.file_name + "\r\n" +
         "Possible cause: Other user's program has terminated abnormally." + "\r\n" +
         "Cure: Log all users of this application off the network," + "\r\n" + "then delete " + s.file_name;
}

// LOCKSEMAPHORE: waits until no reader is registered, then registers itself
// and keeps the byte range for the whole write phase.
void BeginWritePhase(SemaphoreState& s) {
  if (++s.write_nesting > 1 || s.range_held) return;
  const std::uint32_t start = pf::TickCount();
  auto expired = [&] { return pf::TickCount() - start > SemaphoreWaitLimit * 1000u; };
  // Every failure leaves the nesting and the range as they were before.
  auto give_up = [&](std::uint32_t code, const std::string& text) {
    UnlockRangeQuietly(s);
    --s.write_nesting;
    Fail(code, text);
  };
  for (bool first_pass = true;; first_pass = false) {
    // A range free at the first attempt is taken at once: the wait below
    // (a read of the record, which only succeeds once no other program
    // holds the range where byte-range locks are mandatory) would have
    // nothing to wait for, and reads are seen by no other program.
    if (first_pass && pf::LockRange(s.file, sem::kLockOffset, sem::kLockLength) == 0) {
      s.range_held = true;
    } else {
      while (ReadRecord(s) != 0) {
        if (expired()) return give_up(1202, TimeoutText(s));
        Pause();
      }
      if (const std::uint32_t code = TryLockRange(s); code != 0) {
        return give_up(1202, LockTimeoutText(s, LOCKSEMAPHORE, code));
      }
    }
    if (const std::uint32_t code = ReadRecord(s); code != 0) {
      return give_up(code, StepText("Cannot read: ", s, LOCKSEMAPHORE));
    }
    if (Readers(s) == 0) {
      Readers(s) = 1;
      if (const std::uint32_t code = WriteRecord(s); code != 0) {
        return give_up(code, StepText("Cannot write to: ", s, LOCKSEMAPHORE));
      }
      return;
    }
    if (const std::uint32_t code = TryUnlockRange(s); code != 0) {
      return give_up(code, UnlockFailureText(s, LOCKSEMAPHORE));
    }
    if (expired()) return give_up(1202, TimeoutText(s));
    Pause();
  }
}

// UNLOCKSEMAPHORE: raises the change counter and releases the readers' count
// and the byte range.
void EndWritePhase(SemaphoreState& s) {
  if (--s.write_nesting < 0) {
    s.write_nesting = 0;
    UnlockRangeQuietly(s);
    Fail(254, "Unbalanced Lock/Unlock for semaphore file: " + s.file_name);
    return;
  }
  if (s.write_nesting > 0 || !s.range_held) return;
  // The record is the one LOCKSEMAPHORE read and wrote: every update of it
  // is made holding the range, which this program has held since then, so
  // reading it again would find the same bytes.
  std::uint16_t counter = static_cast<std::uint16_t>(Counter(s) + 1);
  if (counter == sem::kCounterWrap) counter = 0;
  Put16(s.record + sem::kChangeCounter, counter);
  Readers(s) = 0;
  // Our own change is not another program's.
  s.last_seen = counter;
  if (const std::uint32_t code = WriteRecord(s); code != 0) {
    UnlockRangeQuietly(s);
    Fail(code, StepText("Cannot write to: ", s, UNLOCKSEMAPHORE));
    return;
  }
  UnlockRange(s, UNLOCKSEMAPHORE);
}

// Releasing from a destructor while an exception is on its way: a second
// report must not escape.
// Space a change of the keys of one record may need at the end of the index
// file: a split on each of kReservedLevels levels and a new root, per tag.
constexpr std::uint64_t kReservedLevels = 10;
constexpr std::uint64_t kReserveChunk = 256 * 1024;
std::uint32_t room_failure = 0;

// Reserves disk space at the end of the index file for the new nodes of
// the record change about to be made, before the record is written: on a
// full disk the change is then refused whole instead of failing half way
// through the key updates, which would leave the record without its keys.
// False (code in room_failure) when the disk is full; a file system that
// cannot reserve space writes without a reservation, as before.
bool ReserveRoomForChanges(IndexArea& index, bool exclusive) {
  if (!index.IsOpen()) return true;
  std::uint64_t tags = 0;
  for (const auto& tag : index.tags) tags += tag ? 1 : 0;
  if (tags == 0) return true;
  // Only a shared file can have grown behind this program's back.
  const std::uint64_t end = exclusive ? index.known_size / mdx::kPageSize * mdx::kPageSize
                                      : static_cast<std::uint64_t>(EndOfFilePage(index)) * mdx::kPageSize;
  const std::uint64_t need = tags * (kReservedLevels + 1) * mdx::kBlockSize;
  // Space reserved once stays reserved (index files do not shrink while
  // open), so most changes need no system call: reserve ahead in chunks.
  if (end + need <= index.reserved_until) return true;
  const std::uint64_t chunk = std::max<std::uint64_t>(need, kReserveChunk);
  std::uint32_t code = pf::ReserveSpace(index.file, end, chunk);
  if (code == 112 && chunk > need) {
    code = pf::ReserveSpace(index.file, end, need);
    if (code == 0) index.reserved_until = end + need;
  } else if (code == 0) {
    index.reserved_until = end + chunk;
  }
  if (code == 0 || code == 50) return true;
  room_failure = code;
  return false;
}

void Release(int action) {
  if (std::uncaught_exceptions() > 0) {
    try {
      HandleSemafore(action);
    } catch (...) {
    }
    return;
  }
  HandleSemafore(action);
}

}  // namespace

std::string SemaphoreFileName(const std::string& table_file) {
  return WithoutExtension(table_file) + sem::kExtension;
}

void HandleSemafore(int action) {
  if (CurrentArea > kLastSemaphoreArea) {
    Fail(254, "Work area [" + std::to_string(CurrentArea) + "] out of range. [HandleSemafore]");
    return;
  }
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr || area->exclusive) return;
  IndexArea& index = EnsureIndexArea(*area);
  if (action != LOGIN && index.semaphore == nullptr) return;
  switch (action) {
    case LOGIN:
      Login(*area, index);
      break;
    case LOGOUT:
      Logout(*area, index);
      break;
    case INCREAD:
      ReadPhase(*index.semaphore, true);
      break;
    case DECREAD:
      ReadPhase(*index.semaphore, false);
      break;
    case LOCKSEMAPHORE:
      BeginWritePhase(*index.semaphore);
      break;
    case UNLOCKSEMAPHORE:
      EndWritePhase(*index.semaphore);
      break;
    default:
      break;
  }
}

void SetReadSemaphoreProc(bool on) {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) return;
  IndexArea& index = EnsureIndexArea(*area);
  if (on) {
    if (++index.read_depth == 1) {
      try {
        HandleSemafore(INCREAD);
      } catch (...) {
        --index.read_depth;
        throw;
      }
    }
    return;
  }
  if (index.read_depth <= 0) {
    Fail(254, "Non-symmetrical Lock-Unlock [SetReadSemaphoreProc]");
    return;
  }
  if (--index.read_depth == 0) Release(DECREAD);
}

void SetLockSemaphoreProc(bool on) {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) return;
  IndexArea& index = EnsureIndexArea(*area);
  if (on) {
    if (++index.lock_depth == 1) {
      try {
        HandleSemafore(LOCKSEMAPHORE);
      } catch (...) {
        --index.lock_depth;
        throw;
      }
      if (!ReserveRoomForChanges(index, area->exclusive)) {
        // Nothing was changed: give the semaphore back without taking its
        // new change counter as seen, so that changes other programs made
        // before are still noticed by the next change check.
        --index.lock_depth;
        const std::uint32_t code = room_failure;
        const bool logged_in = index.semaphore != nullptr;
        const std::uint16_t seen = logged_in ? index.semaphore->last_seen : 0;
        HandleSemafore(UNLOCKSEMAPHORE);
        if (logged_in && index.semaphore) index.semaphore->last_seen = seen;
        Fail(code, "Disk full: no room for the index changes in " + index.file_name + " [SetLockSemaphoreProc]");
      }
    }
    return;
  }
  if (index.lock_depth <= 0) {
    Fail(254, "Non-symmetrical Lock-Unlock [SetLockSemaphoreProc]");
    return;
  }
  if (--index.lock_depth == 0) Release(UNLOCKSEMAPHORE);
}

bool IndexChangedElsewhere() {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || index->semaphore == nullptr) return false;
  SemaphoreState& s = *index->semaphore;
  const std::uint16_t counter = Counter(s);
  if (counter == s.last_seen) return false;
  ReadAnchorNodes();
  s.last_seen = counter;
  return true;
}

bool SemaphoreLoggedIn() {
  const IndexArea* index = CurrentIndexArea();
  return index != nullptr && index->semaphore != nullptr;
}

void SemaphoreRecord(std::uint8_t (&record)[4]) {
  const IndexArea* index = CurrentIndexArea();
  if (index == nullptr || index->semaphore == nullptr) {
    std::memset(record, 0, sizeof record);
    return;
  }
  std::memcpy(record, index->semaphore->record, sizeof record);
}

}  // namespace qd
