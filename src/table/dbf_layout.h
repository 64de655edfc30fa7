// The dBASE table file (DBF): version byte, header, field descriptors and
// records.
//
// A table file is a header (a fixed prolog, one field descriptor per field
// and a terminator byte), then the records, one after the other, then one
// end-of-file byte. The header's length field gives the offset of the first
// record; record n (counted from 1) starts at header length + (n - 1) x
// record length. All integers are little-endian. A table file stays below
// offset 1073741824 (kLockBase, work_areas.h), where the byte-range locks
// of shared use lie.
//
// Version byte (offset 0): the engine opens exactly these and rejects every
// other value.
//
//   Byte  Family                                 Memo file
//   ----  -------------------------------------  ---------
//   0x02  dBASE II (a header of its own, below)  never
//   0x03  dBASE III and later, no memo (FoxPro   none
//         tables without memo as well)
//   0x83  dBASE III with memo                    .DBT
//   0x8B  dBASE IV with memo                     .DBT
//   0xF5  FoxPro with memo                       .FPT
//   0x04  level 7, no memo                       none
//   0x8C  level 7 with memo                      .DBT
//
// Except for 0x02, a table has a memo file exactly when bit 7 (0x80) is set.
// Other programs write further versions that the engine does not open:
// 0x30 and 0x31 (Visual FoxPro, without and with autoincrement fields) and
// 0xFB (FoxBASE).
//
// Header of every version but 0x02 (the prolog, 32 bytes):
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0      1   version byte
//      1      1   year of last update - 1900
//      2      1   month of last update, 1 to 12
//      3      1   day of last update, 1 to 31
//      4      4   number of records (unsigned)
//      8      2   header length: the offset of the first record
//     10      2   record length, deletion flag included
//     12      4   reserved, kept as read
//     16     12   reserved for other programs (multi-user use); re-read from
//                 the file just before every header rewrite, so what another
//                 program put there survives
//     28      1   production index flag: nonzero when the table has a
//                 production index (its own name, extension .MDX); the
//                 engine writes 1 or 0
//     29      1   language driver: the character set of the table's text for
//                 other programs (0: not given, plain ASCII)
//     30      2   reserved, kept as read
//     32      *   field descriptors (32 bytes each), from offset 68 for
//                 level 7 (48 bytes each), one per field in record order
//      *      1   terminator 0x0D after the last descriptor
//
// Only the first 32 bytes are ever rewritten; the descriptors stay as
// written. Anything between the terminator and the first record (FoxPro's
// back-link area, for example) is ignored.
//
// Level 7 (0x04, 0x8C): the prolog above, then 36 bytes more (68 in all):
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//     32     32   language driver name, zero-padded (read past, not used)
//     64      4   reserved
//
// The number of descriptors follows from the header length:
// (header length - 32) div 32, or (header length - 68) div 48 for level 7,
// from 1 to 255; they are read in order until that count or a descriptor
// whose first byte is the terminator.
//
// Field descriptor (32 bytes):
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0     11   field name, ASCII, zero-padded: at most 10 characters are
//                 used, so byte 10 is always zero
//     11      1   type letter: C, D, F, L, M, N (B, G and P read as M)
//     12      4   reserved (zero when created; other programs keep the
//                 field's address here)
//     16      1   field length in bytes, 1 to 255
//     17      1   decimal count (0 for types other than N and F)
//     18     14   reserved (zero when created)
//
// Level 7 field descriptor (48 bytes):
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0     32   field name, zero-padded (at most 10 characters are used)
//     32      1   type letter
//     33      1   field length
//     34      1   decimal count
//     35     13   reserved (zero when created)
//
// dBASE II header (0x02): always 521 bytes (it has no header length field;
// the first record starts at offset 521):
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0      1   version byte 0x02
//      1      2   number of records, 16-bit: at most 65535
//      3      1   month of last update
//      4      1   day of last update
//      5      1   year of last update - 1900
//      6      2   record length, at most 1000
//      8    512   32 descriptor slots of 16 bytes; the slot after the last
//                 field begins with the terminator 0x0D
//    520      1   end of the header (the 33rd slot's first byte: the
//                 terminator when all 32 slots hold fields, else 0 as the
//                 engine writes it)
//
// Only the first 8 bytes are rewritten. A dBASE II table has no memo file
// and no production index flag or language driver.
//
// dBASE II field descriptor (16 bytes):
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0     11   field name, zero-padded (at most 10 characters)
//     11      1   type letter (dBASE II itself knows C, N and L only)
//     12      1   field length
//     13      2   the field's offset in the record (written, not read)
//     15      1   decimal count
//
// Record (record length bytes):
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0      1   deletion flag: '*' deleted, ' ' active
//      1      *   the fields in descriptor order without gaps, all as text
//
// After the last record the file holds one end-of-file byte 0x1A whenever
// the engine has appended records or created the table; readers take the
// record count from the header (or the file size) and ignore it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qd::dbf {

// Version bytes.
inline constexpr std::uint8_t kDbase2 = 0x02;
inline constexpr std::uint8_t kDbase3 = 0x03;
inline constexpr std::uint8_t kDbase3Memo = 0x83;
inline constexpr std::uint8_t kDbase4Memo = 0x8B;
inline constexpr std::uint8_t kFoxProMemo = 0xF5;
inline constexpr std::uint8_t kLevel7 = 0x04;
inline constexpr std::uint8_t kLevel7Memo = 0x8C;
inline constexpr std::uint8_t kMemoBit = 0x80;
// Written by other programs, never opened.
inline constexpr std::uint8_t kVisualFoxPro = 0x30;
inline constexpr std::uint8_t kVisualFoxProAutoIncrement = 0x31;
inline constexpr std::uint8_t kFoxBase = 0xFB;

inline constexpr bool VersionAccepted(std::uint8_t v) {
  return v == kDbase2 || v == kDbase3 || v == kDbase3Memo || v == kDbase4Memo || v == kFoxProMemo ||
         v == kLevel7 || v == kLevel7Memo;
}
inline constexpr bool IsLevel7(std::uint8_t v) { return v == kLevel7 || v == kLevel7Memo; }

// Update dates keep the year as year - kYearBase in one byte.
inline constexpr int kYearBase = 1900;

inline constexpr std::uint8_t kTerminator = 0x0D;
inline constexpr std::uint8_t kEndOfFile = 0x1A;

// Header of every version but 0x02.
namespace header {
inline constexpr std::size_t kVersion = 0;
inline constexpr std::size_t kUpdateYear = 1;    // year - 1900
inline constexpr std::size_t kUpdateMonth = 2;
inline constexpr std::size_t kUpdateDay = 3;
inline constexpr std::size_t kRecordCount = 4;   // 32-bit
inline constexpr std::size_t kHeaderLength = 8;  // 16-bit
inline constexpr std::size_t kRecordLength = 10; // 16-bit
inline constexpr std::size_t kKeptForOthers = 16;
inline constexpr std::size_t kKeptForOthersSize = 12;
inline constexpr std::size_t kProductionIndex = 28;
inline constexpr std::size_t kLanguageDriver = 29;
inline constexpr std::size_t kSize = 32;
inline constexpr std::size_t kLevel7DriverName = 32;
inline constexpr std::size_t kLevel7DriverNameSize = 32;
inline constexpr std::size_t kLevel7Size = 68;
}  // namespace header

// Header of version 0x02.
namespace dbase2 {
inline constexpr std::size_t kRecordCount = 1;   // 16-bit
inline constexpr std::size_t kUpdateMonth = 3;
inline constexpr std::size_t kUpdateDay = 4;
inline constexpr std::size_t kUpdateYear = 5;    // year - 1900
inline constexpr std::size_t kRecordLength = 6;  // 16-bit
inline constexpr std::size_t kPrologSize = 8;
inline constexpr std::size_t kDescriptors = 8;
inline constexpr std::size_t kDescriptorSlots = 32;
inline constexpr std::size_t kDescriptorArea = 512;  // 32 x 16
inline constexpr std::size_t kHeaderSize = 521;

inline constexpr std::int32_t kMaxRecords = 65535;
inline constexpr std::uint32_t kMaxRecordLength = 1000;
}  // namespace dbase2

// Field descriptors: offsets within one descriptor.
namespace descriptor {
inline constexpr std::size_t kName = 0;
inline constexpr std::size_t kNameSize = 11;
inline constexpr std::size_t kType = 11;
inline constexpr std::size_t kLength = 16;
inline constexpr std::size_t kDecimals = 17;
inline constexpr std::size_t kSize = 32;

inline constexpr std::size_t kLevel7NameSize = 32;
inline constexpr std::size_t kLevel7Type = 32;
inline constexpr std::size_t kLevel7Length = 33;
inline constexpr std::size_t kLevel7Decimals = 34;
inline constexpr std::size_t kLevel7Size = 48;

inline constexpr std::size_t kDbase2NameSize = 11;
inline constexpr std::size_t kDbase2Type = 11;
inline constexpr std::size_t kDbase2Length = 12;
inline constexpr std::size_t kDbase2Address = 13;  // 16-bit
inline constexpr std::size_t kDbase2Decimals = 15;
inline constexpr std::size_t kDbase2Size = 16;

// Characters of a field name that count, whatever room the name has.
inline constexpr std::size_t kNameLength = 10;
}  // namespace descriptor

// Where the descriptors of a version start and how one is laid out.
struct DescriptorForm {
  std::size_t first;  // offset of the first descriptor in the file
  std::size_t size;
  std::size_t name_size;
  std::size_t type, length, decimals;
};
static_assert(dbase2::kDescriptorArea == dbase2::kDescriptorSlots * descriptor::kDbase2Size);
static_assert(dbase2::kHeaderSize == dbase2::kDescriptors + dbase2::kDescriptorArea + 1);

inline constexpr DescriptorForm kDbase2Form{dbase2::kDescriptors,        descriptor::kDbase2Size,
                                            descriptor::kDbase2NameSize, descriptor::kDbase2Type,
                                            descriptor::kDbase2Length,   descriptor::kDbase2Decimals};
inline constexpr DescriptorForm kLevel7Form{header::kLevel7Size,         descriptor::kLevel7Size,
                                            descriptor::kLevel7NameSize, descriptor::kLevel7Type,
                                            descriptor::kLevel7Length,   descriptor::kLevel7Decimals};
// Every version but 0x02 and level 7.
inline constexpr DescriptorForm kDbase3Form{header::kSize,          descriptor::kSize,   descriptor::kNameSize,
                                            descriptor::kType,      descriptor::kLength, descriptor::kDecimals};
inline constexpr const DescriptorForm& FormOf(std::uint8_t version) {
  return version == kDbase2 ? kDbase2Form : IsLevel7(version) ? kLevel7Form : kDbase3Form;
}

// Descriptors a header holds (dBASE II: as many as it has slots).
inline constexpr int kMaxFields = 255;
inline constexpr int kMaxFieldLength = 255;
// The record length field is 16-bit.
inline constexpr std::uint32_t kMaxRecordLength = 65535;

// Records.
namespace record {
inline constexpr std::size_t kDeletionFlag = 0;
inline constexpr std::size_t kFirstField = 1;
inline constexpr std::uint8_t kActive = ' ';
inline constexpr std::uint8_t kDeleted = '*';
}  // namespace record

// Stored lengths of the fixed-length field types.
inline constexpr int kLogicalLength = 1;
inline constexpr int kDateLength = 8;
inline constexpr int kMemoLength = 10;
// Memo fields other programs (Visual FoxPro) write: a 4-byte block number.
inline constexpr int kBinaryMemoLength = 4;

}  // namespace qd::dbf
