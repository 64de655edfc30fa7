// The dBASE table file (DBF) as the engine reads and writes it: opening and
// checking the header and field descriptors of every accepted version,
// reading and writing records by number (with the OEM transform and the two
// record hooks), rewriting the header, closing, and creating empty tables
// and memo files.
#include <algorithm>
#include <cstring>
#include <limits>

#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "memo/memo_layouts.h"
#include "table/dbf_layout.h"
#include "table/locking.h"
#include "table/table_text.h"
#include "table/work_areas.h"

namespace qd {

using namespace table_text;
namespace pf = qd::platform;

namespace {

constexpr std::size_t kReadAheadBytes = 64 * 1024;
// Appended records are collected up to this many bytes and written at once.
constexpr std::size_t kAppendBatchBytes = 256 * 1024;
std::string NotATable(const std::string& name, const char* separator, const char* reason,
                      const char* tail) {
  return name + " is not a dBASE database." + separator + reason + tail;
}

std::string TwoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}
std::string DateDigits8(int year, int month, int day) {
  std::string y = std::to_string(year);
  while (y.size() < 4) y.insert(y.begin(), '0');
  return y + TwoDigits(month) + TwoDigits(day);
}

// The table's file is read by others only when it is not opened deny-all.
bool OpenedDenyAll(const WorkArea& area) {
  return (area.open_mode & pf::kShareMask) == pf::kShareDenyAll;
}

void CloseFileQuietly(WorkArea& area) {
  if (area.file != pf::kNoFile) {
    pf::CloseFile(area.file);
    area.file = pf::kNoFile;
  }
}

void ReleaseTable(WorkArea& area) {
  CloseFileQuietly(area);
  area.record.clear();
  area.record.shrink_to_fit();
  area.scratch.clear();
  area.scratch.shrink_to_fit();
  area.fields.clear();
  area.read_ahead.clear();
  area.read_ahead.shrink_to_fit();
  area.read_ahead_first = 0;
  area.read_ahead_count = 0;
  area.pending_appends.clear();
  area.pending_appends.shrink_to_fit();
  area.pending_first = 0;
  area.pending_count = 0;
  area.reserved_end = 0;
  area.header_state = HeaderState::Closed;
}

// Fails the open: releases everything, then reports (the report may raise).
bool FailOpen(WorkArea& area, std::uint16_t code, const std::string& text) {
  ReleaseTable(area);
  SetError(code, text);
  return false;
}

// Record transform towards the file: OEM conversion, then the before-write
// hook, record by record.
void TransformForWrite(WorkArea& area, std::uint8_t* data, std::size_t records) {
  const std::size_t len = area.record_length;
  if (len < 2) return;
  for (std::size_t r = 0; r < records; ++r) {
    std::uint8_t* body = data + r * len + 1;
    if (area.language == tlOem) pf::AnsiToOem(body, len - 1);
    if (area.before_write) area.before_write(body, len - 1);
  }
}
// Record transform from the file: after-read hook, then OEM back to ANSI.
void TransformAfterRead(WorkArea& area, std::uint8_t* data, std::size_t records) {
  const std::size_t len = area.record_length;
  if (len < 2) return;
  for (std::size_t r = 0; r < records; ++r) {
    std::uint8_t* body = data + r * len + 1;
    if (area.after_read) area.after_read(body, len - 1);
    if (area.language == tlOem) pf::OemToAnsi(body, len - 1);
  }
}

std::uint64_t RecordOffset(const WorkArea& area, std::int32_t number) {
  return static_cast<std::uint64_t>(area.header_length) +
         static_cast<std::uint64_t>(number - 1) * area.record_length;
}

std::string InvalidRecordText(const WorkArea& area, std::int32_t number, const char* op) {
  return "Invalid record number = " + std::to_string(number) + " (" + area.file_name + ")  " + op;
}

// A record under this program's own lock: the table lock, or a record lock.
bool UnderOwnLock(const WorkArea& area, std::int32_t number) {
  if (area.lock_kind == 2) return true;
  return std::find(area.record_locks.begin(), area.record_locks.end(), number) !=
         area.record_locks.end();
}

// Appends may be collected: nobody else can append or read them back
// before they are written (the table lock, or exclusive use).
bool CollectsAppends(const WorkArea& area) {
  return area.file != pf::kNoFile && (area.exclusive || area.lock_kind == 2);
}

// Reads the read-ahead block that holds `number`: the records from it
// onwards, or up to it for a backward step, as far as the known count.
bool ReadBlockFor(WorkArea& area, std::int32_t number, bool backward, bool single) {
  const std::size_t len = area.record_length;
  const std::int32_t per_block =
      single ? 1 : static_cast<std::int32_t>(std::max<std::size_t>(1, kReadAheadBytes / len));
  std::int32_t first = number;
  if (backward) first = std::max<std::int32_t>(1, number - per_block + 1);
  const std::int32_t count = std::min<std::int32_t>(per_block, area.record_count - first + 1);
  area.read_ahead.resize(static_cast<std::size_t>(count) * len);
  DropReadAhead(area);
  std::size_t done = 0;
  std::uint32_t rc =
      pf::ReadAt(area.file, RecordOffset(area, first), area.read_ahead.data(), area.read_ahead.size(), done);
  if (rc != 0) {
    SetError(static_cast<std::uint16_t>(rc), "File:  " + area.file_name + "  [GetDbfRecord]");
    return false;
  }
  const std::int32_t got = static_cast<std::int32_t>(done / len);
  if (number >= first + got) {
    SetError(213, "File:  " + area.file_name + "  [GetDbfRecord]");
    return false;
  }
  area.read_ahead_first = first;
  area.read_ahead_count = got;
  return true;
}

// Writes one record at `offset` at once (no collecting).
bool WriteRecordNow(WorkArea& area, std::uint64_t offset) {
  TransformForWrite(area, area.record.data(), 1);
  std::size_t done = 0;
  std::uint32_t rc = pf::WriteAt(area.file, offset, area.record.data(), area.record_length, done);
  // Whatever reached the file, a torn write's first part included.
  NoteFileWrite(area, offset, area.record.data(), std::min<std::size_t>(done, area.record_length));
  TransformAfterRead(area, area.record.data(), 1);
  if (rc != 0 || done < area.record_length) {
    SetError(WriteErrorCode(rc), "File:  " + area.file_name + " [Replace/Append/PutDbfRecord]");
    return false;
  }
  return true;
}

// Appends record `number` (the next one) to the collection, after making
// sure the disk holds room for it: a reservation covers every collected
// record and the end-of-file byte, so writing them later cannot fail for
// lack of space. Without a reservation the record is written at once.
bool CollectAppend(WorkArea& area, std::int32_t number) {
  const std::size_t len = area.record_length;
  const std::uint64_t offset = RecordOffset(area, number);
  if (area.pending_count > 0 &&
      (number != area.pending_first + area.pending_count ||
       area.pending_appends.size() + len > kAppendBatchBytes)) {
    if (!WritePendingAppends(area)) return false;
  }
  if (offset + len + 1 > area.reserved_end) {
    const std::uint64_t want = std::max<std::uint64_t>(kAppendBatchBytes, len + 1);
    if (pf::ReserveSpace(area.file, offset, want) != 0) {
      area.reserved_end = 0;
      return WritePendingAppends(area) && WriteRecordNow(area, offset);
    }
    area.reserved_end = offset + want;
  }
  if (area.pending_count == 0) {
    area.pending_appends.reserve(kAppendBatchBytes);
    area.pending_first = number;
  }
  TransformForWrite(area, area.record.data(), 1);
  area.pending_appends.insert(area.pending_appends.end(), area.record.begin(), area.record.end());
  TransformAfterRead(area, area.record.data(), 1);
  ++area.pending_count;
  return true;
}

// Checks an append of record `number` before anything is written.
bool AppendAllowed(WorkArea& area, std::int32_t number) {
  if (area.version == dbf::kDbase2 && number > dbf::dbase2::kMaxRecords) {
    SetError(212, "Table " + area.file_name +
                      " is full: a dBASE II table holds at most 65535 records [Append]");
    return false;
  }
  const std::uint64_t end = RecordOffset(area, number) + area.record_length + 1;
  if (end > kLockBase || number == std::numeric_limits<std::int32_t>::max()) {
    SetError(212, "Table " + area.file_name +
                      " cannot grow into the lock region at 1073741824 bytes [Append]");
    return false;
  }
  return true;
}

// The language driver byte naming the character set a new table's text is
// kept in: the ANSI page for ANSI tables, else the OEM page; 0 for a page
// without a driver byte.
std::uint8_t LanguageDriver() {
  const int page = AnsiTables ? pf::AnsiCodePage() : pf::OemCodePage();
  switch (page) {
    case 437: return 0x01;
    case 850: return 0x02;
    case 1252: return 0x03;
    case 852: return 0x64;
    case 866: return 0x65;
    case 1250: return 0xC8;
    case 1251: return 0xC9;
    default: return 0;
  }
}

// Converts one descriptor into a field entry; false (with the error text in
// `error`) on an invalid type.
bool ConvertDescriptor(WorkArea& area, const std::uint8_t* d, const dbf::DescriptorForm& form,
                       std::uint32_t& running_offset, std::string& error) {
  const std::uint8_t type = d[form.type];
  const std::uint8_t length = d[form.length];
  const std::uint8_t decimals = d[form.decimals];
  FieldEntry f;
  const std::uint8_t* name = d + dbf::descriptor::kName;
  for (std::size_t i = 0; i < form.name_size && i < dbf::descriptor::kNameLength && name[i] != 0; ++i)
    f.name.push_back(UpperAscii(static_cast<char>(name[i])));
  char t = UpperAscii(static_cast<char>(type));
  if (t == 'B' || t == 'G' || t == 'P') t = 'M';
  if (t != 'C' && t != 'D' && t != 'F' && t != 'L' && t != 'M' && t != 'N') {
    error = "Field: " + f.name + " [" + std::string(1, static_cast<char>(type)) + "] in " +
            area.file_name + " is not a valid field type";
    return false;
  }
  f.type = t;
  f.length = length;
  f.decimals = (t == 'N' || t == 'F') ? decimals : 0;
  f.offset = static_cast<std::uint16_t>(running_offset);
  running_offset += length;
  area.fields.push_back(std::move(f));
  return true;
}

// Other programs write descriptors without a name. Such a field is named
// after its number ("FIELD3"), or "F3_1", "F3_2" ... when the table has a
// field of that name already, so that every layer above finds, shows and
// addresses it by one name. The file's descriptor is left as it is.
void NameNamelessFields(std::vector<FieldEntry>& fields) {
  auto taken = [&](const std::string& name) {
    return std::any_of(fields.begin(), fields.end(),
                       [&](const FieldEntry& f) { return f.name == name; });
  };
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!fields[i].name.empty()) continue;
    const std::string number = std::to_string(i + 1);
    std::string name = "FIELD" + number;
    for (int k = 1; taken(name); ++k) name = "F" + number + "_" + std::to_string(k);
    fields[i].name = name;
  }
}

}  // namespace

WorkArea::~WorkArea() {
  if (file != pf::kNoFile) pf::CloseFile(file);
}

std::int64_t RecordsInFile(WorkArea& area) {
  std::uint64_t size = 0;
  if (area.file == pf::kNoFile || area.record_length == 0) return -1;
  if (pf::FileSize(area.file, size) != 0) return -1;
  if (size <= area.header_length) return 0;
  std::uint64_t n = (size - area.header_length) / area.record_length;
  return static_cast<std::int64_t>(
      std::min<std::uint64_t>(n, std::numeric_limits<std::int32_t>::max() - 1));
}

void RefreshRecordCount(WorkArea& area) {
  if (area.exclusive) return;
  // Records collected for appending exist only here yet; while they do,
  // this program holds the table lock, so nobody else appended.
  if (area.pending_count > 0) return;
  DropReadAhead(area);
  std::int64_t n = RecordsInFile(area);
  if (n < 0) return;
  // The end-of-file position (count + 1) moves with the count: left behind,
  // it would name a record another program just appended, which a Replace
  // or DeleteRec at end of file would then overwrite.
  const bool at_end_position = area.record_count > 0 && area.record_number == area.record_count + 1;
  area.record_count = static_cast<std::int32_t>(n);
  if (at_end_position) area.record_number = area.record_count + 1;
}

void DropReadAhead(WorkArea& area) {
  area.read_ahead_first = 0;
  area.read_ahead_count = 0;
}

bool WritePendingAppends(WorkArea& area) {
  if (area.pending_count == 0) return true;
  const std::size_t len = area.record_length;
  const std::uint64_t offset = RecordOffset(area, area.pending_first);
  const std::size_t bytes = area.pending_appends.size();
  std::size_t done = 0;
  const std::uint32_t rc = pf::WriteAt(area.file, offset, area.pending_appends.data(), bytes, done);
  NoteFileWrite(area, offset, area.pending_appends.data(), std::min(done, bytes));
  if (rc != 0 || done < bytes) {
    // The whole records that reached the file leave the collection; the rest
    // stay for the next attempt.
    const std::size_t whole = std::min(done, bytes) / len;
    area.pending_appends.erase(area.pending_appends.begin(),
                               area.pending_appends.begin() + static_cast<std::ptrdiff_t>(whole * len));
    area.pending_first += static_cast<std::int32_t>(whole);
    area.pending_count -= static_cast<std::int32_t>(whole);
    SetError(WriteErrorCode(rc), "File:  " + area.file_name + " [Replace/Append/PutDbfRecord]");
    return false;
  }
  area.pending_appends.clear();
  area.pending_first = 0;
  area.pending_count = 0;
  return true;
}

void NoteFileWrite(WorkArea& area, std::uint64_t offset, const void* bytes, std::size_t count) {
  if (area.read_ahead_count == 0 || count == 0) return;
  // Others may change a shared file at any time: a write of this program's
  // own drops the block rather than patching it.
  if (!OpenedDenyAll(area)) {
    DropReadAhead(area);
    return;
  }
  const std::uint64_t first = RecordOffset(area, area.read_ahead_first);
  const std::uint64_t last =
      first + static_cast<std::uint64_t>(area.read_ahead_count) * area.record_length;
  const std::uint64_t from = std::max(offset, first);
  const std::uint64_t to = std::min(offset + count, last);
  if (from >= to) return;
  std::memcpy(area.read_ahead.data() + (from - first),
              static_cast<const std::uint8_t*>(bytes) + (from - offset), to - from);
}

bool OpenDbf(WorkArea& area, const std::string& given_name) {
  const std::string name = DefaultExtension(given_name, "DBF");
  area.file_name = name;
  {
    std::string short_name = pf::ShortPathName(name);
    if (area.language == tlOem && !short_name.empty())
      pf::AnsiToOem(reinterpret_cast<std::uint8_t*>(short_name.data()), short_name.size());
    short_name = short_name.substr(NameStart(short_name));
    area.bare_name = short_name.substr(0, 12);
  }

  if (std::uint32_t rc = pf::OpenFile(name, area.open_mode, area.file); rc != 0) {
    area.file = pf::kNoFile;
    return FailOpen(area, static_cast<std::uint16_t>(rc), "Failure to open " + name + " [USE/OpenDbf]");
  }

  namespace h = dbf::header;
  namespace d2 = dbf::dbase2;
  std::size_t done = 0;
  std::uint8_t prolog[h::kSize];
  std::uint32_t rc = pf::ReadAt(area.file, 0, prolog, h::kSize, done);
  if (rc != 0) return FailOpen(area, static_cast<std::uint16_t>(rc), "Error reading " + name + " [Use/OpenDbf]");
  if (done < h::kSize)
    return FailOpen(area, 210,
                    NotATable(name, " (", "Prolog is less than 32 bytes", ") [USE/OpenDBF]"));
  std::memcpy(area.header.data(), prolog, h::kSize);
  area.version = prolog[h::kVersion];
  if (!dbf::VersionAccepted(area.version))
    return FailOpen(area, 210, NotATable(name, "(", "Invalid version byte", ")+ [USE/OpenDBF]"));

  std::uint64_t file_size = 0;
  if (std::uint32_t src = pf::FileSize(area.file, file_size); src != 0)
    return FailOpen(area, static_cast<std::uint16_t>(src), "Error reading " + name + " [Use/OpenDbf]");

  area.fields.clear();
  std::uint32_t running = dbf::record::kFirstField;
  std::string error;
  if (area.version == dbf::kDbase2) {
    const dbf::DescriptorForm& form = dbf::kDbase2Form;
    area.has_memo = false;
    area.record_count = Get16(prolog + d2::kRecordCount);
    area.update_date = DateDigits8(prolog[d2::kUpdateYear] + dbf::kYearBase, prolog[d2::kUpdateMonth],
                                   prolog[d2::kUpdateDay]);
    area.record_length = Get16(prolog + d2::kRecordLength);
    area.header_length = d2::kHeaderSize;
    if (file_size < d2::kHeaderSize)
      return FailOpen(area, 210,
                      NotATable(name, "(", "Header is less than 521 bytes", ") [Use/OpenDBF]"));
    std::uint8_t desc[d2::kDescriptorArea];
    rc = pf::ReadAt(area.file, form.first, desc, d2::kDescriptorArea, done);
    if (rc != 0 || done < d2::kDescriptorArea)
      return FailOpen(area, rc != 0 ? static_cast<std::uint16_t>(rc) : 100,
                      "Error reading " + name + " [Use/OpenDbf]");
    for (std::size_t slot = 0; slot < d2::kDescriptorSlots && desc[slot * form.size] != dbf::kTerminator;
         ++slot) {
      if (!ConvertDescriptor(area, desc + slot * form.size, form, running, error))
        return FailOpen(area, 211, error);
    }
    if (area.fields.empty())
      return FailOpen(area, 210,
                      NotATable(name, "(", "Number of fields is out of range", ") [Use/OpenDbf]"));
  } else {
    const dbf::DescriptorForm& form = dbf::FormOf(area.version);
    area.has_memo = (area.version & dbf::kMemoBit) != 0;
    area.update_date = DateDigits8(prolog[h::kUpdateYear] + dbf::kYearBase, prolog[h::kUpdateMonth],
                                   prolog[h::kUpdateDay]);
    const std::uint32_t count = Get32(prolog + h::kRecordCount);
    area.header_length = Get16(prolog + h::kHeaderLength);
    area.record_length = Get16(prolog + h::kRecordLength);
    const int fixed = static_cast<int>(form.first);
    const int desc_size = static_cast<int>(form.size);
    const int descriptors = (static_cast<int>(area.header_length) - fixed) / desc_size;
    if (static_cast<int>(area.header_length) < fixed + desc_size || descriptors < 1 ||
        descriptors > dbf::kMaxFields)
      return FailOpen(area, 210,
                      NotATable(name, " (", "Number of fields is out of range", ") [Use/OpenDbf]"));
    if (area.record_length == 0)
      return FailOpen(area, 210, NotATable(name, " (", "Record length is zero", ") [Use/OpenDbf]"));
    if (count > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max() - 1))
      return FailOpen(area, 210,
                      NotATable(name, " (", "Record count is out of range", ") [Use/OpenDbf]"));
    area.record_count = static_cast<std::int32_t>(count);
    const std::size_t desc_bytes = area.header_length - fixed;
    std::vector<std::uint8_t> desc(desc_bytes);
    rc = pf::ReadAt(area.file, fixed, desc.data(), desc_bytes, done);
    if (rc != 0 || done < desc_bytes)
      return FailOpen(area, rc != 0 ? static_cast<std::uint16_t>(rc) : 100,
                      "Error reading " + name + " [Use/OpenDbf]");
    for (int i = 0; i < descriptors; ++i) {
      const std::uint8_t* d = desc.data() + static_cast<std::size_t>(i) * form.size;
      if (d[0] == dbf::kTerminator) break;
      if (!ConvertDescriptor(area, d, form, running, error)) return FailOpen(area, 211, error);
    }
    if (area.fields.empty()) return FailOpen(area, 222, "Error reading " + name + " [Use/OpenDbf]");
  }
  NameNamelessFields(area.fields);
  if (area.record_length == 0)
    return FailOpen(area, 210, NotATable(name, " (", "Record length is zero", ") [Use/OpenDbf]"));
  if (running > area.record_length)
    return FailOpen(area, 210,
                    NotATable(name, " (", "Fields exceed the record length", ") [Use/OpenDbf]"));

  area.record.assign(area.record_length, ' ');
  area.scratch.assign(area.record_length, ' ');
  area.header_state = HeaderState::Clean;
  if (AutoFixRecCount) {
    std::int64_t n = RecordsInFile(area);
    if (n >= 0) area.record_count = static_cast<std::int32_t>(n);
  }
  area.read_ahead_first = 0;
  area.read_ahead_count = 0;
  if (area.record_count == 0) {
    area.record_number = 0;
    area.at_end = area.at_beginning = true;
  } else {
    area.record_number = 1;
    area.at_end = area.at_beginning = false;
  }
  return true;
}

bool GetDbfRecord(WorkArea& area, std::int32_t number, RecordRead why) {
  if (number < 1 || number > area.record_count) {
    SetError(212, InvalidRecordText(area, number, "[GetDbfRecord]"));
    return false;
  }
  // Collected appends reach the file before any of them is read back.
  if (area.pending_count > 0 && number >= area.pending_first && !WritePendingAppends(area))
    return false;
  area.at_end = area.at_beginning = false;
  const std::size_t len = area.record_length;
  std::uint8_t* target = area.scratch.data();

  // Deny-all: nobody else can change the file, every read may use the block.
  // Shared: only a step in natural order may, and never for a record under
  // this program's own lock; any other read drops the block.
  bool from_block = OpenedDenyAll(area);
  if (!from_block) {
    from_block = why != RecordRead::Positioning && !UnderOwnLock(area, number);
    if (!from_block) DropReadAhead(area);
  }
  if (from_block) {
    if (area.read_ahead_first == 0 || number < area.read_ahead_first ||
        number >= area.read_ahead_first + area.read_ahead_count) {
      // Positioning reads (by number or in index order) jump about the file:
      // they read the one record unless they continue the last block, so an
      // index walk does not copy a whole block for each record.
      const bool continues = area.read_ahead_first != 0 &&
                             number == area.read_ahead_first + area.read_ahead_count;
      const bool single = why == RecordRead::Positioning && !continues;
      if (!ReadBlockFor(area, number, why == RecordRead::StepBackward, single)) return false;
    }
    std::memcpy(target,
                area.read_ahead.data() + static_cast<std::size_t>(number - area.read_ahead_first) * len,
                len);
  } else {
    std::size_t done = 0;
    std::uint32_t rc = pf::ReadAt(area.file, RecordOffset(area, number), target, len, done);
    if (rc != 0) {
      SetError(static_cast<std::uint16_t>(rc), "File:  " + area.file_name + "  [GetDbfRecord]");
      return false;
    }
    if (done < len) {
      SetError(213, "File:  " + area.file_name + "  [GetDbfRecord]");
      return false;
    }
  }
  area.record.swap(area.scratch);
  area.record_number = number;
  TransformAfterRead(area, area.record.data(), 1);
  return true;
}

bool PutDbfRecord(WorkArea& area, std::int32_t number) {
  if (number < 1) {
    SetError(212, InvalidRecordText(area, number, "[Replace/Append/PutDbfRecord]"));
    return false;
  }
  const bool append = number > area.record_count;
  if (append) {
    number = area.record_count + 1;
    if (!AppendAllowed(area, number)) return false;
  } else if (area.pending_count > 0 && number >= area.pending_first &&
             !WritePendingAppends(area)) {
    return false;
  }
  const bool written = append && CollectsAppends(area)
                           ? CollectAppend(area, number)
                           : WritePendingAppends(area) && WriteRecordNow(area, RecordOffset(area, number));
  if (!written) return false;
  if (append) {
    area.record_count = number;
    area.record_number = number;
    area.header_state = HeaderState::Appended;
  } else if (area.header_state != HeaderState::Appended) {
    area.header_state = HeaderState::Dirty;
  }
  return true;
}

bool PutDeleteFlag(WorkArea& area, std::int32_t number) {
  if (number < 1) {
    SetError(212, InvalidRecordText(area, number, "[DeleteRec/RecallRec]"));
    return false;
  }
  // Beyond the end there is no record whose flag could change: the whole
  // record is appended, as a record write would.
  if (number > area.record_count) return PutDbfRecord(area, number);
  if (area.pending_count > 0 && number >= area.pending_first && !WritePendingAppends(area))
    return false;
  const std::uint64_t offset = RecordOffset(area, number);
  std::size_t done = 0;
  std::uint32_t rc = pf::WriteAt(area.file, offset, area.record.data(), 1, done);
  if (rc != 0 || done < 1) {
    SetError(WriteErrorCode(rc), "File:  " + area.file_name + " [DeleteRec/RecallRec]");
    return false;
  }
  NoteFileWrite(area, offset, area.record.data(), 1);
  if (area.header_state != HeaderState::Appended) area.header_state = HeaderState::Dirty;
  return true;
}

bool AppendDbfRecord(WorkArea& area) { return PutDbfRecord(area, area.record_count + 1); }

bool WriteDbfHeader(WorkArea& area) {
  int year = 0, month = 0, day = 0;
  pf::LocalDate(year, month, day);
  std::uint8_t* h = area.header.data();
  std::size_t done = 0;
  std::uint32_t rc = 0;
  std::size_t count = 0;
  if (area.version == dbf::kDbase2) {
    namespace d2 = dbf::dbase2;
    Put16(h + d2::kRecordCount,
          static_cast<std::uint32_t>(std::min<std::int32_t>(area.record_count, d2::kMaxRecords)));
    h[d2::kUpdateMonth] = static_cast<std::uint8_t>(month);
    h[d2::kUpdateDay] = static_cast<std::uint8_t>(day);
    h[d2::kUpdateYear] = static_cast<std::uint8_t>(year - dbf::kYearBase);
    count = d2::kPrologSize;
  } else {
    namespace hd = dbf::header;
    std::uint8_t kept[hd::kKeptForOthersSize];
    if (pf::ReadAt(area.file, hd::kKeptForOthers, kept, sizeof kept, done) == 0 && done == sizeof kept)
      std::memcpy(h + hd::kKeptForOthers, kept, sizeof kept);
    h[hd::kUpdateYear] = static_cast<std::uint8_t>(year - dbf::kYearBase);
    h[hd::kUpdateMonth] = static_cast<std::uint8_t>(month);
    h[hd::kUpdateDay] = static_cast<std::uint8_t>(day);
    Put32(h + hd::kRecordCount, static_cast<std::uint32_t>(area.record_count));
    count = hd::kSize;
  }
  rc = pf::WriteAt(area.file, 0, h, count, done);
  if (rc != 0 || done < count) {
    SetError(WriteErrorCode(rc), "File:  " + area.file_name + " [WriteDbfHeader]");
    return false;
  }
  NoteFileWrite(area, 0, h, count);
  area.update_date = DateDigits8(year, month, day);
  return true;
}

bool CloseDbf(WorkArea& area) {
  if (area.file == pf::kNoFile) {
    // The file was lost (a reopen that could not get it back): a header
    // that still had to be written is reported, not dropped in silence.
    const bool unwritten = area.header_state == HeaderState::Dirty ||
                           area.header_state == HeaderState::Appended;
    const std::string name = area.file_name;
    ReleaseTable(area);
    if (unwritten) {
      SetError(6, "File:  " + name + " [CloseDbf(" + name + ")]");
      return false;
    }
    return true;
  }
  bool ok = true;
  if (!WritePendingAppends(area)) {
    // Reported; what could not be written is not counted in the header.
    ok = false;
    area.record_count = area.pending_first - 1;
    area.pending_count = 0;
    area.pending_appends.clear();
  }
  TableLockSection section = TableLockSection::NotNeeded;
  if (area.header_state == HeaderState::Dirty || area.header_state == HeaderState::Appended) {
    bool write_eof = area.header_state == HeaderState::Appended;
    const bool shared_writer = !OpenedDenyAll(area) && !area.exclusive &&
                               (area.open_mode & pf::kAccessMask) != pf::kAccessRead;
    // Another program may be appending right now: the header count and the
    // end-of-file byte are written under the table lock, at the end the file
    // really has, so the byte cannot land on the deletion flag of someone
    // else's new record. A header with rewritten records only is written
    // under the lock too: a count taken just before another program's last
    // append and written after that program's own close would hide its
    // record from the header.
    if (shared_writer) section = EnterTableLockSection(area);
    if (section == TableLockSection::Unavailable) write_eof = false;
    if (shared_writer) {
      std::int64_t n = RecordsInFile(area);
      if (n >= 0 && (section != TableLockSection::Unavailable || n > area.record_count))
        area.record_count = static_cast<std::int32_t>(n);
    }
    ok = WriteDbfHeader(area);
    if (ok && write_eof) {
      const std::uint8_t eof = dbf::kEndOfFile;
      const std::uint64_t at = RecordOffset(area, area.record_count + 1);
      std::size_t done = 0;
      std::uint32_t rc = pf::WriteAt(area.file, at, &eof, 1, done);
      if (rc != 0 || done < 1) {
        LeaveTableLockSection(area, section);
        const std::string name = area.file_name;
        ReleaseTable(area);
        SetError(WriteErrorCode(rc), "File:  " + name + " [CloseDbf(" + name + ")]");
        return false;
      }
    }
    // Space reserved for appends beyond the end is given back: cutting the
    // file at its own size frees it and changes nothing else.
    std::uint64_t size = 0;
    if (area.reserved_end > 0 && section != TableLockSection::Unavailable &&
        pf::FileSize(area.file, size) == 0 && area.reserved_end > size)
      pf::Truncate(area.file, size);
    LeaveTableLockSection(area, section);
  }
  std::uint32_t rc = pf::CloseFile(area.file);
  area.file = pf::kNoFile;
  ReleaseTable(area);
  if (rc != 0) {
    SetError(static_cast<std::uint16_t>(rc),
             "File:  " + area.file_name + " [CloseDbf(" + area.file_name + ")]");
    return false;
  }
  return ok;
}

std::string MemoFileExtension(std::uint8_t version) {
  return (version == dbf::kFoxProMemo || version == dbf::kVisualFoxPro) ? "FPT" : "DBT";
}

bool CreateMemofile(const std::string& name, std::uint8_t version, std::uint16_t block_size,
                    const std::string& operation) {
  namespace ml = memo_layout;
  if (block_size == 0) block_size = DefaultMemoBlockSize;
  // The header takes block 0, so block 1 is the first free one (FoxPro:
  // the first block after the 512-byte header, in blocks of its size).
  std::vector<std::uint8_t> bytes;
  if (version == dbf::kDbase3Memo) {
    bytes.assign(ml::kDbase3EmptyFileSize, 0);
    Put32(bytes.data() + ml::kNextFreeOffset, 1);
    bytes[ml::kDbase3HeaderSize] = ml::kTextEnd;
  } else if (version == dbf::kFoxProMemo) {
    bytes.assign(ml::kFoxHeaderSize, 0);
    Put32BE(bytes.data() + ml::kNextFreeOffset, (ml::kFoxHeaderSize - 1) / block_size + 1);
    Put16BE(bytes.data() + ml::kFoxBlockSizeOffset, block_size);
  } else {
    bytes.assign(ml::kDbase4HeaderSize, 0);
    Put32(bytes.data() + ml::kNextFreeOffset, 1);
    std::string bare = WithoutExtension(std::string_view(name).substr(NameStart(name)));
    for (std::size_t i = 0; i < ml::kDbase4NameSize && i < bare.size(); ++i)
      bytes[ml::kDbase4NameOffset + i] = static_cast<std::uint8_t>(bare[i]);
    Put16(bytes.data() + ml::kDbase4MarkOffset, ml::kDbase4Mark);
    Put16(bytes.data() + ml::kDbase4BlockSizeOffset, block_size);
  }
  pf::FileHandle file = pf::kNoFile;
  if (std::uint32_t rc = pf::CreateNewFile(name, kExclusiveOpenMode, file); rc != 0) {
    SetError(static_cast<std::uint16_t>(rc), "Cannot create memo file " + name + " [" + operation + "]");
    return false;
  }
  std::size_t done = 0;
  std::uint32_t rc = pf::WriteAt(file, 0, bytes.data(), bytes.size(), done);
  std::uint32_t close_rc = pf::CloseFile(file);
  if (rc != 0 || done < bytes.size() || close_rc != 0) {
    SetError(rc != 0 || done < bytes.size() ? WriteErrorCode(rc) : static_cast<std::uint16_t>(close_rc),
             name + " [" + operation + "]");
    return false;
  }
  return true;
}

namespace {

// The version byte of a new table of a family, with or without memo fields.
std::uint8_t NewTableVersion(TableFamily family, bool memo) {
  switch (family) {
    case TableFamily::Dbase2: return dbf::kDbase2;
    case TableFamily::Dbase3: return memo ? dbf::kDbase3Memo : dbf::kDbase3;
    case TableFamily::Level7: return memo ? dbf::kLevel7Memo : dbf::kLevel7;
    case TableFamily::FoxPro: return memo ? dbf::kFoxProMemo : dbf::kDbase3;
    case TableFamily::Dbase4:
    case TableFamily::Default: break;
  }
  return memo ? DefaultTableVersion : dbf::kDbase3;
}

}  // namespace

bool CreateDBF(WorkArea& area, const std::string& given_name, int field_count,
               const std::vector<FieldDefinition>& definitions, TableFamily family) {
  static const char* kInvalid = "Invalid dBASE field definition [CreateDBF]";
  const bool dbase2 = family == TableFamily::Dbase2;
  const bool level7 = family == TableFamily::Level7;
  const int max_fields = dbase2 ? static_cast<int>(dbf::dbase2::kDescriptorSlots) : dbf::kMaxFields;
  if (field_count < 1 || field_count > max_fields || static_cast<std::size_t>(field_count) > definitions.size()) {
    SetError(211, kInvalid);
    return false;
  }
  // The prolog, one descriptor per field and the terminator; a dBASE II
  // header always has its 32 slots.
  const dbf::DescriptorForm& layout = dbase2 ? dbf::kDbase2Form : level7 ? dbf::kLevel7Form : dbf::kDbase3Form;
  bool memo = false;
  const std::size_t terminator_at = layout.first + static_cast<std::size_t>(field_count) * layout.size;
  const std::size_t header_length = dbase2 ? dbf::dbase2::kHeaderSize : terminator_at + 1;
  std::vector<std::uint8_t> header(header_length, 0);
  std::uint32_t record_length = dbf::record::kFirstField;
  for (int i = 0; i < field_count; ++i) {
    const FieldDefinition& definition = definitions[static_cast<std::size_t>(i)];
    const char type = UpperAscii(definition.type);
    std::string field_name = Upper(TrimBlanks(definition.name)).substr(0, dbf::descriptor::kNameLength);
    int length = definition.length;
    int decimals = 0;
    bool valid = !field_name.empty();
    switch (type) {
      case 'C':
        valid = valid && length >= 1 && length <= dbf::kMaxFieldLength;
        break;
      case 'N':
      case 'F':
        valid = valid && length >= 1 && length <= dbf::kMaxFieldLength && definition.decimals >= 0 &&
                definition.decimals <= 255;
        decimals = definition.decimals;
        break;
      case 'L': length = dbf::kLogicalLength; break;
      case 'D': length = dbf::kDateLength; break;
      case 'M':
      case 'B':
      case 'G':
      case 'P':
        length = dbf::kMemoLength;
        memo = true;
        break;
      default: valid = false;
    }
    // dBASE II knows character, number and logical fields only.
    if (dbase2 && type != 'C' && type != 'N' && type != 'L') valid = false;
    if (!valid) {
      SetError(211, kInvalid);
      return false;
    }
    std::uint8_t* d = header.data() + layout.first + static_cast<std::size_t>(i) * layout.size;
    std::memcpy(d + dbf::descriptor::kName, field_name.data(), std::min(field_name.size(), layout.name_size));
    d[layout.type] = static_cast<std::uint8_t>(type);
    d[layout.length] = static_cast<std::uint8_t>(length);
    d[layout.decimals] = static_cast<std::uint8_t>(decimals);
    if (dbase2) Put16(d + dbf::descriptor::kDbase2Address, record_length);
    record_length += static_cast<std::uint32_t>(length);
  }
  if (record_length > dbf::kMaxRecordLength || (dbase2 && record_length > dbf::dbase2::kMaxRecordLength)) {
    SetError(211, kInvalid);
    return false;
  }
  const std::uint8_t version = NewTableVersion(family, memo);
  header[dbf::header::kVersion] = version;
  header[terminator_at] = dbf::kTerminator;
  if (dbase2) {
    Put16(header.data() + dbf::dbase2::kRecordLength, record_length);
  } else {
    Put16(header.data() + dbf::header::kHeaderLength, static_cast<std::uint32_t>(header_length));
    Put16(header.data() + dbf::header::kRecordLength, record_length);
    header[dbf::header::kLanguageDriver] = LanguageDriver();
  }

  const std::string name = DefaultExtension(AllTrim(given_name), "DBF");
  pf::FileHandle file = pf::kNoFile;
  std::uint32_t rc = pf::CreateNewFile(name, kExclusiveOpenMode, file);
  std::size_t done = 0;
  if (rc == 0) {
    rc = pf::WriteAt(file, 0, header.data(), header.size(), done);
    if (rc == 0 && done < header.size()) rc = 112;
  }
  if (rc != 0) {
    if (file != pf::kNoFile) pf::CloseFile(file);
    SetError(WriteErrorCode(rc), "Error writing " + name + ". [CreateDbf]");
    return false;
  }
  ReleaseTable(area);
  area.file = file;
  area.file_name = name;
  area.open_mode = kExclusiveOpenMode;
  area.version = header[dbf::header::kVersion];
  std::memcpy(area.header.data(), header.data(), std::min<std::size_t>(area.header.size(), header.size()));
  area.header_length = static_cast<std::uint16_t>(header_length);
  area.record_length = static_cast<std::uint16_t>(record_length);
  area.record_count = 0;
  area.header_state = HeaderState::Appended;
  if (!CloseDbf(area)) return false;
  if (memo)
    return CreateMemofile(WithoutExtension(name) + "." + MemoFileExtension(version), version,
                          DefaultMemoBlockSize, "CreateDbf()");
  return true;
}

bool CreateDBF(const std::string& name, const std::vector<FieldDefinition>& fields) {
  WorkArea area;
  return CreateDBF(area, name, static_cast<int>(fields.size()), fields);
}

}  // namespace qd
