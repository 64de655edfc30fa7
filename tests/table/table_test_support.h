// Shared fixture of the table tests: a fresh temporary directory per test,
// errors recorded instead of dispatched, every work area closed afterwards,
// and helpers to build and inspect table files byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "support/scratch_dir.h"
#include "table/work_areas.h"

namespace qd::table_test {

using test_support::Bytes;
inline Bytes ReadAll(const std::string& path) { return test_support::ReadBytes(path); }
inline void WriteAll(const std::string& path, const Bytes& bytes) { test_support::WriteBytes(path, bytes); }

inline void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline void PutText(Bytes& b, std::size_t at, const std::string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) b[at + i] = static_cast<std::uint8_t>(s[i]);
}

// A field of a hand-built table.
struct RawField {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

// Builds a dBASE III+ style file (version given) with the records' texts
// (each record text excludes nothing: it starts with the deletion flag).
inline Bytes BuildDbf(std::uint8_t version, const std::vector<RawField>& fields,
                      const std::vector<std::string>& records, bool eof_byte = true) {
  const std::size_t header_length = 32 + 32 * fields.size() + 1;
  std::size_t record_length = 1;
  for (const auto& f : fields) record_length += static_cast<std::size_t>(f.length);
  Bytes b(header_length, 0);
  b[0] = version;
  b[1] = 124;
  b[2] = 1;
  b[3] = 2;
  Put32(b, 4, static_cast<std::uint32_t>(records.size()));
  Put16(b, 8, static_cast<std::uint32_t>(header_length));
  Put16(b, 10, static_cast<std::uint32_t>(record_length));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t d = 32 + 32 * i;
    PutText(b, d, fields[i].name);
    b[d + 11] = static_cast<std::uint8_t>(fields[i].type);
    b[d + 16] = static_cast<std::uint8_t>(fields[i].length);
    b[d + 17] = static_cast<std::uint8_t>(fields[i].decimals);
  }
  b[header_length - 1] = 0x0D;
  for (const auto& r : records) {
    std::string text = r;
    text.resize(record_length, ' ');
    b.insert(b.end(), text.begin(), text.end());
  }
  if (eof_byte) b.push_back(0x1A);
  return b;
}

// The text in the native slot of a C or D field.
inline std::string SlotText(int field) {
  const std::uint8_t* p = FieldAddress(field);
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitErrorUnit();
    SetImmediateDispatch(false);
    ErrorCode = 0;
    DateFormat = 0;
    CenturyOn = false;
    AutoFixRecCount = false;
    AnsiTables = true;
    OpenModeOverride = -1;
    Select(1);
  }
  void TearDown() override {
    SetImmediateDispatch(false);
    RaiseExceptions = false;
    CloseEveryWorkArea();
    IndexHooks = IndexHookTable{};
    MemoHooks = MemoHookTable{};
    AnsiTables = false;
    OpenModeOverride = -1;
    InitErrorUnit();
  }
  std::string Path(const std::string& name) const { return scratch_.Path(name); }

  // Expects the last error code, then clears it.
  void ExpectError(std::uint16_t code) {
    EXPECT_EQ(ErrorCode, code) << ErrorText;
    ErrorCode = 0;
  }

  test_support::ScratchDir scratch_{"qd_table"};
};

}  // namespace qd::table_test
