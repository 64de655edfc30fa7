// The work area record, the table of 35 work areas, and the operations that
// open, read, write, create, navigate and close dBASE table files (DBF)
// through them. Every table operation acts on the current work area.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "table/dbf_layout.h"
#include "table/hooks.h"

namespace qd {

// ---------------------------------------------------------- constants -----

// Version of every table created with memo fields, and the memo type used
// when no table decides.
inline constexpr std::uint8_t DefaultTableVersion = dbf::kDbase4Memo;
// Block size of memo files created with a table.
inline constexpr std::uint16_t DefaultMemoBlockSize = 512;

// Open modes (platform open-mode byte).
inline constexpr std::uint8_t kSharedOpenMode = 0x42;     // read/write, deny none
inline constexpr std::uint8_t kExclusiveOpenMode = 0x12;  // read/write, deny all
inline constexpr std::uint8_t kReadOnlyOpenMode = 0x00;
inline constexpr std::uint8_t kReadOnlySharedOpenMode = 0x40;

// Byte-range lock regions on table files lie at and above this offset; a
// table file must stay below it.
inline constexpr std::uint64_t kLockBase = 0x40000000ULL;
inline constexpr std::uint64_t kSemaphoreLockOffset = kLockBase;
inline constexpr std::uint64_t kTableLockOffset = kLockBase + 1;

inline constexpr int kWorkAreaCount = 35;     // slots 1..35
inline constexpr int kSelectableAreas = 33;   // Select accepts 1..33

// ------------------------------------------------------ process settings ---

// Take the record count from the file size instead of the header on open.
inline bool AutoFixRecCount = false;
// When set (0 to 255) replaces the open mode Use chooses; -1 for none.
inline int OpenModeOverride = -1;
// When off, every table opened is marked OEM.
inline bool AnsiTables = false;
// Set by the last ReopenTable: whether it left its table exclusive. Each
// work area keeps its own flag (exclusive_from_reopen), which ReopenTable
// consults, so a second table's reopen cannot unlock another's exclusivity.
inline bool ExclusiveFromReopen = false;

// ------------------------------------------------------------- records ----

enum TableLanguage : std::uint8_t { tlAnsi = 0, tlOem = 1 };

enum class HeaderState : std::uint8_t { Closed = 0, Clean = 1, Dirty = 2, Appended = 3 };

// How a field appears in the native record.
enum class NativeSlot : std::uint8_t {
  Text,     // C: length byte + field length characters
  Date,     // D: length byte + up to 10 characters of display date
  Logical,  // L: 1 byte, 1 true / 0 false
  Memo,     // M: 32-bit block number
  Int32,    // N/F without decimals, at most 9 digits: 32-bit signed
  Int64,    // N/F without decimals, 10 to 18 digits: 64-bit signed
  Double,   // N/F with decimals, at most 20 wide: 64-bit float
  // N/F without decimals of 19 digits or more, and every N/F wider than 20:
  // length byte + field length characters of the number's text, as stored
  // (no binary form holds all their values exactly).
  NumberText,
};

// In-memory form of a field descriptor.
struct FieldEntry {
  std::string name;            // upper case, at most 10 characters
  char type = 'C';             // C, D, F, L, M or N (B, G, P read as M)
  std::uint8_t length = 0;     // bytes in the record
  std::uint8_t decimals = 0;
  std::uint16_t offset = 0;    // in the record; first field at 1
  // Native record layout (computed on open).
  NativeSlot slot = NativeSlot::Text;
  std::uint16_t native_offset = 0;  // first field at 1
  std::uint16_t native_size = 0;
};

// Called with the bytes after the deletion flag and their count.
using RecordHook = std::function<void(std::uint8_t* bytes, std::size_t count)>;

struct WorkArea {
  WorkArea() = default;
  WorkArea(const WorkArea&) = delete;
  WorkArea& operator=(const WorkArea&) = delete;
  // Closes the file if it is still open (without writing anything): the
  // safety net for a failed open whose error report raised an exception.
  ~WorkArea();

  // --- table file (the low-level layer) ---
  std::string file_name;       // full path with extension
  std::string bare_name;       // short name without directory, at most 12
  std::array<std::uint8_t, dbf::header::kSize> header{};  // copy of the header prolog
  std::uint8_t version = 0;
  bool has_memo = false;
  std::uint16_t header_length = 0;
  std::uint16_t record_length = 0;
  std::vector<FieldEntry> fields;
  HeaderState header_state = HeaderState::Closed;
  std::string update_date;     // YYYYMMDD of the last update
  std::vector<std::uint8_t> record;  // raw record, record_length bytes
  std::vector<std::uint8_t> scratch; // read target, so a failed read keeps record
  std::int32_t record_count = 0;
  std::int32_t record_number = 0;    // 0 none, count + 1 at end of file
  bool at_end = false;
  bool at_beginning = false;
  std::uint8_t open_mode = kSharedOpenMode;
  TableLanguage language = tlOem;
  RecordHook before_write;     // may be empty
  RecordHook after_read;       // may be empty
  platform::FileHandle file = platform::kNoFile;

  // --- work-area level ---
  bool ignore_deleted = false;
  bool exclusive = false;
  bool exclusive_from_reopen = false;  // exclusive use came from ReopenTable
  std::string alias;           // upper case, at most 64 characters
  std::uint8_t* native = nullptr;    // native record (owned or caller's)
  std::uint16_t native_size = 0;
  std::vector<std::uint8_t> owned_native;  // backing store when owned
  bool owns_native = false;
  std::vector<std::uint8_t> swap;    // native-size buffer for Replace

  // --- locks (kept by the locking unit) ---
  std::uint8_t lock_kind = 0;        // 0 none, 2 table locked, 3 records locked
  // Locked record numbers, newest first (count = size()).
  std::vector<std::int32_t> record_locks;
  // Set by the first Append under the current table lock: the record count
  // was taken from the file then, and nobody else can append while the lock
  // is held. Cleared when the table lock is taken or released.
  bool append_count_known = false;
  // Counts every release of a lock of this area: a change prepared under a
  // lock is known to be still this program's own while the count stands.
  std::uint64_t lock_releases = 0;

  // --- unit-owned state, freed with the work area ---
  std::shared_ptr<MemoState> memo;   // set by the memo unit
  std::shared_ptr<void> index;       // the index engine's block

  // --- read-ahead of consecutive records (kept by the low level). On a
  // table opened deny-all every write through this work area patches it; on
  // a shared table it serves natural-order steps only and is dropped by
  // DropReadAhead (see ARCHITECTURE.md, "Read-ahead and collected appends") ---
  std::vector<std::uint8_t> read_ahead;
  std::int32_t read_ahead_first = 0;  // first record held, 0 for none
  std::int32_t read_ahead_count = 0;

  // --- appended records not yet written (under the table lock or
  // exclusive use), in file form; written by WritePendingAppends ---
  std::vector<std::uint8_t> pending_appends;
  std::int32_t pending_first = 0;     // record number of the first, 0 none
  std::int32_t pending_count = 0;
  // Disk space is reserved up to this file offset for the records collected
  // and the end-of-file byte after them.
  std::uint64_t reserved_end = 0;
};

// The table of work areas (index 0 unused) and the current work area number.
inline std::array<std::unique_ptr<WorkArea>, kWorkAreaCount + 1> WorkAreas;
inline int CurrentArea = 1;

// The current work area's table, or nil.
WorkArea* CurrentWorkArea();
// The current table, or nil after reporting 215 "No database in use [op]
// WorkArea = n".
WorkArea* RequireTable(const char* operation);

// ------------------------------------------------- low-level table file ----

// All report through SetError and return false (or leave state) on failure.
bool OpenDbf(WorkArea& area, const std::string& name);
bool CloseDbf(WorkArea& area);
// Why a record is read. A step in natural order may be served from the
// read-ahead block of a shared table; every other read comes from the file.
enum class RecordRead : std::uint8_t { Positioning, StepForward, StepBackward };
bool GetDbfRecord(WorkArea& area, std::int32_t number,
                  RecordRead why = RecordRead::Positioning);
// Forgets the read-ahead block: the one place it is dropped. Called when the
// program takes or releases a lock, writes, refreshes the record count or
// positions by number (and by index positioning).
void DropReadAhead(WorkArea& area);
// Writes the appended records collected so far. True when nothing is left
// pending; a failed write keeps them (for the next attempt) and reports.
bool WritePendingAppends(WorkArea& area);
bool PutDbfRecord(WorkArea& area, std::int32_t number);
bool PutDeleteFlag(WorkArea& area, std::int32_t number);
bool AppendDbfRecord(WorkArea& area);
bool WriteDbfHeader(WorkArea& area);
// Field definition for CreateDBF.
struct FieldDefinition {
  std::string name;
  char type = 'C';
  int length = 0;
  int decimals = 0;
};
// Table families CreateDBF makes; the version byte follows from the family
// and whether a memo field is present: Default and Dbase4 0x03 / 0x8B,
// Dbase3 0x03 / 0x83, Level7 0x04 / 0x8C, FoxPro 0x03 / 0xF5, Dbase2 0x02
// (character, number and logical fields only, at most 32).
enum class TableFamily : std::uint8_t { Default, Dbase2, Dbase3, Dbase4, Level7, FoxPro };
bool CreateDBF(WorkArea& area, const std::string& name, int field_count,
               const std::vector<FieldDefinition>& fields, TableFamily family = TableFamily::Default);
bool CreateDBF(const std::string& name, const std::vector<FieldDefinition>& fields);
std::string MemoFileExtension(std::uint8_t version);
bool CreateMemofile(const std::string& name, std::uint8_t version, std::uint16_t block_size,
                    const std::string& operation);
// Every write to the table file that bypasses PutDbfRecord/PutDeleteFlag
// (direct field writes) must report itself here so the exclusive read-ahead
// stays in step with the file.
void NoteFileWrite(WorkArea& area, std::uint64_t offset, const void* bytes, std::size_t count);
// Record count recomputed from the file size (shared tables only).
void RefreshRecordCount(WorkArea& area);
// (file size - header length) / record length, or -1 when the size is unknown.
std::int64_t RecordsInFile(WorkArea& area);

// ---------------------------------------------------------- work areas ----

void Select(int number);
int Selected();
std::string Alias();
void Use(const std::string& request, void* buffer, std::uint16_t size);
void UseWithHooks(const std::string& request, void* buffer, std::uint16_t size,
                  RecordHook after_read, RecordHook before_write);
void Close();
void CloseAll();
// Closes every slot 1..35 (library shutdown).
void CloseEveryWorkArea();

int FieldCount();
std::string Field(int n);
char FieldType(int n);
int FieldLen(int n);
int FieldDec(int n);
int FieldNo(const std::string& name);
std::uint8_t* FieldAddress(int n);
void RecordToNative();
void NativeToRecord();
void ClearRecord();
int RecSize();
bool GetProductionFlag();
void SetProductionFlag(bool value);
void* IndexBlock();
std::uint32_t ReopenTable(bool exclusive);

// Whether the current record counts for navigation (deleted records are
// invisible while ignore deleted is on).
bool RecordVisible(const WorkArea& area);

// ---------------------------------------------------------- navigation ----

void GoTop();
void GoBottom();
void Skip(std::int32_t n);
void Go(std::int32_t n);
void RawGo(std::int32_t n);
bool GoIfValid(std::int32_t n);
bool dEOF();
bool dBOF();
std::int32_t RecNo();
std::int32_t RecCount();
bool SetIgnoreDel(bool value);

// ------------------------------------- provided by the locking unit -------
// Declared here so the work-area layer can release locks on close.
bool ALock();
bool RLock();
bool IsLocked(std::int32_t record);
bool UnlockRec(std::int32_t n);
void Unlock();
bool LockSemaphoreByte();
void UnlockSemaphoreByte();
bool ResyncVisible();

}  // namespace qd
