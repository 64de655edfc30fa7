// The memo unit as the rest of the engine reaches it: memo files opening and
// closing with their tables, the memo lock between two openers, memo searches,
// memo fields in expressions and in the table dataset, and record hooks.
#include <memory>

#include "dataset/file_dataset.h"
#include "expressions/expressions.h"
#include "memo_test_support.h"
#include "support/recording_host.h"
#include "table/search.h"

namespace qd::memo_test {
namespace {

class MemoIntegrationTest : public MemoTest {};

TEST_F(MemoIntegrationTest, EveryMemoVersionOpensAndClosesWithItsMemoFile) {
  for (std::uint8_t version : {0x83, 0x8B, 0xF5, 0x8C}) {
    const std::string name = "v" + std::to_string(version);
    MakeMemoTable(name, version);
    Open(name, false);
    ASSERT_TRUE(CurrentWorkArea()->memo) << name;
    EXPECT_EQ(State().memo_type, version);
    EXPECT_TRUE(State().shared);
    EXPECT_EQ(AppendValue("value of " + name), 1);
    Close();
    // The memo file is closed with the table: it can be replaced now.
    EXPECT_EQ(std::remove(MemoPath(name, version).c_str()), 0) << name;
  }
  // A missing memo file leaves the table open without one.
  MakeMemoTable("lost", 0x8B);
  std::remove(MemoPath("lost", 0x8B).c_str());
  Use(Path("lost"), nullptr, 0);
  EXPECT_EQ(ErrorCode, 2);
  EXPECT_NE(ErrorText.find("Problem opening memo file"), std::string::npos);
  ASSERT_NE(CurrentWorkArea(), nullptr);
  EXPECT_FALSE(CurrentWorkArea()->memo);
  ErrorCode = 0;
  std::string value;
  EXPECT_FALSE(ReadMemoValue(1, value, "test"));
  ExpectError(1019);
}

TEST_F(MemoIntegrationTest, TheMemoLockSerialisesWritersOfASharedMemoFile) {
  MakeMemoTable("shared", 0x8B);
  Open("shared", false);
  AppendValue("one");
  Select(2);
  Open("shared ALIAS OTHER", false);
  Select(1);
  ASSERT_NE(LockMemoPadAndSeekEOF("first"), 0u);
  EXPECT_TRUE(State().lock_held);
  Select(2);
  memo::MemoLockWaitMs = 30;
  std::int32_t block = 0;
  EXPECT_FALSE(WriteMemoValue(0, "waits", block, "second"));
  ExpectError(1017);
  EXPECT_NE(ErrorText.find("[second]"), std::string::npos);
  EXPECT_FALSE(State().lock_held);
  Select(1);
  ASSERT_TRUE(UpdateMemoHeader());
  EXPECT_FALSE(State().lock_held);
  Select(2);
  EXPECT_TRUE(WriteMemoValue(0, "now", block, "second"));
  EXPECT_EQ(block, 2);
  // A table open for exclusive use takes no lock.
  Close();
  Select(1);
  Close();
  Open("shared", true);
  ASSERT_NE(LockMemoPadAndSeekEOF("alone"), 0u);
  EXPECT_FALSE(State().lock_held);
  EXPECT_TRUE(UpdateMemoHeader());
}

TEST_F(MemoIntegrationTest, SearchesReadMemoLinesThroughTheMemoUnit) {
  MakeMemoTable("find", 0x83);
  Open("find");
  AppendValue("first line\r\nSecond LINE");
  AppendValue(std::string("alpha\r\nbe\x8D\nta\x1A", 14) + "gamma");  // stored with a header
  AppendValue("");
  Go(2);
  EXPECT_LT(Slot(), 0);
  EXPECT_TRUE(MemoContains("beta", "        -2"));  // a soft return joins its line
  EXPECT_FALSE(LocateValue("NOTES", SearchValue::OfText("second line"), false, 1, false));
  EXPECT_TRUE(LocateValue("NOTES", SearchValue::OfText("second line"), true, 1, false));
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(LocateValue("NOTES", SearchValue::OfText("gamma"), false, 1, false));
  EXPECT_EQ(RecNo(), 2);
  EXPECT_FALSE(LocateValue("NOTES", SearchValue::OfText("linesecond"), true, 1, false));
  EXPECT_EQ(ErrorCode, 0);
  // A record naming a block beyond the file stops the search with the error.
  Go(3);
  SetSlot(40);
  Replace();
  EXPECT_FALSE(LocateValue("NOTES", SearchValue::OfText("nothing"), false, 1, false));
  ExpectError(1003);
}

TEST_F(MemoIntegrationTest, MemoFieldsInExpressionsReadTheirText) {
  InitExpressionUnit();
  MakeMemoTable("expr", 0xF5);
  Open("expr");
  AppendValue("one\r\ntwo\x8D\n" + std::string(300, 'x'));  // a soft return joins its line
  std::string text = "NOTES";
  ExprRecord* record = AssignExpr(text);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(static_cast<const char*>(EvalExpr(record)), "onetwo" + std::string(249, 'x'));
  FreeExpr(record);
  SetMemoSize(1000);
  record = AssignExpr(text);
  EXPECT_EQ(static_cast<const char*>(EvalExpr(record)), "onetwo" + std::string(300, 'x'));
  FreeExpr(record);
  SetMemoSize(256);
  ExprHooks = ExprHookTable{};
}

TEST_F(MemoIntegrationTest, TheTableDatasetReadsMemoFields) {
  fw::testing::ScopedHost host;
  MakeMemoTable("people", 0x83);
  Open("people");
  AppendValue("caf\x82 au lait", "ANN");  // OEM text
  AppendValue("", "BOB");
  Close();
  auto people = std::make_unique<TQdDbf>();
  people->SetDbfFileName(Path("people.DBF"));
  people->Open();
  fw::TField* notes = people->FieldByName("NOTES");
  ASSERT_NE(notes, nullptr);
  EXPECT_EQ(notes->AsString(), "caf\xE9 au lait");
  EXPECT_EQ(notes->GetText(true), "(MEMO)");
  people->Next();
  EXPECT_EQ(notes->AsString(), "");
  EXPECT_EQ(notes->GetText(true), "(memo)");
  people->Close();
}

TEST_F(MemoIntegrationTest, RecordHooksTransformMemoValuesInUnitsOf512Bytes) {
  auto flip = [](std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) bytes[i] ^= 0x5A;
  };
  for (std::uint8_t version : {0x83, 0x8B, 0xF5}) {
    const std::string name = "h" + std::to_string(version);
    MakeMemoTable(name, version);
    UseWithHooks(Path(name) + " EXCLUSIVE", nullptr, 0, flip, flip);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    const std::string value = std::string(700, 'v') + "\r\nend";
    AppendValue(value);
    EXPECT_EQ(ValueOf(1), value) << name;
    const Bytes file = MemoBytes(name, version);
    const std::size_t start = version == 0x83 ? 512 : 520;
    EXPECT_EQ(file[start], 'v' ^ 0x5A) << name;
    Close();
  }
}

TEST_F(MemoIntegrationTest, AReadOnlyMemoFileRefusesWritesAndKeepsItsBytes) {
  MakeMemoTable("ro", 0x8B);
  Open("ro");
  AppendValue("kept");
  Close();
  const Bytes before = MemoBytes("ro", 0x8B);
  OpenModeOverride = kReadOnlySharedOpenMode;
  Open("ro", false);
  std::int32_t block = 0;
  EXPECT_FALSE(WriteMemoValue(1, "changed", block, "test"));
  EXPECT_NE(ErrorCode, 0);
  ErrorCode = 0;
  EXPECT_EQ(block, 0);
  EXPECT_FALSE(State().lock_held);
  EXPECT_EQ(ValueOf(1), "kept");
  OpenModeOverride = -1;
  Close();
  EXPECT_EQ(MemoBytes("ro", 0x8B), before);
}

}  // namespace
}  // namespace qd::memo_test
