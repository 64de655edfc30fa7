// Fuzz target of the memo unit: a table of four records whose memo fields
// name blocks of an arbitrary memo file. The input is
//   byte 0       options: bits 0-1 the variant (dBASE III, dBASE IV, FoxPro,
//                dBASE IV), bit 2 shared use, bit 3 write a value, bit 4 the
//                table's text in the OEM code page, bit 5 read every value
//                as a stream too, bit 6 pack the memo file (exclusive use)
//   bytes 1-16   the four records' block numbers, 32-bit little-endian
//   the rest     the memo file
// Every record's value is read as stored, as lines through a text file and by
// a memo search; a value that cannot be read must fail with a documented
// code. With bit 3 a value is then written for record 1 (and appended to
// through a text file for record 2): written without an error, it must read
// back exactly. A value read both whole and as a stream without an error
// reads the same. After a pack every value is as before or empty (a field
// naming no value the pack could copy), and a pack that failed changed
// nothing. Anything else aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/errors.h"
#include "memo/blob_streams.h"
#include "memo/memo_file.h"
#include "memo/memo_lines.h"
#include "memo/memo_pack.h"
#include "memo/memo_unit.h"
#include "platform/platform.h"
#include "platform/text_files.h"
#include "table/record_updates.h"
#include "table/search.h"
#include "table/work_areas.h"

namespace {

constexpr std::size_t kRecords = 4;
constexpr std::size_t kOptionsSize = 1;
constexpr std::size_t kBlocksSize = 4 * kRecords;

const std::string& BasePath() {
  static const std::string path = [] {
    std::string dir, file;
    qd::platform::TempDirectory(dir);
    qd::platform::UniqueTempFile(dir, "QDM", file);
    qd::platform::EraseFile(file);
    return file.substr(0, file.find_last_of('.'));  // the table and memo add theirs
  }();
  return path;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  qd::platform::FileHandle file = qd::platform::kNoFile;
  if (qd::platform::CreateNewFile(path, 0x12, file) != 0) std::abort();
  std::size_t done = 0;
  qd::platform::WriteAt(file, 0, data, size, done);
  qd::platform::CloseFile(file);
}

// A dBASE table of the version: NAME C(1), NOTES M(10), one record per
// block number (32-byte prolog, two 32-byte field descriptors, terminator).
std::string TableBytes(std::uint8_t version, const std::int32_t* blocks) {
  constexpr std::size_t kHeaderLength = 32 + 2 * 32 + 1;
  constexpr std::size_t kRecordLength = 1 + 1 + 10;
  std::string table(kHeaderLength, '\0');
  table[0] = static_cast<char>(version);
  table[4] = static_cast<char>(kRecords);
  table[8] = static_cast<char>(kHeaderLength);
  table[10] = static_cast<char>(kRecordLength);
  std::memcpy(&table[32], "NAME", 4);
  table[32 + 11] = 'C';
  table[32 + 16] = 1;
  std::memcpy(&table[64], "NOTES", 5);
  table[64 + 11] = 'M';
  table[64 + 16] = 10;
  table[kHeaderLength - 1] = 0x0D;
  for (std::size_t r = 0; r < kRecords; ++r) {
    std::string number = std::to_string(blocks[r]);
    number.insert(0, 10 - std::min<std::size_t>(10, number.size()), ' ');
    table += "  " + number.substr(0, 10);
  }
  table += '\x1A';
  return table;
}

bool Documented(std::uint16_t code) {
  return code == 30 || code == 29 || code == 217 || code == 1003 || code == 1004 || code == 101 ||
         code == 1005 || code == 1012 ||
         (code > 0 && code < 100);
}

void ExpectDocumented() {
  if (qd::ErrorCode != 0 && !Documented(qd::ErrorCode)) std::abort();
  qd::ErrorCode = 0;
}

std::int32_t Slot() {
  std::int32_t block = 0;
  std::memcpy(&block, qd::FieldAddress(2), 4);
  return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kOptionsSize + kBlocksSize) return 0;
  qd::SetImmediateDispatch(false);
  qd::SetRaiseExceptions(false);
  qd::InitMemoUnit();
  qd::memo::MemoLockWaitMs = 0;
  const std::uint8_t options = data[0];
  static const std::uint8_t kVersions[] = {0x83, 0x8B, 0xF5, 0x8B};
  const std::uint8_t version = kVersions[options & 3];
  std::int32_t blocks[kRecords];
  std::memcpy(blocks, data + kOptionsSize, kBlocksSize);
  const std::string table = TableBytes(version, blocks);
  const std::string& base = BasePath();
  WriteFile(base + ".DBF", reinterpret_cast<const std::uint8_t*>(table.data()), table.size());
  WriteFile(base + "." + qd::MemoFileExtension(version), data + kOptionsSize + kBlocksSize,
            size - kOptionsSize - kBlocksSize);

  qd::ErrorCode = 0;
  qd::AnsiTables = (options & 16) == 0;
  qd::Select(1);
  qd::Use(base + ((options & 4) != 0 ? "" : " EXCLUSIVE"), nullptr, 0);
  if (qd::CurrentWorkArea() == nullptr || !qd::CurrentWorkArea()->memo) std::abort();
  const bool shared = (options & 4) != 0;

  for (std::int32_t record = 1; record <= static_cast<std::int32_t>(kRecords); ++record) {
    qd::Go(record);
    std::string value;
    qd::ReadMemoValue(Slot(), value, "fuzz");
    ExpectDocumented();
    std::int32_t block = Slot();
    qd::platform::TextFile file;
    if (!qd::AssignMemo(file, &block)) std::abort();
    if (qd::platform::TextReset(file) == 0) {
      std::string line;
      while (!qd::platform::TextEof(file) && qd::platform::TextReadLine(file, line) == 0) {
      }
      qd::platform::TextClose(file);
    }
    ExpectDocumented();
    qd::MemoContains("QD", qd::Peek(2, record));
    ExpectDocumented();
  }

  if ((options & 32) != 0) {
    for (std::int32_t record = 1; record <= static_cast<std::int32_t>(kRecords); ++record) {
      qd::Go(record);
      std::string whole;
      const bool read = qd::ReadMemoValue(Slot(), whole, "fuzz");
      qd::ErrorCode = 0;
      qd::CreateBlobDescriptor(false, Slot(), qd::kBlobRead);
      const bool opened = qd::ErrorCode == 0;
      ExpectDocumented();
      std::string streamed;
      char chunk[300];
      for (std::int32_t n = 0; (n = qd::ReadBlobStream(chunk, sizeof chunk)) > 0;) {
        streamed.append(chunk, static_cast<std::size_t>(n));
        if (streamed.size() > size + 1024) std::abort();  // never more than the file holds
      }
      const bool clean = qd::ErrorCode == 0;
      ExpectDocumented();
      qd::DestroyBlobDescriptor();
      if (read && opened && clean && streamed != whole) std::abort();
    }
  }

  if ((options & 64) != 0 && !shared) {
    std::string before[kRecords];
    bool readable[kRecords];
    for (std::size_t r = 0; r < kRecords; ++r) {
      qd::Go(static_cast<std::int32_t>(r + 1));
      readable[r] = qd::ReadMemoValue(Slot(), before[r], "fuzz");
      qd::ErrorCode = 0;
    }
    qd::PackMemofile();
    const std::uint16_t code = qd::ErrorCode;
    ExpectDocumented();
    if (qd::CurrentWorkArea() == nullptr || !qd::CurrentWorkArea()->memo) std::abort();
    for (std::size_t r = 0; r < kRecords; ++r) {
      qd::Go(static_cast<std::int32_t>(r + 1));
      std::string after;
      const bool ok = qd::ReadMemoValue(Slot(), after, "fuzz");
      qd::ErrorCode = 0;
      if (!readable[r]) continue;
      const bool packed = code == 0 || code == 1003 || code == 30;
      if (!ok || (after != before[r] && !(packed && after.empty()))) std::abort();
    }
  }

  if ((options & 8) != 0) {
    // Record 1 gets a value made of the input's own bytes.
    const std::size_t length = std::min<std::size_t>(size, 700);
    const std::string written(reinterpret_cast<const char*>(data), length);
    qd::Go(1);
    if (!shared || qd::RLock()) {
      qd::Go(1);
      std::int32_t block = 0;
      if (qd::WriteMemoValue(Slot(), written, block, "fuzz")) {
        std::memcpy(qd::FieldAddress(2), &block, 4);
        qd::Replace();
        std::string read;
        if (!qd::ReadMemoValue(block, read, "fuzz") || read != written) std::abort();
      }
      ExpectDocumented();
      qd::Unlock();
    }
    // Record 2's value gets a line appended.
    qd::Go(2);
    if (!shared || qd::RLock()) {
      qd::Go(2);
      std::int32_t block = Slot();
      qd::platform::TextFile file;
      if (qd::AssignMemo(file, &block) && qd::platform::TextAppend(file) == 0) {
        qd::platform::TextWrite(file, "\nappended\n");
        if (qd::platform::TextClose(file) == 0) {
          std::memcpy(qd::FieldAddress(2), &block, 4);
          qd::Replace();
        }
      }
      ExpectDocumented();
      qd::Unlock();
    }
  }
  qd::Close();
  qd::ErrorCode = 0;
  return 0;
}
