// Memo pack and copy: the copier's source and destination combinations,
// CopyMemo's placing, PackMemofile on files grown by rewrites (values kept
// byte for byte, fields renumbered in record order, the file shrunk, read
// by independent readers), its failures that leave everything as it was,
// and emptying the memo file.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "memo/memo_pack.h"
#include "memo_checker.h"
#include "memo_test_support.h"

#ifndef _WIN32
#include <sys/mount.h>
#endif

namespace qd::memo_test {
namespace {

namespace fs = std::filesystem;

class MemoPackTest : public MemoTest {
 protected:
  static std::vector<std::string> AllValues() {
    std::vector<std::string> values;
    for (std::int32_t r = 1; r <= RecCount(); ++r) values.push_back(ValueOf(r));
    return values;
  }
  static std::vector<std::int32_t> AllBlocks() {
    std::vector<std::int32_t> blocks;
    for (std::int32_t r = 1; r <= RecCount(); ++r) {
      Go(r);
      blocks.push_back(Slot());
    }
    return blocks;
  }
  // The memo texts python3-dbfread reads from a table, hex-encoded per line;
  // empty when the reader is not installed.
  static std::vector<std::string> IndependentReader([[maybe_unused]] const std::string& table, bool& available) {
    available = false;
    std::vector<std::string> values;
#ifndef _WIN32
    const std::string script =
        "import sys\n"
        "try:\n"
        "    import dbfread\n"
        "except ImportError:\n"
        "    sys.exit(77)\n"
        "t = dbfread.DBF(sys.argv[1], encoding='latin-1', char_decode_errors='strict', load=True)\n"
        "for r in t.records + t.deleted:\n"
        "    v = r['NOTES']\n"
        "    if isinstance(v, str):\n"
        "        v = v.encode('latin-1')\n"
        "    print('' if v is None else v.hex())\n";
    const std::string script_path = table + ".py";
    std::FILE* file = std::fopen(script_path.c_str(), "w");
    if (file == nullptr) return values;
    std::fputs(script.c_str(), file);
    std::fclose(file);
    const std::string command = "/usr/bin/python3 '" + script_path + "' '" + table + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return values;
    std::string line;
    int c = 0;
    while ((c = std::fgetc(pipe)) != EOF) {
      if (c != '\n') {
        line += static_cast<char>(c);
        continue;
      }
      std::string bytes;
      for (std::size_t i = 0; i + 1 < line.size(); i += 2)
        bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
      values.push_back(bytes);
      line.clear();
    }
    available = pclose(pipe) == 0;
#endif
    return values;
  }
};

// ---------------------------------------------------------- the copier ---

struct CopyCase {
  std::uint8_t from;
  std::uint8_t to;
  std::string value;
  bool negative;  // answered as a negated block (headed value in dBASE III)
};

TEST_F(MemoPackTest, TheCopierMovesValuesBetweenEveryPairOfVariants) {
  const std::string plain = "abc\r\ndef";
  const std::string zero("ab\0cd", 5);
  const std::string marker("ab\x1A" "cd", 5);
  const std::string big(1500, 'q');
  std::vector<CopyCase> cases;
  for (std::uint8_t from : {0x83, 0x8B, 0xF5}) {
    for (std::uint8_t to : {0x83, 0x8B, 0xF5}) {
      cases.push_back({from, to, plain, false});
      cases.push_back({from, to, big, false});
      // dBASE III text values written here hold neither byte: they are
      // stored with a header (negated) and stay headed in a dBASE III copy.
      cases.push_back({from, to, zero, to == 0x83});
      cases.push_back({from, to, marker, to == 0x83});
    }
  }
  int n = 0;
  for (const CopyCase& c : cases) {
    const std::string from = "f" + std::to_string(n), to = "t" + std::to_string(n);
    ++n;
    SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to) + " value " +
                 std::to_string(c.value.size()) + " bytes");
    MakeMemoTable(from, c.from, c.from == 0xF5 ? 64 : 512);
    MakeMemoTable(to, c.to, c.to == 0xF5 ? 64 : 512);
    Select(1);
    Open(from);
    AppendValue("first");
    const std::int32_t source = AppendValue(c.value);
    Select(2);
    Open(to);
    AppendValue("there before");
    const std::int32_t copied = CopyMemo(1, source, false);
    EXPECT_EQ(ErrorCode, 0) << ErrorText;
    ASSERT_NE(copied, 0);
    EXPECT_EQ(copied < 0, c.negative);
    std::string value;
    EXPECT_TRUE(ReadMemoValue(copied, value, "test"));
    EXPECT_EQ(value, c.value);
    EXPECT_FALSE(State().lock_held);
    // The header names the end: the next value goes after the copy.
    std::int32_t next = 0;
    ASSERT_TRUE(WriteMemoValue(0, "next", next, "test"));
    EXPECT_TRUE(ReadMemoValue(copied, value, "test"));
    EXPECT_EQ(value, c.value);
    Close();
    Select(1);
    Close();
  }
}

TEST_F(MemoPackTest, CopiedValuesTakeTheDestinationLayout) {
  MakeMemoTable("four", 0x8B);
  MakeMemoTable("three", 0x83);
  MakeMemoTable("fox", 0xF5, 64);
  Select(1);
  Open("four");
  const std::int32_t abc = AppendValue("abc");
  Select(2);
  Open("three");
  // An empty dBASE III file takes its first value at offset 512.
  EXPECT_EQ(CopyMemo(1, abc, false), 1);
  Bytes memo = MemoBytes("three", 0x83);
  EXPECT_EQ(Text(memo, 512, 5), "abc\x1A\x1A");
  EXPECT_EQ(Le32(memo, 0), 2u);
  const std::int32_t text = AppendValue("text value");
  Select(3);
  Open("fox");
  const std::int32_t fox = CopyMemo(2, text, false);
  ASSERT_EQ(fox, 8);
  memo = MemoBytes("fox", 0xF5);
  EXPECT_EQ(Be32(memo, 512), 1u);
  EXPECT_EQ(Be32(memo, 516), 10u);  // the end marker is not part of the value
  EXPECT_EQ(Text(memo, 520, 10), "text value");
  // Keep position: block 12 of the source is block 12 here.
  Select(1);
  SetSlot(0);
  Bytes four = MemoBytes("four", 0x8B);
  four.resize(13 * 512, 0);
  four[12 * 512] = 0xFF;
  four[12 * 512 + 1] = 0xFF;
  four[12 * 512 + 2] = 8;
  four[12 * 512 + 4] = 8 + 4;
  std::memcpy(four.data() + 12 * 512 + 8, "kept", 4);
  Close();
  table_test::WriteAll(MemoPath("four", 0x8B), four);
  Open("four");
  Select(3);
  EXPECT_EQ(CopyMemo(1, 12, true), 12);
  std::string value;
  EXPECT_TRUE(ReadMemoValue(12, value, "test"));
  EXPECT_EQ(value, "kept");
  // Nothing to copy: a block 0, a damaged value, or no source table.
  EXPECT_EQ(CopyMemo(1, 0, false), 0);
  EXPECT_EQ(CopyMemo(1, 5, false), 0);  // no header at block 5 of a dBASE IV file: text of zeros
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_FALSE(State().lock_held);
  EXPECT_EQ(CopyMemo(9, 1, false), 0);
  ExpectError(215);
}

// ------------------------------------------------------------- packing ---

TEST_F(MemoPackTest, PackKeepsLiveValuesInRecordOrderAndShrinksTheFile) {
  for (const Variant v : {Variant{0x83, 512, false}, Variant{0x8B, 512, false}, Variant{0x8B, 64, false},
                          Variant{0xF5, 64, false}}) {
    const std::string name = "p" + std::to_string(v.version) + "_" + std::to_string(v.block_size);
    SCOPED_TRACE(name);
    MakeMemoTable(name, v.version, v.block_size);
    Open(name);
    constexpr int kRecords = 30;
    for (int r = 1; r <= kRecords; ++r) AppendValue(r % 7 == 0 ? "" : "start " + std::to_string(r));
    // Many rewrites grow the file; the last value of each record lives.
    for (int round = 1; round <= 12; ++round)
      for (int r = kRecords; r >= 1; --r)
        if (r % 7 != 0) SetValue(r, "record " + std::to_string(r) + " round " + std::to_string(round) +
                                        std::string(static_cast<std::size_t>((r * round * 37) % 900), 'x'));
    // Record 3 shares record 2's block; record 5 holds bytes only a header
    // keeps; record 6 is deleted but keeps its value.
    Go(2);
    const std::int32_t shared = Slot();
    Go(3);
    SetSlot(shared);
    Replace();
    SetValue(5, std::string("zero\0and\x1A", 9));
    Go(6);
    DeleteRec();
    const std::vector<std::string> before = AllValues();
    const std::uint64_t size_before = MemoBytes(name, v.version).size();

    PackMemofile();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    EXPECT_EQ(AllValues(), before);
    // Renumbered in record order, each field its own copy, from the first
    // block after the header.
    const std::vector<std::int32_t> blocks = AllBlocks();
    std::int32_t previous = 0;
    for (std::size_t r = 0; r < blocks.size(); ++r) {
      if (blocks[r] == 0) {
        EXPECT_TRUE(before[r].empty());
        continue;
      }
      const std::int32_t block = blocks[r] < 0 ? -blocks[r] : blocks[r];
      EXPECT_GT(block, previous) << "record " << r + 1;
      previous = block;
    }
    EXPECT_EQ(std::abs(blocks[0]), static_cast<std::int32_t>(memo::FirstDataBlock(State())));
    EXPECT_EQ(blocks[4] < 0, v.version == 0x83);
    Close();
    const Bytes memo = MemoBytes(name, v.version);
    // Exactly the live values: each in whole blocks after the header.
    const std::size_t block_size = v.version == 0x83 ? 512 : v.block_size;
    std::size_t live = (v.version == 0x8B ? 1 : 512 / block_size) * block_size;
    for (std::size_t r = 0; r < before.size(); ++r) {
      if (before[r].empty()) continue;
      const std::size_t bytes = before[r].size() + (blocks[r] > 0 && v.version == 0x83 ? 2 : 8);
      live += (bytes + block_size - 1) / block_size * block_size;
    }
    EXPECT_EQ(memo.size(), live);
    EXPECT_LT(memo.size(), size_before);
    MemoFileChecker checker(FileBytes(Path(name + ".DBF")), memo, v);
    checker.CheckValues(before);
    checker.CheckHeader();
    EXPECT_TRUE(checker.Failures().empty()) << checker.Failures().front();
    EXPECT_FALSE(fs::exists(Path(name + ".$$$")));
    if (v.version == 0x8B && v.block_size == 64) continue;  // the reader assumes 512-byte blocks
    bool available = false;
    const std::vector<std::string> read = IndependentReader(Path(name + ".DBF"), available);
    if (!available) continue;
    // The reader lists deleted records last; dBASE IV values come back with
    // 8 bytes too many and cut at a 0x1F, and negated blocks read as nothing.
    std::vector<std::string> expected;
    for (std::size_t r = 0; r < before.size(); ++r)
      if (r != 5) expected.push_back(before[r]);
    expected.push_back(before[5]);
    ASSERT_EQ(read.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r) {
      if (v.version == 0x83 && expected[r].find('\0') != std::string::npos) continue;
      if (v.version == 0x8B) {
        EXPECT_EQ(read[r].substr(0, expected[r].size()), expected[r]) << r;
      } else {
        EXPECT_EQ(read[r], expected[r]) << r;
      }
    }
  }
}

TEST_F(MemoPackTest, PackEmptiesFieldsNamingNoValueAndReportsTheFirst) {
  MakeMemoTable("bad", 0x83);
  Open("bad");
  AppendValue("one");
  AppendValue("two");
  AppendValue("three");
  Go(2);
  SetSlot(400);  // beyond the end of the file
  Replace();
  // A foreign dBASE III text value holding a zero byte stays text.
  Close();
  Bytes memo = MemoBytes("bad", 0x83);
  memo[512 + 1] = 0;  // "o\0e"
  table_test::WriteAll(MemoPath("bad", 0x83), memo);
  Open("bad");
  // A record appended just before the pack is packed too.
  AppendValue("four");
  PackMemofile();
  ExpectError(1003);
  EXPECT_EQ(ValueOf(4), "four");
  Go(4);
  EXPECT_EQ(Slot(), 3);
  EXPECT_EQ(ValueOf(1), std::string("o\0e", 3));
  Go(1);
  EXPECT_EQ(Slot(), 1);
  Go(2);
  EXPECT_EQ(Slot(), 0);
  EXPECT_EQ(Peek(2, 2), std::string(10, ' '));
  EXPECT_EQ(ValueOf(3), "three");
}

TEST_F(MemoPackTest, AFailedPackLeavesTheMemoFileAndTheFieldsAsTheyWere) {
  MakeMemoTable("keep", 0x8B);
  Open("keep");
  for (int r = 0; r < 20; ++r) AppendValue("value " + std::to_string(r));
  for (int r = 1; r <= 20; ++r) SetValue(r, "again " + std::to_string(r));
  Close();
  const Bytes table = FileBytes(Path("keep.DBF"));
  const Bytes memo = MemoBytes("keep", 0x8B);
  // The new file cannot be created: a directory holds its name.
  fs::create_directory(Path("keep.$$$"));
  Open("keep");
  PackMemofile();
  EXPECT_NE(ErrorCode, 0);
  ErrorCode = 0;
  EXPECT_EQ(ValueOf(20), "again 20");
  Close();
  EXPECT_EQ(FileBytes(Path("keep.DBF")), table);
  EXPECT_EQ(MemoBytes("keep", 0x8B), memo);
  fs::remove(Path("keep.$$$"));
  // A shared table is not packed: other programs may be writing values.
  Open("keep", false);
  PackMemofile();
  ExpectError(225);
  Close();
  EXPECT_EQ(MemoBytes("keep", 0x8B), memo);
}

#ifndef _WIN32
TEST_F(MemoPackTest, APackThatRunsOutOfDiskSpaceChangesNothing) {
  const fs::path mount = fs::path(Path("small"));
  fs::create_directories(mount);
  if (::mount("none", mount.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "a size-limited file system cannot be mounted here";
  struct Unmount {
    fs::path path;
    // Detached even while a file on it is still open, so no mount stays.
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mount};
  // One value of 200 KB named by 8 records: the old file is small, the
  // packed one (a copy per record) does not fit.
  MakeMemoTable("small/full", 0x8B);
  Open("small/full");
  const std::int32_t block = AppendValue(std::string(200 * 1024, 'v'));
  for (int r = 0; r < 7; ++r) {
    AppendValue("");
    SetSlot(block);
    Replace();
  }
  Close();
  const Bytes table = FileBytes(Path("small/full.DBF"));
  const Bytes memo = MemoBytes("small/full", 0x8B);
  Open("small/full");
  PackMemofile();
  EXPECT_EQ(ErrorCode, 101) << ErrorText;
  ErrorCode = 0;
  EXPECT_EQ(ValueOf(8), std::string(200 * 1024, 'v'));
  Close();
  EXPECT_EQ(FileBytes(Path("small/full.DBF")), table);
  EXPECT_EQ(MemoBytes("small/full", 0x8B), memo);
  EXPECT_FALSE(fs::exists(Path("small/full.$$$")));
  // A memo file larger than the free space is refused before anything:
  // another file leaves less free space than the memo file takes.
  const std::uintmax_t available = fs::space(mount).available;
  const std::uintmax_t filler = available > 100 * 1024 ? available - 100 * 1024 : 0;
  table_test::WriteAll(Path("small/filler"), Bytes(static_cast<std::size_t>(filler), 0));
  ASSERT_LT(fs::space(mount).available, memo.size());
  Open("small/full");
  PackMemofile();
  ExpectError(1012);
  Close();
  EXPECT_EQ(MemoBytes("small/full", 0x8B), memo);
  EXPECT_EQ(FileBytes(Path("small/full.DBF")), table);
}
#endif

TEST_F(MemoPackTest, EmptyingKeepsTheTablesVariant) {
  for (std::uint8_t version : {0x83, 0x8B, 0xF5}) {
    const std::string name = "e" + std::to_string(version);
    MakeMemoTable(name, version, version == 0xF5 ? 64 : 512);
    Open(name);
    AppendValue("gone");
    EmptyMemofile();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    EXPECT_EQ(State().memo_type, version);
    EXPECT_EQ(State().block_size, version == 0xF5 ? 64u : 512u);
    const Bytes memo = MemoBytes(name, version);
    EXPECT_EQ(memo.size(), version == 0x83 ? 513u : version == 0xF5 ? 512u : 24u);
    EXPECT_EQ(AppendValue("new"), version == 0xF5 ? 8 : 1);
    EXPECT_EQ(ValueOf(2), "new");
    Close();
  }
}

}  // namespace
}  // namespace qd::memo_test
