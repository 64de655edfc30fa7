// Table files at the lowest level: creation layouts, the header checks of
// every version, record reads and writes with their error codes, header
// upkeep at close, the OEM transform and the record hooks.
#include <cstring>

#include "platform/platform.h"
#include "table/record_updates.h"
#include "table_test_support.h"

namespace qd::table_test {
namespace {

std::string Str(const Bytes& b, std::size_t from, std::size_t count) {
  return std::string(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + count));
}

class DbfFileTest : public TableTest {
 protected:
  bool Open(WorkArea& area, const std::string& name, std::uint8_t mode = kExclusiveOpenMode,
            TableLanguage language = tlAnsi) {
    area.open_mode = mode;
    area.exclusive = mode == kExclusiveOpenMode;
    area.language = language;
    return OpenDbf(area, Path(name));
  }
  // True when nobody holds the file open (an exclusive open succeeds).
  bool FileIsFree(const std::string& name) {
    platform::FileHandle h = platform::kNoFile;
    if (platform::OpenFile(Path(name), kExclusiveOpenMode, h) != 0) return false;
    platform::CloseFile(h);
    return true;
  }
  static void SetRecord(WorkArea& area, std::string text) {
    text.resize(area.record_length, ' ');
    std::memcpy(area.record.data(), text.data(), text.size());
  }
  static std::string Record(const WorkArea& area) { return std::string(area.record.begin(), area.record.end()); }
  static void Today(int& y, int& m, int& d) { platform::LocalDate(y, m, d); }
};

TEST_F(DbfFileTest, CreateWritesHeaderEofByteAndMemoFile) {
  ASSERT_TRUE(CreateDBF(Path("people.dbf"), {{"name", 'c', 10, 0}, {"amount", 'N', 8, 2},
                                             {"born", 'D', 0, 3}, {"ok", 'L', 5, 0},
                                             {"notes", 'M', 0, 0}}));
  const Bytes b = ReadAll(Path("people.dbf"));
  ASSERT_EQ(b.size(), 194u);
  EXPECT_EQ(Str(b, 0, 1) + Str(b, 4, 8), "\x8B" + std::string("\0\0\0\0\xC1\0\x26\0", 8));
  EXPECT_EQ(Str(b, 192, 2), "\x0D\x1A");
  // Names upper-cased; D, L and M take their fixed lengths; decimals only for numbers.
  EXPECT_EQ(Str(b, 32, 12), std::string("NAME\0\0\0\0\0\0\0C", 12));
  const int lengths[] = {10, 8, 8, 1, 10}, decimals[] = {0, 2, 0, 0, 0};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(b[32 + 32 * i + 16], lengths[i]);
    EXPECT_EQ(b[32 + 32 * i + 17], decimals[i]);
  }
  const Bytes memo = ReadAll(Path("people.DBT"));
  EXPECT_EQ(Str(memo, 0, 24), std::string("\1\0\0\0\0\0\0\0people\0\0\0\0\2\1\0\2\0\0", 24));

  ASSERT_TRUE(CreateDBF(Path("plain.dbf"), {{"A", 'C', 3, 0}}));
  EXPECT_EQ(ReadAll(Path("plain.dbf"))[0], 0x03);
  EXPECT_FALSE(std::filesystem::exists(Path("plain.DBT")));
}

// Each family writes its version byte and header layout, and the table
// reopens with the same fields: dBASE II (16-byte descriptors, 521-byte
// header), level 7 (48-byte descriptors after a 68-byte prolog), dBASE III
// and FoxPro with their own memo files. dBASE II takes no dates or memos.
TEST_F(DbfFileTest, CreateWritesEachTableFamily) {
  const std::vector<FieldDefinition> plain = {{"NAME", 'C', 12, 0}, {"QTY", 'N', 7, 2}, {"OK", 'L', 1, 0}};
  std::vector<FieldDefinition> memo = plain;
  memo.push_back({"NOTES", 'M', 10, 0});
  const struct {
    TableFamily family;
    bool with_memo;
    std::uint8_t version;
    std::uint16_t header_length;
    const char* memo_file;
  } cases[] = {
      {TableFamily::Dbase2, false, 0x02, 521, nullptr},
      {TableFamily::Dbase3, true, 0x83, 32 * 5 + 1, "t3.DBT"},
      {TableFamily::Dbase4, false, 0x03, 32 * 4 + 1, nullptr},
      {TableFamily::Level7, false, 0x04, 68 + 48 * 3 + 1, nullptr},
      {TableFamily::Level7, true, 0x8C, 68 + 48 * 4 + 1, "t7m.DBT"},
      {TableFamily::FoxPro, true, 0xF5, 32 * 5 + 1, "tf.FPT"},
  };
  const char* names[] = {"t2", "t3", "t4", "t7", "t7m", "tf"};
  int i = 0;
  for (const auto& c : cases) {
    const std::string name = names[i++];
    SCOPED_TRACE(name);
    WorkArea made;
    const std::vector<FieldDefinition>& fields = c.with_memo ? memo : plain;
    ASSERT_TRUE(CreateDBF(made, Path(name + ".dbf"), static_cast<int>(fields.size()), fields, c.family));
    WorkArea area;
    ASSERT_TRUE(Open(area, name + ".dbf"));
    EXPECT_EQ(area.version, c.version);
    EXPECT_EQ(area.header_length, c.header_length);
    EXPECT_EQ(area.record_count, 0);
    ASSERT_EQ(area.fields.size(), fields.size());
    for (std::size_t f = 0; f < fields.size(); ++f) {
      EXPECT_EQ(area.fields[f].name, fields[f].name);
      EXPECT_EQ(area.fields[f].type, fields[f].type);
      EXPECT_EQ(area.fields[f].length, fields[f].length);
    }
    EXPECT_EQ(area.fields[1].decimals, 2);
    CloseDbf(area);
    if (c.memo_file != nullptr) {
      EXPECT_TRUE(platform::FileExists(Path(c.memo_file)));
    }
  }
  WorkArea refused;
  EXPECT_FALSE(CreateDBF(refused, Path("d2.dbf"), 1, {{"BORN", 'D', 8, 0}}, TableFamily::Dbase2));
  EXPECT_EQ(ErrorCode, 211);
  ErrorCode = 0;
}

// A new table names the character set of its text in header byte 29, so
// that other programs decode it: the OEM page for OEM tables, the Windows
// page for ANSI ones. Reading ignores the byte.
TEST_F(DbfFileTest, CreateNamesTheCharacterSetOfTheText) {
  const struct {
    int ansi, oem;
    bool ansi_table;
    std::uint8_t driver;
  } cases[] = {
      {1252, 437, false, 0x01}, {1252, 850, false, 0x02}, {1251, 866, false, 0x65},
      {1252, 437, true, 0x03},  {1251, 866, true, 0xC9},
  };
  struct RestoreCodePages {
    ~RestoreCodePages() { platform::SetCodePages(1252, 437); }
  } restore;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.oem);
    // Windows converts with the system's own pair only.
    if (!platform::SetCodePages(c.ansi, c.oem)) continue;
    AnsiTables = c.ansi_table;
    ASSERT_TRUE(CreateDBF(Path("lang.dbf"), {{"NAME", 'C', 5, 0}, {"NOTES", 'M', 10, 0}}));
    EXPECT_EQ(ReadAll(Path("lang.dbf"))[29], c.driver);
    // Kept through an open, an append and the header written at close.
    Use(Path("lang") + " exclusive", nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    Append();
    Close();
    const Bytes b = ReadAll(Path("lang.dbf"));
    EXPECT_EQ(b[29], c.driver);
    EXPECT_EQ(b[4], 1);
  }
}

TEST_F(DbfFileTest, CreateRefusesBadDefinitionsAndWritesNothing) {
  std::vector<FieldDefinition> many;
  for (int i = 0; i < 256; ++i) many.push_back({"F" + std::to_string(i), 'C', 1, 0});
  for (const auto& fields : std::vector<std::vector<FieldDefinition>>{
           many, {{"A", 'X', 3, 0}}, {{"  ", 'C', 3, 0}}, {{"A", 'C', 0, 0}}, {{"A", 'N', 0, 0}},
           {{"A", 'C', 256, 0}}}) {
    EXPECT_FALSE(CreateDBF(Path("bad.dbf"), fields));
    ExpectError(211);
    EXPECT_EQ(ErrorText, "Invalid dBASE field definition [CreateDBF]");
    EXPECT_FALSE(std::filesystem::exists(Path("bad.dbf")));
  }
  many.pop_back();  // 255 fields are fine
  EXPECT_TRUE(CreateDBF(Path("ok.dbf"), many));
  WorkArea area;
  ASSERT_TRUE(Open(area, "ok.dbf"));
  EXPECT_EQ(area.fields.size(), 255u);
}

TEST_F(DbfFileTest, CorruptHeadersAreNotTablesAndLeaveNoFileOpen) {
  const Bytes good = BuildDbf(0x03, {{"A", 'C', 4}}, {" abcd"});
  auto with = [&](auto change) {
    Bytes b = good;
    change(b);
    return b;
  };
  const std::vector<std::pair<Bytes, std::uint16_t>> cases = {
      {Bytes(good.begin(), good.begin() + 31), 210},
      {with([](Bytes& b) { b[0] = 0x30; }), 210},
      {with([](Bytes& b) { b[0] = 0x05; }), 210},
      {with([](Bytes& b) { Put16(b, 10, 0); }), 210},               // record length 0
      {with([](Bytes& b) { Put16(b, 8, 40); }), 210},               // no room for a descriptor
      {with([](Bytes& b) { Put16(b, 10, 3); }), 210},               // field past the record
      {with([](Bytes& b) { Put32(b, 4, 0x80000000u); }), 210},      // count beyond 31 bits
      {with([](Bytes& b) { b[32] = 0x0D; }), 222},                  // no fields
      {with([](Bytes& b) { b[43] = 'X'; }), 211},                   // field type
      {with([](Bytes& b) { Put16(b, 8, 32 + 32 * 40); b.resize(200); }), 100},
  };
  for (const auto& [bytes, code] : cases) {
    WriteAll(Path("bad.dbf"), bytes);
    WorkArea area;
    EXPECT_FALSE(Open(area, "bad.dbf"));
    EXPECT_EQ(ErrorCode, code) << ErrorText;
    EXPECT_EQ(area.header_state, HeaderState::Closed);
    EXPECT_TRUE(FileIsFree("bad.dbf")) << ErrorText;
    ErrorCode = 0;
  }
  WorkArea area;
  WriteAll(Path("bad.dbf"), Bytes(10, 0x03));
  EXPECT_FALSE(Open(area, "bad.dbf"));
  EXPECT_EQ(ErrorText, Path("bad.dbf") + " is not a dBASE database. (Prolog is less than 32 bytes) [USE/OpenDBF]");
  EXPECT_FALSE(Open(area, "none.dbf"));
  ExpectError(2);
  EXPECT_EQ(ErrorText, "Failure to open " + Path("none.dbf") + " [USE/OpenDbf]");
}

TEST_F(DbfFileTest, FieldTypesAndDate) {
  WriteAll(Path("t.dbf"), BuildDbf(0x83, {{"pic", 'G', 10}, {"bin", 'b', 10}, {"n", 'N', 5, 2}}, {}));
  WorkArea area;
  ASSERT_TRUE(Open(area, "t.dbf"));
  EXPECT_EQ(std::string() + area.fields[0].type + area.fields[1].type, "MM");
  EXPECT_EQ(area.fields[0].name, "PIC");
  EXPECT_EQ(area.fields[2].offset, 21);
  EXPECT_TRUE(area.has_memo);
  EXPECT_EQ(area.update_date, "20240102");
}

TEST_F(DbfFileTest, RecordsByNumberAndShortReads) {
  WriteAll(Path("t.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one", "*two", " thr"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, "t.dbf"));
  EXPECT_EQ(area.record_number, 1);
  ASSERT_TRUE(GetDbfRecord(area, 2));
  for (int n : {0, 4, -1}) {
    EXPECT_FALSE(GetDbfRecord(area, n));
    ExpectError(212);
    EXPECT_EQ(Record(area), "*two");  // the current record is untouched
    EXPECT_EQ(area.record_number, 2);
  }
  EXPECT_EQ(ErrorText.find("Invalid record number = -1 ("), 0u);

  // The header claims more records than the file holds: a short read, in
  // shared mode and through the exclusive read-ahead.
  Bytes b = BuildDbf(0x03, {{"A", 'C', 3}}, {" one"}, false);
  Put32(b, 4, 5);
  WriteAll(Path("short.dbf"), b);
  for (std::uint8_t mode : {kSharedOpenMode, kExclusiveOpenMode}) {
    WorkArea s;
    ASSERT_TRUE(Open(s, "short.dbf", mode));
    ASSERT_TRUE(GetDbfRecord(s, 1));
    EXPECT_FALSE(GetDbfRecord(s, 3));
    ExpectError(213);
    EXPECT_EQ(Record(s), " one");
  }
}

TEST_F(DbfFileTest, ExclusiveReadAheadFollowsEveryWrite) {
  WriteAll(Path("t.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one", " two", " thr"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, "t.dbf", kExclusiveOpenMode, tlOem));
  ASSERT_TRUE(GetDbfRecord(area, 1));  // records 1..3 now held in memory
  SetRecord(area, " \xE9\xE9\xE9");
  ASSERT_TRUE(PutDbfRecord(area, 2));
  SetRecord(area, "*");
  ASSERT_TRUE(PutDeleteFlag(area, 3));
  ASSERT_TRUE(GetDbfRecord(area, 2));
  EXPECT_EQ(Record(area), " \xE9\xE9\xE9");
  ASSERT_TRUE(GetDbfRecord(area, 3));
  EXPECT_EQ(Record(area), "*thr");
  // A direct field write (as field pokes do) reports itself.
  std::size_t done = 0;
  ASSERT_EQ(platform::WriteAt(area.file, 65 + 4 + 1, "XY", 2, done), 0u);
  NoteFileWrite(area, 65 + 4 + 1, "XY", 2);
  ASSERT_TRUE(GetDbfRecord(area, 2));
  EXPECT_EQ(Record(area).substr(1, 2), "XY");
}

TEST_F(DbfFileTest, WritesAppendsAndHeaderAtClose) {
  WriteAll(Path("t.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, "t.dbf", kSharedOpenMode));
  SetRecord(area, " new");
  ASSERT_TRUE(PutDbfRecord(area, 1));
  EXPECT_EQ(area.header_state, HeaderState::Dirty);
  SetRecord(area, " bbb");
  ASSERT_TRUE(PutDbfRecord(area, 99));  // beyond the count: appended as record 2
  EXPECT_EQ(area.record_count, 2);
  EXPECT_EQ(area.record_number, 2);
  EXPECT_EQ(area.header_state, HeaderState::Appended);
  SetRecord(area, "*ccc");
  ASSERT_TRUE(PutDeleteFlag(area, 1));
  ASSERT_TRUE(PutDeleteFlag(area, 7));  // beyond the count: the whole record
  EXPECT_EQ(area.record_count, 3);
  EXPECT_FALSE(PutDbfRecord(area, 0));
  ExpectError(212);
  EXPECT_FALSE(PutDeleteFlag(area, -3));
  ExpectError(212);
  // Records were written, the header not yet; another program marks bytes
  // 16..27 meanwhile, which the close keeps.
  Bytes b = ReadAll(Path("t.dbf"));
  EXPECT_EQ(Get32(b, 4), 1u);
  b[20] = 0x77;
  WriteAll(Path("t.dbf"), b);
  ASSERT_TRUE(CloseDbf(area));

  b = ReadAll(Path("t.dbf"));
  int y, m, d;
  Today(y, m, d);
  const std::string prolog{char(y - 1900), char(m), char(d), 3, 0, 0, 0};
  EXPECT_EQ(Str(b, 1, 7), prolog);
  EXPECT_EQ(b[20], 0x77);
  ASSERT_EQ(b.size(), 65u + 3 * 4 + 1);
  EXPECT_EQ(Str(b, 65, 13), "*new bbb*ccc\x1A");
}

TEST_F(DbfFileTest, FailedWriteChangesNothing) {
  const Bytes original = BuildDbf(0x03, {{"A", 'C', 3}}, {" one"});
  WriteAll(Path("t.dbf"), original);
  WorkArea area;
  ASSERT_TRUE(Open(area, "t.dbf", kReadOnlySharedOpenMode));
  SetRecord(area, " xxx");
  EXPECT_FALSE(AppendDbfRecord(area));
  ErrorCode = 0;
  EXPECT_EQ(area.record_count, 1);
  EXPECT_EQ(area.header_state, HeaderState::Clean);
  ASSERT_TRUE(CloseDbf(area));
  EXPECT_EQ(ReadAll(Path("t.dbf")), original);
}

TEST_F(DbfFileTest, AutoFixRecCountTakesWholeRecordsFromTheFile) {
  Bytes b = BuildDbf(0x03, {{"A", 'C', 3}}, {" one", " two", " thr"});
  Put32(b, 4, 100);
  b.push_back('x');  // a partial record after the end-of-file byte
  WriteAll(Path("t.dbf"), b);
  for (bool fix : {true, false}) {
    AutoFixRecCount = fix;
    WorkArea area;
    ASSERT_TRUE(Open(area, "t.dbf"));
    EXPECT_EQ(area.record_count, fix ? 3 : 100);
  }
}

// dBASE II: its own 521-byte header, built byte by byte.
Bytes BuildDbase2(std::uint16_t count, const std::string& records) {
  Bytes b(521, 0);
  b[0] = 0x02;
  Put16(b, 1, count);
  PutText(b, 3, "\x07\x0E\x54");  // month, day, year - 1900
  Put16(b, 6, 1 + 6 + 4);
  PutText(b, 8, "NAME");
  PutText(b, 8 + 11, "C\x06");
  PutText(b, 24, "QTY");
  PutText(b, 24 + 11, "N\x04");
  b[40] = b[520] = 0x0D;
  b.insert(b.end(), records.begin(), records.end());
  return b;
}

TEST_F(DbfFileTest, DbaseTwoRoundTripAndRefusals) {
  WriteAll(Path("two.dbf"), BuildDbase2(2, " apple    3 pear    12"));
  WorkArea area;
  ASSERT_TRUE(Open(area, "two.dbf"));
  EXPECT_EQ(area.header_length, 521);
  EXPECT_EQ(area.record_length, 11);
  ASSERT_EQ(area.fields.size(), 2u);
  EXPECT_EQ(area.fields[1].name + " " + area.fields[1].type, "QTY N");
  EXPECT_EQ(area.fields[1].offset, 7);
  EXPECT_EQ(area.update_date, "19840714");
  ASSERT_TRUE(GetDbfRecord(area, 2));
  EXPECT_EQ(Record(area), " pear    12");
  SetRecord(area, " plum     1");
  ASSERT_TRUE(AppendDbfRecord(area));
  ASSERT_TRUE(CloseDbf(area));
  const Bytes b = ReadAll(Path("two.dbf"));
  int y, m, d;
  Today(y, m, d);
  const std::string prolog{3, 0, char(m), char(d), char(y - 1900)};
  EXPECT_EQ(Str(b, 1, 5), prolog);
  EXPECT_EQ(b[8], 'N');  // descriptors are never rewritten
  EXPECT_EQ(b.size(), 521u + 3 * 11 + 1);
  EXPECT_EQ(b.back(), 0x1A);

  Bytes short_header = BuildDbase2(0, "");
  short_header.resize(400);
  Bytes no_fields = BuildDbase2(0, "");
  no_fields[8] = 0x0D;
  for (const Bytes& bad : {short_header, no_fields}) {
    WriteAll(Path("bad.dbf"), bad);
    WorkArea x;
    EXPECT_FALSE(Open(x, "bad.dbf"));
    ExpectError(210);
  }
}

// A 16-bit count cannot pass 65,535, and no table may grow into the lock
// region at 1 GB: both appends are refused before anything is written.
TEST_F(DbfFileTest, AppendsThatCannotBeKeptAreRefused) {
  Bytes full = BuildDbase2(65535, "");
  Bytes big = BuildDbf(0x03, {{"A", 'C', 255}}, {});
  Put16(big, 10, 65535);
  Put32(big, 4, 16384);  // 16,384 records of 65,535 bytes end past 1 GB
  for (const Bytes& bytes : {full, big}) {
    WriteAll(Path("t.dbf"), bytes);
    WorkArea area;
    ASSERT_TRUE(Open(area, "t.dbf"));
    const std::int32_t count = area.record_count;
    EXPECT_FALSE(AppendDbfRecord(area));
    EXPECT_EQ(ErrorCode, 212);
    EXPECT_NE(ErrorText.find("t.dbf"), std::string::npos);
    EXPECT_NE(ErrorText.find("[Append]"), std::string::npos);
    ErrorCode = 0;
    EXPECT_EQ(area.record_count, count);
    EXPECT_EQ(area.header_state, HeaderState::Clean);
    ASSERT_TRUE(CloseDbf(area));
    EXPECT_EQ(ReadAll(Path("t.dbf")), bytes);
  }
}

// The limits exactly: a table may grow until its end-of-file byte is the
// last byte below the lock region at 1 GB, not one byte further; a dBASE II
// table takes its 65,535th record and no more. (The table that reaches the
// lock region is a sparse file of 1 GB.)
TEST_F(DbfFileTest, AppendLimitsAreExact) {
  // One C(1) field: records of 2 bytes after a 65-byte header, so that the
  // record after 536,870,878 others ends one byte before 1 GB.
  const std::int32_t count = 536870878;
  for (const std::uint16_t header_length : {65, 66}) {
    SCOPED_TRACE(header_length);
    Bytes b = BuildDbf(0x03, {{"A", 'C', 1}}, {}, false);
    b.resize(header_length, 0);
    Put16(b, 8, header_length);
    Put32(b, 4, static_cast<std::uint32_t>(count));
    WriteAll(Path("edge.dbf"), b);
    WorkArea area;
    ASSERT_TRUE(Open(area, "edge.dbf"));
    SetRecord(area, " z");
    const bool fits = header_length == 65;
    EXPECT_EQ(AppendDbfRecord(area), fits);
    EXPECT_EQ(ErrorCode, fits ? 0 : 212) << ErrorText;
    ErrorCode = 0;
    EXPECT_EQ(area.record_count, fits ? count + 1 : count);
    ASSERT_TRUE(CloseDbf(area));
    EXPECT_EQ(std::filesystem::file_size(Path("edge.dbf")),
              fits ? kLockBase : std::uintmax_t{header_length});
    std::filesystem::remove(Path("edge.dbf"));
  }

  WriteAll(Path("two.dbf"), BuildDbase2(65534, ""));
  WorkArea area;
  ASSERT_TRUE(Open(area, "two.dbf"));
  SetRecord(area, " last   1");
  EXPECT_TRUE(AppendDbfRecord(area));
  EXPECT_EQ(area.record_count, 65535);
  EXPECT_FALSE(AppendDbfRecord(area));
  ExpectError(212);
  EXPECT_EQ(area.record_count, 65535);
  ASSERT_TRUE(CloseDbf(area));
  const Bytes b = ReadAll(Path("two.dbf"));
  EXPECT_EQ(b.size(), 521u + 65535u * 11 + 1);
  EXPECT_EQ(b[1] | (b[2] << 8), 65535);
}

// Level 7: 68-byte prolog and 48-byte descriptors, built byte by byte.
TEST_F(DbfFileTest, LevelSevenRoundTrip) {
  const std::size_t hl = 68 + 2 * 48 + 1;
  Bytes b(hl, 0);
  PutText(b, 0, "\x8C\x64\x0C\x1F\x01");  // version, 2000-12-31, one record
  Put16(b, 8, static_cast<std::uint32_t>(hl));
  Put16(b, 10, 1 + 12 + 10);
  PutText(b, 32, "DBWINUS0");
  PutText(b, 68, "LongFieldName");  // only 10 characters are used
  PutText(b, 68 + 32, "C\x0C");
  PutText(b, 116, "memo");
  PutText(b, 116 + 32, "M\x0A");
  b[hl - 1] = 0x0D;
  const std::string rec = " hello world          5";
  b.insert(b.end(), rec.begin(), rec.end());
  WriteAll(Path("l7.dbf"), b);
  WorkArea area;
  ASSERT_TRUE(Open(area, "l7.dbf"));
  ASSERT_EQ(area.fields.size(), 2u);
  EXPECT_EQ(area.fields[0].name, "LONGFIELDN");
  EXPECT_EQ(area.fields[1].type, 'M');
  EXPECT_EQ(area.fields[1].offset, 13);
  EXPECT_TRUE(area.has_memo);
  EXPECT_EQ(area.update_date, "20001231");
  ASSERT_TRUE(GetDbfRecord(area, 1));
  EXPECT_EQ(Record(area), rec);
  SetRecord(area, " second             0");
  ASSERT_TRUE(AppendDbfRecord(area));
  ASSERT_TRUE(CloseDbf(area));
  const Bytes after = ReadAll(Path("l7.dbf"));
  EXPECT_EQ(Get32(after, 4), 2u);
  EXPECT_EQ(after.size(), hl + 2 * 23 + 1);
  EXPECT_EQ(Str(after, 32, 8), "DBWINUS0");
  EXPECT_EQ(Str(after, hl + 23, 7), " second");
}

TEST_F(DbfFileTest, EveryOtherVersionRoundTrips) {
  for (std::uint8_t version : {0x03, 0x83, 0x8B, 0xF5}) {
    const std::string name = "v" + std::to_string(version) + ".dbf";
    WriteAll(Path(name), BuildDbf(version, {{"A", 'C', 3}, {"N", 'N', 4, 1}}, {" abc 1.5"}));
    WorkArea area;
    ASSERT_TRUE(Open(area, name));
    EXPECT_EQ(area.has_memo, (version & 0x80) != 0);
    SetRecord(area, "*xyz 2.5");
    ASSERT_TRUE(PutDbfRecord(area, 1));
    SetRecord(area, " new 0.1");
    ASSERT_TRUE(AppendDbfRecord(area));
    ASSERT_TRUE(CloseDbf(area));
    const Bytes b = ReadAll(Path(name));
    EXPECT_EQ(b[0], version);
    EXPECT_EQ(Get32(b, 4), 2u);
    EXPECT_EQ(Str(b, b.size() - 17, 17), "*xyz 2.5 new 0.1\x1A");
  }
}

TEST_F(DbfFileTest, OemTransformAndRecordHooks) {
  // "é" is 0xE9 in Windows-1252 and 0x82 in code page 437; "à" 0xE0 and 0x85.
  WriteAll(Path("oem.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" \x82t\x82"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, "oem.dbf", kExclusiveOpenMode, tlOem));
  ASSERT_TRUE(GetDbfRecord(area, 1));
  EXPECT_EQ(Record(area), " \xE9t\xE9");
  SetRecord(area, "*\xE9t\xE0");
  ASSERT_TRUE(PutDbfRecord(area, 1));
  EXPECT_EQ(Record(area), "*\xE9t\xE0");  // the buffer stays readable
  ASSERT_TRUE(CloseDbf(area));
  EXPECT_EQ(Str(ReadAll(Path("oem.dbf")), 65, 4), "*\x82t\x85");

  // The before-write hook sees OEM text just before the write, the after-read
  // hook runs before the conversion back; both get the bytes after the flag.
  std::vector<std::size_t> counts;
  auto flip = [](std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) p[i] ^= 0x20;
  };
  WorkArea h;
  h.before_write = [&](std::uint8_t* p, std::size_t n) {
    counts.push_back(n);
    flip(p, n);
  };
  h.after_read = flip;
  ASSERT_TRUE(Open(h, "oem.dbf", kExclusiveOpenMode, tlOem));
  SetRecord(h, " AB\xE9");
  ASSERT_TRUE(PutDbfRecord(h, 1));
  EXPECT_EQ(Record(h), " AB\xE9");
  ASSERT_TRUE(GetDbfRecord(h, 1));
  EXPECT_EQ(Record(h), " AB\xE9");
  ASSERT_TRUE(CloseDbf(h));
  EXPECT_EQ(counts, std::vector<std::size_t>{3});
  EXPECT_EQ(Str(ReadAll(Path("oem.dbf")), 65, 4), " ab\xA2");
}

TEST_F(DbfFileTest, MemoFileLayouts) {
  EXPECT_EQ(MemoFileExtension(0xF5) + MemoFileExtension(0x83), "FPTDBT");
  ASSERT_TRUE(CreateMemofile(Path("a.dbt"), 0x83, 512, "Test"));
  Bytes expected(513, 0);
  expected[0] = 1;
  expected[512] = 0x1A;
  EXPECT_EQ(ReadAll(Path("a.dbt")), expected);
  ASSERT_TRUE(CreateMemofile(Path("b.fpt"), 0xF5, 64, "Test"));
  const Bytes f = ReadAll(Path("b.fpt"));
  EXPECT_EQ(f.size(), 512u);
  EXPECT_EQ(Str(f, 0, 8), std::string("\0\0\0\x08\0\0\0\x40", 8));  // 511 / 64 + 1, big-endian
  ASSERT_TRUE(CreateMemofile(Path("averylongname.dbt"), 0x8B, 1024, "Test"));
  EXPECT_EQ(Str(ReadAll(Path("averylongname.dbt")), 0, 24),
            std::string("\1\0\0\0\0\0\0\0averylon\0\0\2\1\0\4\0\0", 24));
  EXPECT_FALSE(CreateMemofile(Path("nodir/x.dbt"), 0x8B, 512, "Op"));
  EXPECT_NE(ErrorCode, 0);
  EXPECT_EQ(ErrorText, "Cannot create memo file " + Path("nodir/x.dbt") + " [Op]");
  ErrorCode = 0;
}

}  // namespace
}  // namespace qd::table_test
