// Navigation: first, last, skip, go and raw go in file order with deleted
// records shown and hidden, empty tables, end and beginning of file, and the
// same moves through a stand-in index order installed in the index hooks.
#include <algorithm>
#include <sstream>

#include "table_test_support.h"

namespace qd::table_test {
namespace {

class NavigationTest : public TableTest {
 protected:
  // Opens a table of one C(3) field with the given records ("*" deleted).
  void OpenRecords(const std::vector<std::string>& records) {
    WriteAll(Path("nav.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, records));
    Use(Path("nav") + " exclusive", nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
  }
  // Runs moves and checks where each one lands. A step reads
  // "<move> <record number> <text or -> <flags> [<error code>]": moves are
  // T (GoTop), B (GoBottom), S<n> (Skip), G<n> (Go), R<n> (RawGo) and I<0|1>
  // (SetIgnoreDel); flags are E (end), B (beginning) or . for neither;
  // "-" stands for the blank record.
  void Run(const std::vector<std::string>& steps) {
    for (const std::string& step : steps) {
      std::istringstream in(step);
      std::string move, text, flags;
      std::int32_t recno = 0;
      int error = 0;
      in >> move >> recno >> text >> flags >> error;
      const std::int32_t n = move.size() > 1 ? std::stoi(move.substr(1)) : 0;
      switch (move[0]) {
        case 'T': GoTop(); break;
        case 'B': GoBottom(); break;
        case 'S': Skip(n); break;
        case 'G': Go(n); break;
        case 'R': RawGo(n); break;
        case 'I': SetIgnoreDel(n != 0); break;
      }
      EXPECT_EQ(ErrorCode, error) << step << ": " << ErrorText;
      ErrorCode = 0;
      EXPECT_EQ(RecNo(), recno) << step;
      EXPECT_EQ(SlotText(1), text == "-" ? "   " : text) << step;
      EXPECT_EQ(dEOF(), flags.find('E') != std::string::npos) << step;
      EXPECT_EQ(dBOF(), flags.find('B') != std::string::npos) << step;
    }
  }
};

TEST_F(NavigationTest, WithoutATableEverythingReports215) {
  GoTop();
  ExpectError(215);
  EXPECT_EQ(ErrorText, "No database in use [GoTop]  WorkArea = 1");
  Skip(1);
  ExpectError(215);
  EXPECT_TRUE(dEOF());
  ExpectError(215);
  EXPECT_FALSE(GoIfValid(1));
}

TEST_F(NavigationTest, DeletedRecordsShownAndHidden) {
  OpenRecords({" one", "*two", " thr"});
  Run({"S0 1 one .", "S1 2 two .",
       "I1 2 two .",  // the deleted record stays current, re-read
       "T 1 one .", "S1 3 thr .", "S1 4 - E", "S1 4 - E 212", "S-1 3 thr .", "S-1 1 one .",
       "S-1 1 one B", "S-1 1 one B", "S2 4 - E", "S-5 1 one B",
       "G2 2 two .",  // Go reaches hidden records
       "I0 2 two .", "B 3 thr .", "S-1 2 two ."});
  EXPECT_EQ(*FieldAddress(0), 1);
  Skip(1);
  Skip(1);
  Skip(1);
  EXPECT_EQ(ErrorText, "Database \"" + CurrentWorkArea()->file_name + "\" is past EOF. [SKIP]");
}

TEST_F(NavigationTest, HiddenFirstAndLastRecordsAndNothingVisible) {
  OpenRecords({"*aaa", " bbb", " ccc", "*ddd"});
  Run({"I1 1 aaa .", "T 2 bbb .", "S-1 2 bbb B", "B 3 ccc .", "S1 5 - E", "S0 5 - E",
       "S-1 3 ccc ."});
  Close();
  OpenRecords({"*aaa", "*bbb"});
  Run({"I1 1 aaa .", "T 3 - EB", "B 3 - EB", "G1 1 aaa .", "S1 3 - E", "G2 2 bbb .",
       "S-1 3 - EB"});
}

// Every record deleted but the last, deleted records hidden: each move to
// the top walks past all of them to the last record.
TEST_F(NavigationTest, OnlyTheLastRecordIsVisible) {
  OpenRecords({"*aaa", "*bbb", "*ccc", " ddd"});
  Run({"I1 1 aaa .", "T 4 ddd .", "S-1 4 ddd B", "S1 5 - E", "B 4 ddd .", "G2 2 bbb .",
       "S-1 4 ddd B", "T 4 ddd ."});
}

TEST_F(NavigationTest, EmptyTable) {
  ASSERT_TRUE(CreateDBF(Path("empty.dbf"), {{"A", 'C', 3, 0}}));
  Use(Path("empty"), nullptr, 0);
  Run({"S0 0 - EB", "S1 0 - EB 212", "S-1 0 - EB 212", "T 0 - EB", "B 0 - EB", "G1 0 - EB 212",
       "R1 0 - EB"});
  Skip(1);
  EXPECT_EQ(ErrorText, "Database \"" + CurrentWorkArea()->file_name + "\" is empty. [SKIP]");
  EXPECT_EQ(RecCount(), 0);
  EXPECT_FALSE(GoIfValid(1));
}

TEST_F(NavigationTest, GoAndRawGo) {
  OpenRecords({" one", " two", " thr"});
  // Out of range: end of file, buffers as they were.
  Run({"G2 2 two .", "G0 4 two E 212", "G2 2 two .", "G4 4 two E 212", "G-7 4 two E 212",
       "R1 1 one .", "R9 4 - E", "R2 2 two .", "R0 2 two . 212"});
  Go(5);
  EXPECT_EQ(ErrorText, "Invalid record number = 5 Database \"" + CurrentWorkArea()->file_name + "\" [GO]");
  RawGo(-1);
  EXPECT_NE(ErrorText.find(" [Dbf4RawGo]"), std::string::npos);
  ErrorCode = 0;
  EXPECT_TRUE(GoIfValid(3));
  EXPECT_EQ(SlotText(1), "thr");
  EXPECT_FALSE(GoIfValid(4));
  EXPECT_FALSE(GoIfValid(0));
  EXPECT_EQ(RecNo(), 3);
  EXPECT_EQ(ErrorCode, 0);
}

TEST_F(NavigationTest, ExclusiveTableKeepsItsCount) {
  OpenRecords({" one"});
  // Another writer cannot exist: where the system lets a file grow behind
  // the engine's back anyway, the record is not counted until reopened.
  WriteAll(Path("nav.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one", " two"}));
  EXPECT_EQ(RecCount(), 1);
  Run({"B 1 one .", "S1 2 - E"});
}

// A stand-in index order: a fixed sequence of record numbers.
struct FakeOrder {
  static inline std::vector<std::int32_t> keys;
  static inline std::size_t pos = 0;
  static inline bool eof = false, bof = false;
  static inline int held = 0, max_held = 0, end_moves = 0, resyncs = 0;

  static std::int32_t Count() { return CurrentWorkArea()->record_count; }
  static void Install(std::vector<std::int32_t> order) {
    keys = std::move(order);
    pos = 0;
    eof = bof = false;
    held = max_held = end_moves = resyncs = 0;
    IndexHooks.OrderActive = [] { return true; };
    IndexHooks.FirstInOrder = [] {
      pos = 0;
      eof = bof = keys.empty();
      return keys.empty() ? Count() + 1 : keys[0];
    };
    IndexHooks.LastInOrder = [] {
      pos = keys.empty() ? 0 : keys.size() - 1;
      eof = bof = keys.empty();
      return keys.empty() ? Count() + 1 : keys[pos];
    };
    IndexHooks.NextInOrder = [] {
      bof = false;
      if (pos + 1 < keys.size()) return keys[++pos];
      eof = true;
      return keys[pos];
    };
    IndexHooks.PriorInOrder = [] {
      eof = false;
      if (pos > 0) return keys[--pos];
      bof = true;
      return keys[pos];
    };
    IndexHooks.OrderEOF = [] { return eof; };
    IndexHooks.OrderBOF = [] { return bof; };
    IndexHooks.SetOrderEOF = [] { eof = true; };
    IndexHooks.SetOrderBOF = [] { bof = true; };
    IndexHooks.ResyncOrder = [] {
      ++resyncs;
      const std::int32_t r = CurrentWorkArea()->record_number;
      auto it = std::find(keys.begin(), keys.end(), r);
      eof = it == keys.end();
      bof = false;
      if (!eof) pos = static_cast<std::size_t>(it - keys.begin());
    };
    IndexHooks.EndOrderMove = [] { ++end_moves; };
    IndexHooks.SetReadSemaphoreProc = [](bool hold) {
      held += hold ? 1 : -1;
      max_held = std::max(max_held, held);
    };
  }
};

using OrderedNavigationTest = NavigationTest;

TEST_F(OrderedNavigationTest, MovesFollowTheOrder) {
  OpenRecords({" one", "*two", " thr", " fou"});
  FakeOrder::Install({4, 2, 3, 1});
  Run({"T 4 fou .", "S1 2 two .", "I1 2 two .", "T 4 fou .", "S1 3 thr .", "S1 1 one .",
       "S1 5 - E", "B 1 one .", "S-1 3 thr .", "S-1 4 fou .", "S-1 4 fou B"});
  const int resyncs = FakeOrder::resyncs;
  Run({"G3 3 thr .", "S1 1 one ."});
  EXPECT_EQ(FakeOrder::resyncs, resyncs + 1);  // Go told the order where it is
  EXPECT_EQ(FakeOrder::held, 0);                // every move released the index
  EXPECT_GE(FakeOrder::max_held, 1);
  EXPECT_GT(FakeOrder::end_moves, 0);
}

TEST_F(OrderedNavigationTest, EmptyOrderAndHiddenKeys) {
  OpenRecords({"*one", "*two"});
  FakeOrder::Install({});
  Run({"T 3 - EB", "B 3 - EB"});
  SetIgnoreDel(true);
  FakeOrder::Install({2, 1});
  Run({"T 3 - E", "B 3 - EB"});
  EXPECT_TRUE(CurrentWorkArea()->at_end && CurrentWorkArea()->at_beginning);
  EXPECT_EQ(FakeOrder::held, 0);
}

TEST_F(OrderedNavigationTest, ReadErrorsReleaseTheIndexEvenWhenRaised) {
  Bytes b = BuildDbf(0x03, {{"A", 'C', 3}}, {" one"}, false);
  Put32(b, 4, 3);  // two records missing from the file
  WriteAll(Path("nav.dbf"), b);
  Use(Path("nav"), nullptr, 0);
  FakeOrder::Install({3, 1, 2});
  GoTop();
  ExpectError(213);
  SetRaiseExceptions(true);
  SetImmediateDispatch(true);
  EXPECT_THROW(Go(2), EQuindleError);
  SetRaiseExceptions(false);
  SetImmediateDispatch(false);
  ErrorCode = 0;
  EXPECT_EQ(FakeOrder::held, 0);
}

}  // namespace
}  // namespace qd::table_test
