// Sequential search: option words, prefix, exact, contained and
// case-insensitive matching, Continue, typed values per field type, the
// multi-field search, memo text through the memo hook, OEM tables, and that
// failed searches report nothing and change nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/dates.h"
#include "support/memo_text_stub.h"
#include "table/locking_test_support.h"
#include "table/record_updates.h"
#include "table/search.h"

namespace qd {
namespace {

class SearchTest : public lock_testing::TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    ASSERT_TRUE(CreateDBF(Path("PEOPLE.DBF"), {{"NAME", 'C', 10, 0},
                                               {"CITY", 'C', 8, 0},
                                               {"QTY", 'N', 5, 0},
                                               {"PRICE", 'N', 6, 2},
                                               {"BORN", 'D', 8, 0},
                                               {"OK", 'L', 1, 0}}));
    Open("PEOPLE.DBF", true);
    AddPerson("JONES", "LEEDS", 7, 1.5, "19800101", 'F');      // 1
    AddPerson("SMITH", "YORK", 12, 12, "19991231", 'T');      // 2
    AddPerson("Smithers", "LEEDS", 120, 0.12, "20000229", 'F');  // 3
    AddPerson("BROWN", "YORK", 3, 99.99, "        ", 'T');     // 4
    AddPerson("SMITH", "LEEDS", 12, 3, "19991231", 'F');      // 5
    AddPerson("GREEN", "HULL", 1, 1, "20010101", 'T');        // 6
    Go(4);
  }
  // Writes a record through the stored texts (Poke needs no conversion).
  void AddPerson(const std::string& name, const std::string& city, int qty, double price,
                 const std::string& born, char ok) {
    ClearRecord();
    Append();
    const std::int32_t r = RecNo();
    char number[16];
    Poke(name, 1, r);
    Poke(city, 2, r);
    std::snprintf(number, sizeof number, "%5d", qty);
    Poke(number, 3, r);
    std::snprintf(number, sizeof number, "%6.2f", price);
    Poke(number, 4, r);
    Poke(born, 5, r);
    Poke(std::string(1, ok), 6, r);
    ASSERT_EQ(ErrorCode, 0);
  }
  void Hide(std::int32_t r) {
    Go(r);
    DeleteRec();
  }
  // LocateValue, giving the record found or 0.
  std::int32_t Located(const std::string& request, const SearchValue& value, bool nocase,
                       std::int32_t start, bool exact) {
    return LocateValue(request, value, nocase, start, exact) ? RecNo() : 0;
  }
  // Runs a search of `text` in the field of `request` from `start` and returns
  // the record found, 0 when nothing was.
  std::int32_t Find(const std::string& request, const std::string& text, std::int32_t start = 1) {
    const int field = FieldSpec(request);
    EXPECT_NE(field, 0) << request;
    SearchText = text;
    LocateFrom(start, field, true);
    return dEOF() ? 0 : RecNo();
  }
};

TEST_F(SearchTest, PrefixExactContainedAndCaseInsensitiveMatching) {
  EXPECT_EQ(Find("NAME", "SMI"), 2);
  EXPECT_EQ(Find("NAME", "smi"), 0);
  EXPECT_EQ(Find("name nocase", "smi"), 2);
  EXPECT_EQ(Find("NAME NOCASE", "smithe"), 3);
  EXPECT_EQ(Find("NAME EXACT", "SMITH"), 0);
  EXPECT_EQ(Find("NAME EXACT", "SMITH     "), 2);
  EXPECT_EQ(Find("NAME", "SMITH     "), 2);  // trailing blanks go unless exact
  EXPECT_EQ(Find("NAME", "MIT"), 0);
  EXPECT_EQ(Find("NAME CONTAINED", "MIT"), 2);
  EXPECT_EQ(Find("NAME CONTAINED NOCASE", "mithers"), 3);
  EXPECT_EQ(Find("NAME", "SMITH", 3), 5);
  EXPECT_EQ(Find("NAME", "SMITH", -7), 2);
  EXPECT_EQ(Find("QTY", "   12"), 2);
  EXPECT_EQ(Find("BORN", "1999"), 2);
}

TEST_F(SearchTest, OptionWordsAndBadSpecifications) {
  EXPECT_EQ(FieldSpec("  city  exact  nocase "), 2);
  EXPECT_TRUE(SearchExact);
  EXPECT_FALSE(SearchCaseSensitive);
  EXPECT_FALSE(SearchContained);
  EXPECT_EQ(FieldSpec("CITY"), 2);  // every call sets all three
  EXPECT_FALSE(SearchExact);
  EXPECT_TRUE(SearchCaseSensitive);

  Go(4);
  EXPECT_EQ(FieldSpec("NAME EXACTLY"), 0);  // an option only as a whole word
  EXPECT_EQ(ErrorCode, 220);
  EXPECT_EQ(ErrorText, "Unrecognized field name [Locate/Count/Sum(NAME EXACTLY)]");
  EXPECT_EQ(FieldSpec("   "), 0);
  EXPECT_EQ(ErrorText, "No field name specified [Locate/Count/Sum]");
  EXPECT_FALSE(LocateValue("TOWN", SearchValue::OfText("YORK"), false, 1, false));
  EXPECT_EQ(ErrorCode, 220);
  EXPECT_EQ(RecNo(), 4);  // a field request error leaves the position
}

TEST_F(SearchTest, FailedSearchEndsAtEndOfFileAndStopsContinue) {
  Close();
  const auto before = FileBytes("PEOPLE.DBF");
  Open("PEOPLE.DBF", true);
  EXPECT_EQ(Find("CITY", "PARIS"), 0);
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 7);
  Continue();
  EXPECT_EQ(ErrorCode, 220);
  EXPECT_EQ(ErrorText, "Call to CONTINUE not preceeded by call to LOCATE. [Continue]");

  EXPECT_EQ(Find("CITY", "YORK"), 2);
  Continue();
  EXPECT_EQ(RecNo(), 4);
  Continue();
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(SearchField, 0);
  Close();
  EXPECT_EQ(FileBytes("PEOPLE.DBF"), before);
}

TEST_F(SearchTest, ContinueFindsDeletedRecordsButLocateValueSkipsHiddenOnes) {
  Hide(2);
  Hide(5);
  EXPECT_EQ(Find("CITY", "YORK"), 2);  // the scan ignores deletion flags
  Continue();
  EXPECT_EQ(RecNo(), 4);

  SetIgnoreDel(true);
  EXPECT_EQ(Located("CITY", SearchValue::OfText("YORK"), false, 1, false), 4);
  EXPECT_EQ(Located("NAME", SearchValue::OfText("SMITH"), true, 1, false), 3);
  EXPECT_FALSE(LocateValue("NAME", SearchValue::OfText("SMITH"), false, 1, false));
}

TEST_F(SearchTest, TypedValuesTakeTheStoredFormOfTheirField) {
  // N(5,0): three blanks and 12; N(6,2): two blanks and 12.00.
  EXPECT_EQ(Located("QTY", SearchValue::OfNumber(12), false, 1, false), 2);
  EXPECT_EQ(Located("PRICE", SearchValue::OfNumber(12), false, 1, false), 2);
  EXPECT_EQ(Peek(4, 2), " 12.00");
  EXPECT_EQ(Located("PRICE", SearchValue::OfText(" 0.12 "), false, 1, false), 3);
  EXPECT_FALSE(LocateValue("QTY", SearchValue::OfText("twelve"), false, 1, false));

  EXPECT_EQ(Located("BORN", SearchValue::OfDate(JulianDate(2000, 2, 29)), false, 1, false), 3);
  EXPECT_EQ(Located("BORN", SearchValue::OfText("01/01/01"), false, 1, true), 6);
  EXPECT_EQ(Located("BORN", SearchValue::OfDate(BlankDateValue), false, 1, true), 4);

  EXPECT_EQ(Located("OK", SearchValue::OfBoolean(true), false, 1, false), 2);
  EXPECT_EQ(Located("OK", SearchValue::OfBoolean(false), false, 2, false), 3);

  // EXACT pads text to the field, so a shorter name matches the whole field.
  EXPECT_EQ(Located("NAME", SearchValue::OfText("SMITH"), false, 3, true), 5);
  EXPECT_EQ(Located("NAME", SearchValue::OfText("smith"), true, 1, false), 2);
  // Only the first word of the field request counts.
  EXPECT_FALSE(LocateValue(" CITY CONTAINED", SearchValue::OfText("ORK"), false, 1, false));
}

TEST_F(SearchTest, NumbersTooWideForTheFieldMatchNoOverflowedRecord) {
  Poke("*****", 3, 6);  // what storing 123456 into N(5,0) leaves
  EXPECT_FALSE(LocateValue("QTY", SearchValue::OfNumber(123456), false, 1, false));
  EXPECT_TRUE(dEOF());
  EXPECT_FALSE(LocateValue("QTY", SearchValue::OfNumber(123456), false, 1, true));
}

TEST_F(SearchTest, LocateFieldsFindsTheFirstRecordMatchingAll) {
  // SMITH first matches at 2 (YORK); the first SMITH in LEEDS is 5.
  const std::vector<SearchValue> values = {SearchValue::OfText("SMITH"),
                                           SearchValue::OfText("LEEDS")};
  Go(4);
  EXPECT_TRUE(LocateFields("NAME;CITY", values, false, false, true));
  EXPECT_EQ(RecNo(), 5);
  Go(4);
  EXPECT_TRUE(LocateFields("NAME;CITY", values, false, false, false));
  EXPECT_EQ(RecNo(), 4);
  EXPECT_FALSE(LocateFields("NAME;CITY", {SearchValue::OfText("SMITH"),
                                          SearchValue::OfText("HULL")},
                            false, false, true));
  EXPECT_EQ(RecNo(), 4);  // back where it started
  EXPECT_EQ(ErrorCode, 0);

  // Three fields, where the second match moves on twice.
  EXPECT_TRUE(LocateFields("CITY;QTY;OK",
                           {SearchValue::OfText("LEEDS"), SearchValue::OfNumber(12),
                            SearchValue::OfBoolean(false)},
                           false, true, true));
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(LocateFields("name", {SearchValue::OfText("green")}, true, false, true));
  EXPECT_EQ(RecNo(), 6);
  EXPECT_FALSE(LocateFields("NAME;CITY", {SearchValue::OfText("SMITH")}, false, false, true));
}

TEST_F(SearchTest, AFailedSearchOverHiddenRecordsReportsNothing) {
  for (std::int32_t r = 1; r <= 6; ++r) Hide(r);
  SetIgnoreDel(true);
  ImmediateDispatch = true;
  RaiseExceptions = true;  // any report would throw
  EXPECT_NO_THROW(EXPECT_FALSE(LocateValue("CITY", SearchValue::OfText("HULL"), false, 1, false)));
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_TRUE(dEOF());
}

TEST_F(SearchTest, OemTablesAreComparedInTheWindowsCharacterSet) {
  Close();
  AnsiTables = false;  // OEM table
  ASSERT_TRUE(CreateDBF(Path("OEM.DBF"), {{"NAME", 'C', 10, 0}}));
  Open("OEM.DBF", true);
  ClearRecord();
  SetText(1, "Zo\xEB");  // ANSI e with diaeresis, stored as OEM 0x89
  Append();
  ClearRecord();
  SetText(1, "Ren\xE9");  // ANSI e acute, stored as OEM 0x82
  Append();
  ASSERT_EQ(Peek(1, 2).substr(0, 4), "Ren\x82");
  EXPECT_EQ(Located("NAME", SearchValue::OfText("Ren\xE9"), false, 1, false), 2);
  EXPECT_EQ(Located("NAME", SearchValue::OfText("REN\xC9"), true, 1, false), 2);
  EXPECT_FALSE(LocateValue("NAME", SearchValue::OfText("REN\xC9"), false, 1, false));
}

// Memo texts served by a stand-in for the memo unit.
const char* const kMemos[] = {"", "first line\r\nSecond LINE", "alpha\nbeta\rgamma"};
std::string MemoText(std::int32_t block) { return block >= 1 && block <= 2 ? kMemos[block] : ""; }

TEST_F(SearchTest, MemoFieldsAreSearchedLineByLine) {
  Close();
  ASSERT_TRUE(CreateDBF(Path("NOTES.DBF"), {{"NAME", 'C', 4, 0}, {"NOTE", 'M', 10, 0}}));
  Open("NOTES.DBF", true);
  for (const char* block : {"         0", "         1", "         2"}) {
    ClearRecord();
    Append();
    Poke(block, 2, RecNo());
  }
  EXPECT_FALSE(MemoContains("LINE", "         0"));
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_FALSE(MemoContains("LINE", "         1"));
  EXPECT_EQ(ErrorCode, 220);
  EXPECT_EQ(ErrorText, "MEMO unit not linked in [Count/Sum/Continue]");
  Go(1);
  EXPECT_FALSE(LocateValue("NOTE", SearchValue::OfText("beta"), false, 1, false));
  EXPECT_EQ(RecNo(), 1);  // stopped where it stood, with the error reported
  EXPECT_EQ(ErrorCode, 220);

  test_support::MemoTextOf = MemoText;
  MemoHooks.AssignMemo = test_support::AssignStubMemo;
  ErrorCode = 0;
  EXPECT_EQ(Located("NOTE", SearchValue::OfText("beta"), false, 1, false), 3);
  EXPECT_EQ(Located("NOTE", SearchValue::OfText("second line"), true, 1, false), 2);
  EXPECT_FALSE(LocateValue("NOTE", SearchValue::OfText("second line"), false, 1, false));
  EXPECT_FALSE(LocateValue("NOTE", SearchValue::OfText("linesecond"), true, 1, false));
  EXPECT_FALSE(LocateValue("NOTE", SearchValue::OfText("alphabeta"), false, 1, false));
  EXPECT_EQ(ErrorCode, 0);
}

TEST_F(SearchTest, LongScansCrossReadBlocksAndSeeOtherProgramsRecords) {
  Close();
  ASSERT_TRUE(CreateDBF(Path("MANY.DBF"), {{"KEY", 'C', 97, 0}}));
  Open("MANY.DBF", true);
  for (int r = 1; r <= 6000; ++r) {
    ClearRecord();
    SetText(1, "K" + std::to_string(r));
    Append();
  }
  Close();
  Open("MANY.DBF");
  for (int wanted : {1, 41, 42, 123, 124, 2999, 6000}) {
    EXPECT_EQ(Located("KEY", SearchValue::OfText("K" + std::to_string(wanted)), false, 1, true), wanted);
  }
  // A record another program appends is found without reopening.
  Select(2);
  Open("MANY.DBF ALIAS OTHER");
  ASSERT_TRUE(ALock());
  ClearRecord();
  SetText(1, "LATE");
  Append();
  Unlock();
  Select(1);
  EXPECT_EQ(Located("KEY", SearchValue::OfText("LATE"), false, 1, false), 6001);
}

}  // namespace
}  // namespace qd
