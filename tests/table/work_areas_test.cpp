// Work areas: selection, Use with its option words and buffer checks, alias
// clashes, field access, the production flag, reopening, and the memo hooks
// that Use and Close call.
#include <cstring>

#include "platform/platform.h"
#include "table_test_support.h"

namespace qd::table_test {
namespace {

class WorkAreaTest : public TableTest {
 protected:
  void MakePeople(const std::string& name = "people.dbf") {
    ASSERT_TRUE(CreateDBF(Path(name), {{"NAME", 'C', 10, 0},
                                       {"QTY", 'N', 5, 0},
                                       {"PRICE", 'N', 8, 2},
                                       {"BORN", 'D', 8, 0},
                                       {"OK", 'L', 1, 0},
                                       {"NOTES", 'M', 10, 0}}));
  }
};

TEST_F(WorkAreaTest, SelectRules) {
  MakePeople();
  Select(34);
  ExpectError(220);
  EXPECT_EQ(ErrorText, "Invalid workarea selected = [Select(34)]");
  EXPECT_EQ(Selected(), 1);
  Select(33);
  EXPECT_EQ(Selected(), 33);
  for (int i = 1; i <= 33; ++i) {
    Select(i);
    Use(Path("people") + " alias A" + std::to_string(i), nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
  }
  Select(7);
  Select(0);
  ExpectError(220);
  EXPECT_EQ(ErrorText, "No free workarea available [Select(0)]");
  EXPECT_EQ(Selected(), 7);
  Select(5);
  Close();
  Select(9);
  Select(0);
  EXPECT_EQ(Selected(), 5);
  EXPECT_EQ(Alias(), "");
  CloseAll();
  EXPECT_EQ(Selected(), 1);
  for (int i = 1; i <= 33; ++i) EXPECT_EQ(WorkAreas[i], nullptr);
}

TEST_F(WorkAreaTest, OptionWordsAndAliases) {
  MakePeople();
  Use(Path("people") + " alias staff exclusive", nullptr, 0);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  WorkArea* area = CurrentWorkArea();
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(Alias(), "STAFF");
  EXPECT_TRUE(area->exclusive);
  EXPECT_EQ(area->open_mode, kExclusiveOpenMode);
  EXPECT_EQ(area->file_name.substr(area->file_name.size() - 10), "PEOPLE.DBF");
  // Exclusive use really keeps others out.
  Select(2);
  Use(Path("people"), nullptr, 0);
  ExpectError(32);
  EXPECT_EQ(CurrentWorkArea(), nullptr);
  Select(1);
  Close();

  Use(Path("people"), nullptr, 0);
  ASSERT_EQ(ErrorCode, 0);
  EXPECT_EQ(Alias(), "PEOPLE");
  EXPECT_FALSE(CurrentWorkArea()->exclusive);
  Select(2);
  Use(Path("people"), nullptr, 0);
  ExpectError(220);
  EXPECT_EQ(ErrorText, "Alias name \"PEOPLE\" already in use. [USE]");
  EXPECT_EQ(CurrentWorkArea(), nullptr);
  // UseWithHooks installs the record hooks before the first read.
  UseWithHooks(Path("people") + " ALIAS other", nullptr, 0, [](std::uint8_t*, std::size_t) {},
               nullptr);
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(Alias(), "OTHER");
  EXPECT_TRUE(CurrentWorkArea()->after_read && !CurrentWorkArea()->before_write);
  Use("", nullptr, 0);  // only closes
  EXPECT_EQ(CurrentWorkArea(), nullptr);

  // EXCLUSIVE glued to a letter, digit, backslash or underscore is part of
  // the name.
  MakePeople("people exclusive1.dbf");
  Use(Path("people") + " exclusive1", nullptr, 0);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_FALSE(CurrentWorkArea()->exclusive);
  Close();
  Use(Path("people") + " exclusive_", nullptr, 0);
  EXPECT_EQ(ErrorCode, 2);
  ErrorCode = 0;

  Use("mem LINKED LIST", nullptr, 0);
  ExpectError(1101);
  Use("x virtual file", nullptr, 0);
  ExpectError(1101);
}

TEST_F(WorkAreaTest, NativeBufferChecks) {
  MakePeople();
  std::uint8_t buffer[64];
  Use(Path("people"), buffer, 0);
  ExpectError(220);
  Use(Path("people"), nullptr, 40);
  ExpectError(220);
  Use(Path("people"), buffer, 41);
  ExpectError(266);
  EXPECT_NE(ErrorText.find("Record Size=40, Buffer Size=41"), std::string::npos);
  EXPECT_EQ(CurrentWorkArea(), nullptr);
  // The file was released again: an exclusive open succeeds.
  Use(Path("people") + " exclusive", buffer, 40);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  const int offsets[] = {0, 1, 12, 16, 24, 35, 36};  // C(10) N(5) N(8,2) D L M
  for (int n = 0; n <= 6; ++n) EXPECT_EQ(FieldAddress(n), buffer + offsets[n]);
  EXPECT_FALSE(CurrentWorkArea()->owns_native);
}

// The request is quoted upper-cased and with its trailing blank, as Use
// has made it by then; RawGo names itself alone, whatever went wrong.
TEST_F(WorkAreaTest, MessageTextsOfUseAndRawGo) {
  Use("people linked list", nullptr, 0);
  ExpectError(1101);
  EXPECT_EQ(ErrorText, "[USE(PEOPLE LINKED LIST ,<@Buffer>,<size>)]");
  std::uint8_t buffer[8];
  Use(" people  ", buffer, 0);
  ExpectError(220);
  EXPECT_EQ(ErrorText, "Buffer is NIL or size is zero, attempting to open PEOPLE  [USE]");

  Bytes table = BuildDbf(0x03, {{"A", 'C', 3}}, {" one", " two"}, false);
  table.pop_back();  // the second record is cut short
  table.pop_back();
  WriteAll(Path("cut.dbf"), table);
  Use(Path("cut"), nullptr, 0);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  RawGo(0);
  ExpectError(212);
  EXPECT_EQ(ErrorText, " [Dbf4RawGo]");
  RawGo(2);
  ExpectError(213);
  EXPECT_EQ(ErrorText, " [Dbf4RawGo]");
}

// A descriptor without a name gets one after its number, unless the table
// has that name already; the file keeps its descriptor as it was.
TEST_F(WorkAreaTest, NamelessFieldsAreNamedAfterTheirNumber) {
  const Bytes table =
      BuildDbf(0x03, {{"", 'C', 3}, {"FIELD1", 'N', 4}, {"", 'N', 2}, {"F1_1", 'L', 1}},
                     {" abc  77 5T"});
  WriteAll(Path("anon.dbf"), table);
  Use(Path("anon"), nullptr, 0);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  ASSERT_EQ(FieldCount(), 4);
  EXPECT_EQ(Field(1) + " " + Field(2) + " " + Field(3) + " " + Field(4), "F1_2 FIELD1 FIELD3 F1_1");
  EXPECT_EQ(FieldNo("f1_2"), 1);
  EXPECT_EQ(FieldNo("FIELD3"), 3);
  EXPECT_EQ(FieldNo(""), 0);
  EXPECT_EQ(SlotText(1), "abc");
  Close();
  EXPECT_EQ(ReadAll(Path("anon.dbf")), table);
}

TEST_F(WorkAreaTest, FieldAccess) {
  FieldCount();
  ExpectError(215);
  EXPECT_EQ(ErrorText, "No database in use [FieldCount()]  WorkArea = 1");
  MakePeople();
  Use(Path("people"), nullptr, 0);
  EXPECT_EQ(FieldCount(), 6);
  EXPECT_EQ(RecSize(), 1 + 10 + 5 + 8 + 8 + 1 + 10);
  EXPECT_EQ(Field(2) + FieldType(6) + std::to_string(FieldDec(3)), "QTYM2");
  EXPECT_EQ(FieldLen(4), 8);  // a date's display length
  CenturyOn = true;
  EXPECT_EQ(FieldLen(4), 10);
  // Names are cut to 10 characters and right-trimmed, not left-trimmed.
  EXPECT_EQ(FieldNo("name     ") * 100 + FieldNo("Price") * 10 + FieldNo(" name"), 130);
  EXPECT_EQ(FieldNo("notesxxxxxxx"), 0);
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(FieldType(7), ' ');
  ExpectError(220);
  EXPECT_EQ(ErrorText, "Invalid field number. [FieldType(7)]");
  EXPECT_EQ(FieldLen(-1) + Field(0).size(), 0u);
  ExpectError(220);
  EXPECT_EQ(FieldAddress(7), nullptr);
  ExpectError(220);
  EXPECT_EQ(ErrorText, "Invalid field number. [FieldAddress(7)]");
}

TEST_F(WorkAreaTest, ProductionFlagAndReopen) {
  MakePeople();
  Use(Path("people"), nullptr, 0);
  EXPECT_FALSE(GetProductionFlag());
  SetProductionFlag(true);
  EXPECT_TRUE(GetProductionFlag());
  EXPECT_EQ(CurrentWorkArea()->header_state, HeaderState::Dirty);

  // Shared -> exclusive -> shared.
  EXPECT_EQ(ReopenTable(true), 0u);
  EXPECT_TRUE(CurrentWorkArea()->exclusive);
  platform::FileHandle h = platform::kNoFile;
  EXPECT_EQ(platform::OpenFile(Path("people.dbf"), kSharedOpenMode, h), 32u);
  EXPECT_EQ(ReopenTable(false), 0u);
  ASSERT_EQ(platform::OpenFile(Path("people.dbf"), kSharedOpenMode, h), 0u);
  // While another handle is open an exclusive reopen fails and the table
  // stays usable in its old mode, its table lock still held.
  ASSERT_TRUE(ALock());
  EXPECT_EQ(ReopenTable(true), 32u);
  EXPECT_FALSE(CurrentWorkArea()->exclusive);
  EXPECT_EQ(RecCount(), 0);
  EXPECT_NE(platform::LockRange(h, kTableLockOffset, 1), 0u);
  Unlock();
  EXPECT_EQ(platform::LockRange(h, kTableLockOffset, 1), 0u);
  platform::UnlockRange(h, kTableLockOffset, 1);
  platform::CloseFile(h);
  Close();
  EXPECT_EQ(ReadAll(Path("people.dbf"))[28], 1);

#ifndef _WIN32
  // A reopen that cannot get the file back at all leaves the header
  // unwritten, and closing says so.
  Use(Path("people"), nullptr, 0);
  SetProductionFlag(false);
  std::filesystem::rename(Path("people.dbf"), Path("moved.dbf"));
  EXPECT_EQ(ReopenTable(true), 2u);
  Close();
  ExpectError(6);
  std::filesystem::rename(Path("moved.dbf"), Path("people.dbf"));
#endif

  // Exclusive use asked for by Use is not given up, even right after
  // another table's exclusivity came from a reopen.
  MakePeople("other.dbf");
  Use(Path("other"), nullptr, 0);
  ASSERT_EQ(ReopenTable(true), 0u);
  Select(2);
  Use(Path("people") + " exclusive", nullptr, 0);
  EXPECT_EQ(ReopenTable(false), 5u);
  EXPECT_TRUE(CurrentWorkArea()->exclusive);
}

// A stand-in memo unit recording what the table layer asks of it.
struct FakeMemoUnit {
  static inline std::vector<std::string> calls;
  static inline std::uint16_t open_result = 0;
  static std::uint16_t Open(const std::string& base) {
    calls.push_back("open " + base);
    if (open_result == 0) CurrentWorkArea()->memo = std::shared_ptr<MemoState>(
        reinterpret_cast<MemoState*>(new int(1)), [](MemoState* p) { delete reinterpret_cast<int*>(p); });
    return open_result;
  }
  static void Close() { calls.push_back("close"); }
};

TEST_F(WorkAreaTest, MemoHooksOpenAndCloseWithTheTable) {
  MakePeople();
  ASSERT_TRUE(CreateDBF(Path("plain.dbf"), {{"A", 'C', 1, 0}}));
  Use(Path("people"), nullptr, 0);  // no memo unit: nothing happens
  EXPECT_EQ(ErrorCode, 0);
  Close();

  MemoHooks.OpenMemofile = &FakeMemoUnit::Open;
  MemoHooks.CloseMemofile = &FakeMemoUnit::Close;
  FakeMemoUnit::calls.clear();
  Use(Path("people"), nullptr, 0);
  Use(Path("plain"), nullptr, 0);  // closes people; plain has no memo file
  Close();
  ASSERT_EQ(FakeMemoUnit::calls.size(), 2u);
  const std::string& opened = FakeMemoUnit::calls[0];  // "open <directory><separator>PEOPLE"
  EXPECT_EQ(opened.substr(opened.size() - 6), "PEOPLE");
  EXPECT_NE(std::string("/\\").find(opened[opened.size() - 7]), std::string::npos);
  EXPECT_EQ(FakeMemoUnit::calls[1], "close");

  FakeMemoUnit::open_result = 2;
  Use(Path("people"), nullptr, 0);
  ExpectError(2);
  EXPECT_NE(ErrorText.find("Problem opening memo file [USE("), std::string::npos);
  EXPECT_NE(CurrentWorkArea(), nullptr);  // the table stays open
  FakeMemoUnit::open_result = 0;
}

}  // namespace
}  // namespace qd::table_test
