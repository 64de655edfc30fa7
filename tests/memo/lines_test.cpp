// Memo text as lines: the line reader, the line table, and the text-file
// binding that reads, writes and appends memo values.
#include "memo_test_support.h"
#include "platform/text_files.h"

namespace qd::memo_test {
namespace {

namespace pf = qd::platform;
using memo::LineEnd;

struct Read {
  std::string text;
  LineEnd end;
  bool operator==(const Read&) const = default;
};
std::vector<Read> ReadAllLines(std::string_view value, std::size_t width = 254) {
  std::vector<Read> lines;
  std::size_t at = 0;
  std::string line;
  for (;;) {
    const LineEnd end = memo::ReadMemoLine(value, at, width, line);
    lines.push_back({line, end});
    if (end == LineEnd::EndOfValue) return lines;
  }
}

TEST(MemoLineReader, LinesEndAtReturnsOrAreWrappedAtTheWidth) {
  EXPECT_EQ(ReadAllLines("ab\r\ncd"),
            (std::vector<Read>{{"ab", LineEnd::Hard}, {"cd", LineEnd::Wrapped}, {"", LineEnd::EndOfValue}}));
  EXPECT_EQ(ReadAllLines("x\x8D\ny\r\r\n"),
            (std::vector<Read>{{"x", LineEnd::Soft}, {"y", LineEnd::Hard}, {"", LineEnd::Hard},
                               {"", LineEnd::EndOfValue}}));
  const std::vector<Read> cut = ReadAllLines(std::string(300, 'x'));
  ASSERT_EQ(cut.size(), 3u);
  EXPECT_EQ(cut[0].text.size(), 254u);
  EXPECT_EQ(cut[1].text.size(), 46u);
  EXPECT_EQ(cut[1].end, LineEnd::Wrapped);
  // Broken after the last blank; a full line followed by its return is not
  // wrapped.
  EXPECT_EQ(ReadAllLines("the quick brown fox", 11),
            (std::vector<Read>{{"the quick ", LineEnd::Wrapped}, {"brown fox", LineEnd::Wrapped},
                               {"", LineEnd::EndOfValue}}));
  EXPECT_EQ(ReadAllLines("abcdefghijk\r\n", 11),
            (std::vector<Read>{{"abcdefghijk", LineEnd::Hard}, {"", LineEnd::EndOfValue}}));
  EXPECT_EQ(ReadAllLines("a\nb"), (std::vector<Read>{{"a\nb", LineEnd::Wrapped}, {"", LineEnd::EndOfValue}}));
}

class MemoLinesTest : public MemoTest {
 protected:
  void SetUp() override {
    MemoTest::SetUp();
    MakeMemoTable("notes", 0x83);
    Open("notes");
  }
  // Writes `text` through a text file bound to record 1's block variable.
  std::uint16_t WriteText(std::int32_t& block, const std::string& text, bool append = false) {
    pf::TextFile file;
    EXPECT_TRUE(AssignMemo(file, &block));
    std::uint16_t code = append ? pf::TextAppend(file) : pf::TextRewrite(file);
    if (code != 0) return code;
    code = pf::TextWrite(file, text);
    const std::uint16_t closed = pf::TextClose(file);
    return code != 0 ? code : closed;
  }
  std::vector<std::string> ReadLines(std::int32_t block) {
    pf::TextFile file;
    EXPECT_TRUE(AssignMemo(file, &block));
    EXPECT_EQ(pf::TextReset(file), 0);
    std::vector<std::string> lines;
    std::string line;
    while (!pf::TextEof(file)) {
      EXPECT_EQ(pf::TextReadLine(file, line), 0);
      lines.push_back(line);
    }
    EXPECT_EQ(pf::TextClose(file), 0);
    return lines;
  }
};

TEST_F(MemoLinesTest, GetMemoFillsTheLineTableUpToItsCapacity) {
  const std::int32_t block = AppendValue("one\r\ntwo\x8D\nthree");
  ASSERT_TRUE(GetMemo(block));
  const memo::LineTable& table = memo::Lines();
  ASSERT_EQ(table.lines.size(), 3u);
  EXPECT_EQ(table.lines[1].text, "two");
  EXPECT_EQ(table.lines[1].end, memo::kSoftReturn);
  EXPECT_EQ(table.lines[2].end, memo::kWrapped);
  memo::MemoLineCapacity = 2;
  ASSERT_TRUE(GetMemo(block));
  EXPECT_EQ(table.lines.size(), 2u);
  EXPECT_EQ(table.dropped, 1u);
  memo::MemoWrap = true;
  memo::MemoWidth = 2;
  memo::MemoLineCapacity = memo::kMaxLines;
  ASSERT_TRUE(GetMemo(block));
  EXPECT_EQ(table.lines.size(), 4u);  // one, two, thr, ee: lines of 3
}

TEST_F(MemoLinesTest, ATextReaderSeesTheValuesOwnLines) {
  const std::string paragraph = std::string(200, 'p') + " " + std::string(150, 'q');
  const std::int32_t block = AppendValue("ab\r\n" + paragraph + "\r\nsoft\x8D\nreturn\r\n\r\nlast");
  EXPECT_EQ(ReadLines(block), (std::vector<std::string>{"ab", paragraph, "softreturn", "", "last"}));
  EXPECT_EQ(ReadLines(0), std::vector<std::string>{});
}

TEST_F(MemoLinesTest, WritingStoresLinesWithReturnsAndTheLastLineWithout) {
  std::int32_t block = 0;
  EXPECT_EQ(WriteText(block, "l1\r\nl2\nl3\r\n"), 0);
  EXPECT_EQ(block, 1);
  EXPECT_EQ(Text(MemoBytes("notes", 0x83), 512, 14), "l1\r\nl2\r\nl3\r\n\x1A\x1A");
  // Text after the last line feed is the last line; long lines are kept
  // whole (stored as 254-character pieces without returns between them).
  const std::string long_line(600, 'z');
  EXPECT_EQ(WriteText(block, "abc\n" + long_line), 0);
  EXPECT_EQ(block, 2);
  std::string value;
  ASSERT_TRUE(ReadMemoValue(block, value, "test"));
  EXPECT_EQ(value, "abc\r\n" + long_line);
  // Writing nothing stores no value.
  EXPECT_EQ(WriteText(block, ""), 0);
  EXPECT_EQ(block, 0);
}

TEST_F(MemoLinesTest, AppendingContinuesTheLastLineOrStartsANewOne) {
  std::int32_t block = AppendValue("one\r\ntwo");
  EXPECT_EQ(WriteText(block, "more\nnext", true), 0);
  std::string value;
  ASSERT_TRUE(ReadMemoValue(block, value, "test"));
  EXPECT_EQ(value, "one\r\ntwomore\r\nnext");
  block = AppendValue("done\r\n");
  EXPECT_EQ(WriteText(block, "after", true), 0);
  ASSERT_TRUE(ReadMemoValue(block, value, "test"));
  EXPECT_EQ(value, "done\r\nafter");
  std::int32_t empty = 0;
  EXPECT_EQ(WriteText(empty, "first\n", true), 0);
  ASSERT_TRUE(ReadMemoValue(empty, value, "test"));
  EXPECT_EQ(value, "first\r\n");
}

TEST_F(MemoLinesTest, AFullLineTableStoresNothingAndKeepsTheOldValue) {
  std::int32_t block = AppendValue("old");
  const Bytes before = MemoBytes("notes", 0x83);
  memo::MemoLineCapacity = 2;
  EXPECT_EQ(WriteText(block, "a\nb\nc\n"), pf::kIoWriteFault);
  EXPECT_EQ(block, 1);
  EXPECT_EQ(MemoBytes("notes", 0x83), before);
  // Three lines are more than an append could write back.
  block = AppendValue("a\r\nb\r\nc");
  EXPECT_EQ(WriteText(block, "d", true), pf::kIoWriteFault);
  EXPECT_EQ(ValueOf(2), "a\r\nb\r\nc");
  memo::MemoLineCapacity = memo::kMaxLines;
}

TEST_F(MemoLinesTest, TextIsConvertedForOemTablesAndOldLinesKeptAsStored) {
  Close();
  AnsiTables = false;
  Open("notes");
  std::int32_t block = 0;
  EXPECT_EQ(WriteText(block, "caf\xE9\n"), 0);  // ANSI e acute
  EXPECT_EQ(Text(MemoBytes("notes", 0x83), 512, 6), "caf\x82\r\n");  // OEM 437
  EXPECT_EQ(ReadLines(block), std::vector<std::string>{"caf\xE9"});
  // A line drawing character has no ANSI twin; appending keeps it.
  block = AppendValue("\xC4\xC4");
  EXPECT_EQ(WriteText(block, "x", true), 0);
  std::string value;
  ASSERT_TRUE(ReadMemoValue(block, value, "test"));
  EXPECT_EQ(value, "\xC4\xC4x");
}

TEST_F(MemoLinesTest, DbaseFourRewritesThroughTextFilesReuseTheirBlocks) {
  Close();
  MakeMemoTable("four", 0x8B);
  Open("four");
  std::int32_t block = AppendValue(std::string(1000, 'a'));
  EXPECT_EQ(WriteText(block, "short\n"), 0);
  EXPECT_EQ(block, 1);
  EXPECT_EQ(Le32(MemoBytes("four", 0x8B), 0), 2u);  // block 2 is free
}

TEST_F(MemoLinesTest, ErrorsOfTheBindingAndTheTextFileProcedures) {
  pf::TextFile unbound;
  EXPECT_EQ(pf::TextReset(unbound), pf::kIoNotAssigned);
  std::int32_t block = 9;
  pf::TextFile file;
  ASSERT_TRUE(AssignMemo(file, &block));
  EXPECT_EQ(file.handle, 65535u);
  EXPECT_EQ(file.mode, pf::TextMode::Closed);
  EXPECT_EQ(pf::TextReset(file), pf::kIoReadFault);
  ExpectError(1003);
  // The line table serves one text file at a time.
  block = AppendValue("abc");
  ASSERT_EQ(pf::TextReset(file), 0);
  std::int32_t other_block = 0;
  pf::TextFile other;
  ASSERT_TRUE(AssignMemo(other, &other_block));
  ASSERT_EQ(pf::TextRewrite(other), 0);
  std::string line;
  EXPECT_EQ(pf::TextReadLine(file, line), 104);
  pf::TextClose(file);
  EXPECT_EQ(pf::TextClose(other), 0);
  ASSERT_EQ(pf::TextRewrite(other), 0);
  ASSERT_EQ(pf::TextReset(file), 0);
  EXPECT_EQ(pf::TextClose(other), 104);  // its text went nowhere
  EXPECT_EQ(other_block, 0);
  pf::TextClose(file);
  EXPECT_EQ(pf::TextWrite(file, "x"), pf::kIoNotOpen);

  Close();
  EXPECT_FALSE(AssignMemo(file, &block));
  ExpectError(215);
  ASSERT_TRUE(CreateDBF(Path("plain.dbf"), {{"A", 'C', 1, 0}}));
  Open("plain");
  EXPECT_FALSE(AssignMemo(file, &block));
  ExpectError(1019);
  EXPECT_NE(ErrorText.find("No Memo Field [\nAssignMemo]"), std::string::npos);
}

}  // namespace
}  // namespace qd::memo_test
