// Table files at the lowest level: creation layouts, the header checks of
// every version, record reads and writes with their error codes, header
// upkeep at close, the OEM transform and the record hooks.
#include <cstring>

#include "platform/platform.h"
#include "table_test_support.h"

namespace qd::table_test {
namespace {

class DbfFileTest : public TableTest {
 protected:
  // Opens `path` into `area` in the given mode.
  bool Open(WorkArea& area, const std::string& path, std::uint8_t mode = kExclusiveOpenMode,
            TableLanguage language = tlAnsi) {
    area.open_mode = mode;
    area.exclusive = (mode & 0x70) == 0x10;
    area.language = language;
    return OpenDbf(area, path);
  }
  // True when nobody holds the file open (an exclusive open succeeds).
  bool FileIsFree(const std::string& path) {
    platform::FileHandle h = platform::kNoFile;
    if (platform::OpenFile(path, kExclusiveOpenMode, h) != 0) return false;
    platform::CloseFile(h);
    return true;
  }
  void SetRecordText(WorkArea& area, const std::string& text) {
    std::string t = text;
    t.resize(area.record_length, ' ');
    std::memcpy(area.record.data(), t.data(), t.size());
  }
  std::string RecordText(const WorkArea& area) {
    return std::string(area.record.begin(), area.record.end());
  }
};

TEST_F(DbfFileTest, CreateWritesHeaderEofByteAndMemoFile) {
  const std::vector<FieldSpec> fields = {
      {"name", 'c', 10, 0}, {"amount", 'N', 8, 2}, {"born", 'D', 0, 3}, {"ok", 'L', 5, 0},
      {"notes", 'M', 0, 0}};
  ASSERT_TRUE(CreateDBF(Path("people"), fields));
  Bytes b = ReadAll(Path("people.DBF"));
  ASSERT_EQ(b.size(), 194u);
  EXPECT_EQ(b[0], 0x8B);
  EXPECT_EQ(b[8] | (b[9] << 8), 193);
  EXPECT_EQ(b[10] | (b[11] << 8), 38);
  EXPECT_EQ(Get32(b, 4), 0u);
  EXPECT_EQ(b[192], 0x0D);
  EXPECT_EQ(b[193], 0x1A);
  // Descriptors: names upper-cased, fixed lengths for D, L and M, decimals
  // only for numbers.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[32]), 4), "NAME");
  EXPECT_EQ(b[32 + 11], 'C');
  EXPECT_EQ(b[96 + 16], 8);
  EXPECT_EQ(b[96 + 17], 0);
  EXPECT_EQ(b[128 + 16], 1);
  EXPECT_EQ(b[160 + 16], 10);
  EXPECT_EQ(b[64 + 17], 2);

  Bytes memo = ReadAll(Path("people.DBT"));
  ASSERT_EQ(memo.size(), 24u);
  EXPECT_EQ(Get32(memo, 0), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&memo[8]), 6), "people");
  EXPECT_EQ(memo[18], 0x02);
  EXPECT_EQ(memo[19], 0x01);
  EXPECT_EQ(memo[20] | (memo[21] << 8), 512);

  ASSERT_TRUE(CreateDBF(Path("plain.dbf"), {{"A", 'C', 3, 0}}));
  EXPECT_EQ(ReadAll(Path("plain.dbf"))[0], 0x03);
  EXPECT_FALSE(std::filesystem::exists(Path("plain.DBT")));
}

TEST_F(DbfFileTest, CreateRefusesBadDefinitionsAndWritesNothing) {
  std::vector<FieldSpec> many;
  for (int i = 0; i < 256; ++i) many.push_back({"F" + std::to_string(i), 'C', 1, 0});
  const std::vector<std::vector<FieldSpec>> bad = {
      many,
      {{"A", 'X', 3, 0}},
      {{"  ", 'C', 3, 0}},
      {{"A", 'C', 0, 0}},
      {{"A", 'N', 0, 0}},
      {{"A", 'C', 256, 0}},
  };
  for (const auto& fields : bad) {
    EXPECT_FALSE(CreateDBF(Path("bad.dbf"), fields));
    ExpectError(211);
    EXPECT_EQ(ErrorText, "Invalid dBASE field definition [CreateDBF]");
    EXPECT_FALSE(std::filesystem::exists(Path("bad.dbf")));
  }
  many.pop_back();
  EXPECT_TRUE(CreateDBF(Path("ok.dbf"), many));
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("ok.dbf")));
  EXPECT_EQ(area.fields.size(), 255u);
}

TEST_F(DbfFileTest, CorruptHeadersAreNotTablesAndLeaveNoFileOpen) {
  const std::string path = Path("bad.dbf");
  const Bytes good = BuildDbf(0x03, {{"A", 'C', 4}}, {" abcd"});
  struct Case {
    const char* what;
    Bytes bytes;
    std::uint16_t code;
  };
  std::vector<Case> cases;
  cases.push_back({"short prolog", Bytes(good.begin(), good.begin() + 31), 210});
  for (std::uint8_t v : {0x30, 0x05, 0x00, 0xFF}) {
    Bytes b = good;
    b[0] = v;
    cases.push_back({"version", b, 210});
  }
  {
    Bytes b = good;
    Put16(b, 10, 0);
    cases.push_back({"record length 0", b, 210});
  }
  {
    Bytes b = good;
    Put16(b, 8, 40);
    cases.push_back({"no room for a descriptor", b, 210});
  }
  {
    Bytes b = good;
    Put16(b, 10, 3);
    cases.push_back({"field past record length", b, 210});
  }
  {
    Bytes b = good;
    Put32(b, 4, 0x80000000u);
    cases.push_back({"record count beyond 31 bits", b, 210});
  }
  {
    Bytes b = good;
    b[32] = 0x0D;
    cases.push_back({"no fields", b, 222});
  }
  {
    Bytes b = good;
    b[43] = 'X';
    cases.push_back({"field type", b, 211});
  }
  {
    Bytes b = good;
    Put16(b, 8, 32 + 32 * 40);
    b.resize(200);
    cases.push_back({"descriptors cut short", b, 100});
  }
  for (const auto& c : cases) {
    WriteAll(path, c.bytes);
    WorkArea area;
    EXPECT_FALSE(Open(area, path)) << c.what;
    EXPECT_EQ(ErrorCode, c.code) << c.what << ": " << ErrorText;
    EXPECT_EQ(area.header_state, HeaderState::Closed) << c.what;
    EXPECT_TRUE(FileIsFree(path)) << c.what;
    ErrorCode = 0;
  }
  WriteAll(path, Bytes(10, 0x03));
  WorkArea area;
  EXPECT_FALSE(Open(area, path));
  EXPECT_EQ(ErrorText, path + " is not a dBASE database. (Prolog is less than 32 bytes) [USE/OpenDBF]");
  WorkArea missing;
  EXPECT_FALSE(Open(missing, Path("none.dbf")));
  ExpectError(2);
  EXPECT_EQ(ErrorText, "Failure to open " + Path("none.dbf") + " [USE/OpenDbf]");
}

TEST_F(DbfFileTest, FieldTypesAndEmptyTablePosition) {
  WriteAll(Path("t.dbf"), BuildDbf(0x83, {{"pic", 'G', 10}, {"bin", 'b', 10}, {"n", 'N', 5, 2}},
                                   {}));
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("t.dbf")));
  EXPECT_EQ(area.fields[0].type, 'M');
  EXPECT_EQ(area.fields[1].type, 'M');
  EXPECT_EQ(area.fields[0].name, "PIC");
  EXPECT_EQ(area.fields[2].offset, 21);
  EXPECT_TRUE(area.has_memo);
  EXPECT_EQ(area.record_number, 0);
  EXPECT_TRUE(area.at_end);
  EXPECT_TRUE(area.at_beginning);
  EXPECT_EQ(area.update_date, "20240102");
}

TEST_F(DbfFileTest, RecordsByNumberAndOutOfRange) {
  WriteAll(Path("t.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one", "*two", " thr"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("t.dbf")));
  EXPECT_EQ(area.record_number, 1);
  ASSERT_TRUE(GetDbfRecord(area, 2));
  EXPECT_EQ(RecordText(area), "*two");
  for (int n : {0, 4, -1}) {
    EXPECT_FALSE(GetDbfRecord(area, n));
    ExpectError(212);
    EXPECT_EQ(RecordText(area), "*two");
    EXPECT_EQ(area.record_number, 2);
  }
  EXPECT_EQ(ErrorText.find("Invalid record number = -1 ("), 0u);

  // The header claims more records than the file holds: a short read.
  Bytes b = BuildDbf(0x03, {{"A", 'C', 3}}, {" one"}, false);
  Put32(b, 4, 5);
  WriteAll(Path("short.dbf"), b);
  WorkArea s;
  ASSERT_TRUE(Open(s, Path("short.dbf"), kSharedOpenMode));
  ASSERT_TRUE(GetDbfRecord(s, 1));
  EXPECT_FALSE(GetDbfRecord(s, 3));
  ExpectError(213);
  EXPECT_EQ(RecordText(s), " one");
  ASSERT_TRUE(CloseDbf(s));
  // The same through the exclusive read-ahead.
  WorkArea x;
  ASSERT_TRUE(Open(x, Path("short.dbf"), kExclusiveOpenMode));
  EXPECT_FALSE(GetDbfRecord(x, 2));
  ExpectError(213);
}

TEST_F(DbfFileTest, WritesAppendsAndHeaderAtClose) {
  ASSERT_TRUE(CreateDBF(Path("t.dbf"), {{"A", 'C', 3, 0}}));
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("t.dbf")));
  SetRecordText(area, " aaa");
  ASSERT_TRUE(AppendDbfRecord(area));
  EXPECT_EQ(area.header_state, HeaderState::Appended);
  SetRecordText(area, " bbb");
  ASSERT_TRUE(PutDbfRecord(area, 99));  // beyond the count: appended as record 2
  EXPECT_EQ(area.record_count, 2);
  EXPECT_EQ(area.record_number, 2);
  SetRecordText(area, "*bbb");
  ASSERT_TRUE(PutDeleteFlag(area, 2));
  SetRecordText(area, " ccc");
  ASSERT_TRUE(PutDeleteFlag(area, 7));  // beyond the count: the whole record
  EXPECT_EQ(area.record_count, 3);
  EXPECT_FALSE(PutDbfRecord(area, 0));
  ExpectError(212);
  EXPECT_FALSE(PutDeleteFlag(area, -3));
  ExpectError(212);
  ASSERT_TRUE(CloseDbf(area));

  const Bytes b = ReadAll(Path("t.dbf"));
  const std::size_t hl = 32 + 32 + 1;
  ASSERT_EQ(b.size(), hl + 3 * 4 + 1);
  EXPECT_EQ(b.back(), 0x1A);
  EXPECT_EQ(Get32(b, 4), 3u);
  EXPECT_EQ(std::string(b.begin() + hl, b.begin() + hl + 12), " aaa*bbb ccc");
}

TEST_F(DbfFileTest, ExclusiveReadAheadFollowsEveryWrite) {
  WriteAll(Path("t.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one", " two", " thr"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("t.dbf"), kExclusiveOpenMode, tlOem));
  ASSERT_TRUE(GetDbfRecord(area, 1));  // records 1..3 now held in memory
  SetRecordText(area, " \xE9\xE9\xE9");
  ASSERT_TRUE(PutDbfRecord(area, 2));
  SetRecordText(area, "*");
  ASSERT_TRUE(PutDeleteFlag(area, 3));
  SetRecordText(area, " new");
  ASSERT_TRUE(AppendDbfRecord(area));
  ASSERT_TRUE(GetDbfRecord(area, 2));
  EXPECT_EQ(RecordText(area), " \xE9\xE9\xE9");
  ASSERT_TRUE(GetDbfRecord(area, 3));
  EXPECT_EQ(RecordText(area), "*thr");
  ASSERT_TRUE(GetDbfRecord(area, 4));
  EXPECT_EQ(RecordText(area), " new");
  // A direct field write (as field pokes do) reports itself.
  ASSERT_TRUE(GetDbfRecord(area, 1));
  const char poke[] = "XY";
  std::size_t done = 0;
  ASSERT_EQ(platform::WriteAt(area.file, 65 + 4 + 1, poke, 2, done), 0u);
  NoteFileWrite(area, 65 + 4 + 1, poke, 2);
  ASSERT_TRUE(GetDbfRecord(area, 2));
  EXPECT_EQ(RecordText(area).substr(1, 2), "XY");
}

TEST_F(DbfFileTest, RewriteKeepsCountUntilCloseAndForeignReservedBytes) {
  WriteAll(Path("t.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one", " two"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("t.dbf"), kSharedOpenMode));
  ASSERT_TRUE(GetDbfRecord(area, 1));
  SetRecordText(area, " new");
  ASSERT_TRUE(PutDbfRecord(area, 1));
  EXPECT_EQ(area.header_state, HeaderState::Dirty);
  // Another program marks bytes 16..27 and changes the count meanwhile.
  Bytes b = ReadAll(Path("t.dbf"));
  EXPECT_EQ(b[1], 124);  // date untouched by the record write
  b[20] = 0x77;
  b[27] = 0x55;
  WriteAll(Path("t.dbf"), b);
  ASSERT_TRUE(CloseDbf(area));
  b = ReadAll(Path("t.dbf"));
  EXPECT_EQ(b[20], 0x77);
  EXPECT_EQ(b[27], 0x55);
  int y = 0, m = 0, d = 0;
  platform::LocalDate(y, m, d);
  EXPECT_EQ(b[1], y - 1900);
  EXPECT_EQ(b[2], m);
  EXPECT_EQ(b[3], d);
  EXPECT_EQ(Get32(b, 4), 2u);
}

TEST_F(DbfFileTest, FailedWriteChangesNothing) {
  WriteAll(Path("t.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("t.dbf"), kReadOnlySharedOpenMode));
  SetRecordText(area, " xxx");
  EXPECT_FALSE(AppendDbfRecord(area));
  EXPECT_NE(ErrorCode, 0);
  ErrorCode = 0;
  EXPECT_EQ(area.record_count, 1);
  EXPECT_EQ(area.record_number, 1);
  EXPECT_EQ(area.header_state, HeaderState::Clean);
  EXPECT_EQ(RecordText(area), " xxx");
  ASSERT_TRUE(CloseDbf(area));
  EXPECT_EQ(ReadAll(Path("t.dbf")), BuildDbf(0x03, {{"A", 'C', 3}}, {" one"}));
}

TEST_F(DbfFileTest, AutoFixRecCountTakesWholeRecordsFromTheFile) {
  Bytes b = BuildDbf(0x03, {{"A", 'C', 3}}, {" one", " two", " thr"});
  Put32(b, 4, 100);
  b.push_back('x');  // a partial record after the end-of-file byte
  WriteAll(Path("t.dbf"), b);
  AutoFixRecCount = true;
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("t.dbf")));
  EXPECT_EQ(area.record_count, 3);
  ASSERT_TRUE(CloseDbf(area));
  AutoFixRecCount = false;
  WorkArea plain;
  ASSERT_TRUE(Open(plain, Path("t.dbf"), kSharedOpenMode));
  EXPECT_EQ(plain.record_count, 100);
}

// dBASE II: its own 521-byte header, built byte by byte.
Bytes BuildDbase2(std::uint16_t count, const std::vector<std::string>& records) {
  Bytes b(521, 0);
  b[0] = 0x02;
  Put16(b, 1, count);
  b[3] = 7;   // month
  b[4] = 14;  // day
  b[5] = 84;  // year - 1900
  Put16(b, 6, 1 + 6 + 4);
  PutText(b, 8, "NAME");
  b[8 + 11] = 'C';
  b[8 + 12] = 6;
  PutText(b, 24, "QTY");
  b[24 + 11] = 'N';
  b[24 + 12] = 4;
  b[24 + 15] = 0;
  b[40] = 0x0D;
  b[520] = 0x0D;
  for (const auto& r : records) b.insert(b.end(), r.begin(), r.end());
  return b;
}

TEST_F(DbfFileTest, DbaseTwoRoundTrip) {
  WriteAll(Path("two.dbf"), BuildDbase2(2, {" apple    3", " pear    12"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("two.dbf")));
  EXPECT_EQ(area.header_length, 521);
  EXPECT_EQ(area.record_length, 11);
  ASSERT_EQ(area.fields.size(), 2u);
  EXPECT_EQ(area.fields[1].name, "QTY");
  EXPECT_EQ(area.fields[1].offset, 7);
  EXPECT_EQ(area.update_date, "19840714");
  EXPECT_FALSE(area.has_memo);
  ASSERT_TRUE(GetDbfRecord(area, 2));
  EXPECT_EQ(RecordText(area), " pear    12");
  SetRecordText(area, " plum     1");
  ASSERT_TRUE(AppendDbfRecord(area));
  ASSERT_TRUE(CloseDbf(area));
  Bytes b = ReadAll(Path("two.dbf"));
  ASSERT_EQ(b.size(), 521u + 3 * 11 + 1);
  EXPECT_EQ(b[1] | (b[2] << 8), 3);
  int y = 0, m = 0, d = 0;
  platform::LocalDate(y, m, d);
  EXPECT_EQ(b[3], m);
  EXPECT_EQ(b[4], d);
  EXPECT_EQ(b[5], y - 1900);
  EXPECT_EQ(b[8], 'N');  // descriptors never rewritten
  EXPECT_EQ(b.back(), 0x1A);

  // Short dBASE II header, and one without fields.
  Bytes short_header = BuildDbase2(0, {});
  short_header.resize(400);
  WriteAll(Path("s.dbf"), short_header);
  WorkArea s;
  EXPECT_FALSE(Open(s, Path("s.dbf")));
  ExpectError(210);
  Bytes no_fields = BuildDbase2(0, {});
  no_fields[8] = 0x0D;
  WriteAll(Path("n.dbf"), no_fields);
  WorkArea n;
  EXPECT_FALSE(Open(n, Path("n.dbf")));
  ExpectError(210);
}

TEST_F(DbfFileTest, DbaseTwoRefusesTheRecordAfter65535) {
  Bytes b = BuildDbase2(65535, {});
  WriteAll(Path("full.dbf"), b);
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("full.dbf")));
  EXPECT_EQ(area.record_count, 65535);
  SetRecordText(area, " extra    1");
  EXPECT_FALSE(AppendDbfRecord(area));
  EXPECT_EQ(ErrorCode, 212);
  EXPECT_NE(ErrorText.find("full.dbf"), std::string::npos);
  EXPECT_NE(ErrorText.find("[Append]"), std::string::npos);
  ErrorCode = 0;
  EXPECT_EQ(area.record_count, 65535);
  EXPECT_EQ(area.header_state, HeaderState::Clean);
  ASSERT_TRUE(CloseDbf(area));
  EXPECT_EQ(ReadAll(Path("full.dbf")), b);
}

TEST_F(DbfFileTest, AppendsStopBeforeTheLockRegion) {
  // 16,384 records of 65,535 bytes end just past 1 GB: the header says so,
  // the file itself stays small.
  Bytes b = BuildDbf(0x03, {{"A", 'C', 255}}, {});
  Put16(b, 10, 65535);
  Put32(b, 4, 16384);
  WriteAll(Path("big.dbf"), b);
  WorkArea area;
  area.open_mode = kExclusiveOpenMode;
  area.exclusive = true;
  area.language = tlAnsi;
  ASSERT_TRUE(OpenDbf(area, Path("big.dbf")));
  EXPECT_FALSE(AppendDbfRecord(area));
  EXPECT_EQ(ErrorCode, 212);
  EXPECT_NE(ErrorText.find("[Append]"), std::string::npos);
  ErrorCode = 0;
  EXPECT_EQ(area.record_count, 16384);
  ASSERT_TRUE(CloseDbf(area));
  EXPECT_EQ(ReadAll(Path("big.dbf")), b);
}

// Level 7: 68-byte prolog and 48-byte descriptors, built byte by byte.
TEST_F(DbfFileTest, LevelSevenRoundTrip) {
  const std::size_t hl = 68 + 2 * 48 + 1;
  Bytes b(hl, 0);
  b[0] = 0x8C;
  b[1] = 100;
  b[2] = 12;
  b[3] = 31;
  Put32(b, 4, 1);
  Put16(b, 8, static_cast<std::uint32_t>(hl));
  Put16(b, 10, 1 + 12 + 10);
  PutText(b, 32, "DBWINUS0");
  PutText(b, 68, "LongFieldName");  // only 10 characters are used
  b[68 + 32] = 'C';
  b[68 + 33] = 12;
  PutText(b, 116, "memo");
  b[116 + 32] = 'M';
  b[116 + 33] = 10;
  b[hl - 1] = 0x0D;
  const std::string rec = " hello world          5";
  b.insert(b.end(), rec.begin(), rec.end());
  WriteAll(Path("l7.dbf"), b);
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("l7.dbf")));
  ASSERT_EQ(area.fields.size(), 2u);
  EXPECT_EQ(area.fields[0].name, "LONGFIELDN");
  EXPECT_EQ(area.fields[1].type, 'M');
  EXPECT_EQ(area.fields[1].offset, 13);
  EXPECT_TRUE(area.has_memo);
  EXPECT_EQ(area.update_date, "20001231");
  ASSERT_TRUE(GetDbfRecord(area, 1));
  EXPECT_EQ(RecordText(area), rec);
  SetRecordText(area, " second             0");
  ASSERT_TRUE(AppendDbfRecord(area));
  ASSERT_TRUE(CloseDbf(area));
  const Bytes after = ReadAll(Path("l7.dbf"));
  EXPECT_EQ(Get32(after, 4), 2u);
  EXPECT_EQ(after.size(), hl + 2 * 23 + 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&after[32]), 8), "DBWINUS0");
  WorkArea again;
  ASSERT_TRUE(Open(again, Path("l7.dbf")));
  ASSERT_TRUE(GetDbfRecord(again, 2));
  EXPECT_EQ(RecordText(again).substr(0, 7), " second");
}

TEST_F(DbfFileTest, EveryOtherVersionRoundTrips) {
  for (std::uint8_t version : {0x03, 0x83, 0x8B, 0xF5}) {
    const std::string path = Path("v" + std::to_string(version) + ".dbf");
    WriteAll(path, BuildDbf(version, {{"A", 'C', 3}, {"N", 'N', 4, 1}}, {" abc 1.5"}));
    WorkArea area;
    ASSERT_TRUE(Open(area, path)) << int(version);
    EXPECT_EQ(area.has_memo, (version & 0x80) != 0);
    ASSERT_TRUE(GetDbfRecord(area, 1));
    SetRecordText(area, "*xyz 2.5");
    ASSERT_TRUE(PutDbfRecord(area, 1));
    SetRecordText(area, " new 0.1");
    ASSERT_TRUE(AppendDbfRecord(area));
    ASSERT_TRUE(CloseDbf(area));
    WorkArea again;
    ASSERT_TRUE(Open(again, path));
    EXPECT_EQ(again.version, version);
    EXPECT_EQ(again.record_count, 2);
    ASSERT_TRUE(GetDbfRecord(again, 1));
    EXPECT_EQ(RecordText(again), "*xyz 2.5");
    ASSERT_TRUE(GetDbfRecord(again, 2));
    EXPECT_EQ(RecordText(again), " new 0.1");
  }
}

TEST_F(DbfFileTest, OemTransformAndRecordHooks) {
  // "é" is 0xE9 in Windows-1252 and 0x82 in code page 437.
  WriteAll(Path("oem.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" \x82t\x82"}));
  WorkArea area;
  ASSERT_TRUE(Open(area, Path("oem.dbf"), kExclusiveOpenMode, tlOem));
  ASSERT_TRUE(GetDbfRecord(area, 1));
  EXPECT_EQ(RecordText(area), " \xE9t\xE9");
  SetRecordText(area, "*\xE9t\xE0");
  ASSERT_TRUE(PutDbfRecord(area, 1));
  EXPECT_EQ(RecordText(area), "*\xE9t\xE0");  // the buffer stays readable
  ASSERT_TRUE(CloseDbf(area));
  Bytes b = ReadAll(Path("oem.dbf"));
  EXPECT_EQ(std::string(b.begin() + 65, b.begin() + 69), "*\x82t\x85");

  // Hooks: the before-write hook sees OEM text, the after-read hook runs
  // before the conversion back; both get the bytes after the flag.
  std::vector<std::size_t> counts;
  WorkArea h;
  h.before_write = [&](std::uint8_t* p, std::size_t n) {
    counts.push_back(n);
    for (std::size_t i = 0; i < n; ++i) p[i] ^= 0x20;
  };
  h.after_read = [&](std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) p[i] ^= 0x20;
  };
  ASSERT_TRUE(Open(h, Path("oem.dbf"), kExclusiveOpenMode, tlOem));
  SetRecordText(h, " ABC");
  ASSERT_TRUE(PutDbfRecord(h, 1));
  EXPECT_EQ(RecordText(h), " ABC");
  ASSERT_TRUE(GetDbfRecord(h, 1));
  EXPECT_EQ(RecordText(h), " ABC");
  ASSERT_TRUE(CloseDbf(h));
  EXPECT_EQ(counts, std::vector<std::size_t>{3});
  b = ReadAll(Path("oem.dbf"));
  EXPECT_EQ(std::string(b.begin() + 65, b.begin() + 69), " abc");
}

TEST_F(DbfFileTest, MemoFileLayouts) {
  EXPECT_EQ(MemoFileExtension(0xF5), "FPT");
  EXPECT_EQ(MemoFileExtension(0x30), "FPT");
  EXPECT_EQ(MemoFileExtension(0x83), "DBT");
  EXPECT_EQ(MemoFileExtension(0x77), "DBT");

  ASSERT_TRUE(CreateMemofile(Path("a.dbt"), 0x83, 512, "Test"));
  Bytes a = ReadAll(Path("a.dbt"));
  ASSERT_EQ(a.size(), 513u);
  EXPECT_EQ(Get32(a, 0), 1u);
  EXPECT_EQ(a[512], 0x1A);
  EXPECT_EQ(a[100], 0);

  ASSERT_TRUE(CreateMemofile(Path("b.fpt"), 0xF5, 64, "Test"));
  Bytes f = ReadAll(Path("b.fpt"));
  ASSERT_EQ(f.size(), 512u);
  EXPECT_EQ(f[3], 8);  // 511 / 64 + 1, big-endian
  EXPECT_EQ(f[0], 0);
  EXPECT_EQ(f[6], 0);
  EXPECT_EQ(f[7], 64);

  ASSERT_TRUE(CreateMemofile(Path("averylongname.dbt"), 0x8B, 1024, "Test"));
  Bytes d = ReadAll(Path("averylongname.dbt"));
  ASSERT_EQ(d.size(), 24u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&d[8]), 8), "averylon");
  EXPECT_EQ(d[16], 0);
  EXPECT_EQ(d[20] | (d[21] << 8), 1024);

  EXPECT_FALSE(CreateMemofile(Path("nodir/x.dbt"), 0x8B, 512, "Op"));
  EXPECT_NE(ErrorCode, 0);
  EXPECT_EQ(ErrorText, "Cannot create memo file " + Path("nodir/x.dbt") + " [Op]");
  ErrorCode = 0;
}

}  // namespace
}  // namespace qd::table_test
