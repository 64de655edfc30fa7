// Navigation: first, last, skip, go and raw go in file order with deleted
// records shown and hidden, empty tables, end and beginning of file, and the
// same moves through a stand-in index order installed in the index hooks.
#include <algorithm>

#include "table_test_support.h"

namespace qd::table_test {
namespace {

class NavigationTest : public TableTest {
 protected:
  // Opens a table of one C(3) field with the given records ("*" deleted).
  void OpenRecords(const std::vector<std::string>& records, const char* options = " exclusive") {
    WriteAll(Path("nav.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, records));
    Use(Path("nav") + options, nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
  }
  std::string Current() {
    const std::uint8_t* p = FieldAddress(1);
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
  }
  void ExpectAt(std::int32_t recno, const std::string& text, bool eof, bool bof) {
    EXPECT_EQ(RecNo(), recno);
    EXPECT_EQ(Current(), text);
    EXPECT_EQ(dEOF(), eof);
    EXPECT_EQ(dBOF(), bof);
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
  EXPECT_EQ(RecNo(), 0);
  ExpectError(215);
  EXPECT_FALSE(GoIfValid(1));
}

TEST_F(NavigationTest, DeletedRecordsHiddenAndShown) {
  OpenRecords({" one", "*two", " thr"});
  ExpectAt(1, "one", false, false);
  Skip(1);
  ExpectAt(2, "two", false, false);
  EXPECT_EQ(*FieldAddress(0), 1);

  EXPECT_FALSE(SetIgnoreDel(true));  // stays on the deleted record, re-read
  ExpectAt(2, "two", false, false);
  GoTop();
  Skip(1);
  ExpectAt(3, "thr", false, false);
  Skip(1);
  ExpectAt(4, "   ", true, false);
  Skip(1);
  ExpectError(212);
  EXPECT_EQ(ErrorText, "Database \"" + CurrentWorkArea()->file_name + "\" is past EOF. [SKIP]");
  EXPECT_EQ(RecNo(), 4);
  Skip(-1);
  ExpectAt(3, "thr", false, false);
  Skip(-1);
  ExpectAt(1, "one", false, false);
  Skip(-1);
  ExpectAt(1, "one", false, true);
  Skip(-1);  // at the beginning: nothing moves
  ExpectAt(1, "one", false, true);
  EXPECT_EQ(ErrorCode, 0);
  Skip(2);
  ExpectAt(4, "   ", true, false);
  Skip(-5);
  ExpectAt(1, "one", false, true);

  // Go reaches hidden records; GoBottom skips them backwards.
  Go(2);
  ExpectAt(2, "two", false, false);
  EXPECT_TRUE(SetIgnoreDel(false));
  GoBottom();
  ExpectAt(3, "thr", false, false);
}

TEST_F(NavigationTest, HiddenFirstAndLastRecords) {
  OpenRecords({"*aaa", " bbb", " ccc", "*ddd"});
  SetIgnoreDel(true);
  GoTop();
  ExpectAt(2, "bbb", false, false);
  Skip(-1);
  ExpectAt(2, "bbb", false, true);
  GoBottom();
  ExpectAt(3, "ccc", false, false);
  Skip(1);
  ExpectAt(5, "   ", true, false);
  Skip(0);
  EXPECT_EQ(Current(), "   ");
  Skip(-1);
  ExpectAt(3, "ccc", false, false);
}

TEST_F(NavigationTest, NothingVisible) {
  OpenRecords({"*aaa", "*bbb"});
  SetIgnoreDel(true);
  GoTop();
  ExpectAt(3, "   ", true, true);
  GoBottom();
  ExpectAt(3, "   ", true, true);
  Go(1);
  ExpectAt(1, "aaa", false, false);
  Skip(1);
  ExpectAt(3, "   ", true, false);
  Go(2);
  Skip(-1);
  ExpectAt(3, "   ", true, true);
}

TEST_F(NavigationTest, EmptyTable) {
  ASSERT_TRUE(CreateDBF(Path("empty.dbf"), {{"A", 'C', 3, 0}}));
  Use(Path("empty"), nullptr, 0);
  ExpectAt(0, "   ", true, true);
  for (std::int32_t n : {1, -1, 5}) {
    Skip(n);
    ExpectError(212);
    EXPECT_EQ(ErrorText, "Database \"" + CurrentWorkArea()->file_name + "\" is empty. [SKIP]");
    ExpectAt(0, "   ", true, true);
  }
  GoTop();
  GoBottom();
  EXPECT_EQ(ErrorCode, 0);
  ExpectAt(0, "   ", true, true);
  Go(1);
  ExpectError(212);
  ExpectAt(0, "   ", true, true);
  EXPECT_EQ(RecCount(), 0);
  EXPECT_FALSE(GoIfValid(1));
}

TEST_F(NavigationTest, GoAndRawGo) {
  OpenRecords({" one", " two", " thr"});
  Go(2);
  ExpectAt(2, "two", false, false);
  for (std::int32_t n : {0, 4, -7}) {
    Go(2);
    Go(n);
    ExpectError(212);
    EXPECT_EQ(ErrorText, "Invalid record number = " + std::to_string(n) + " Database \"" +
                             CurrentWorkArea()->file_name + "\" [GO]");
    EXPECT_EQ(RecNo(), 4);
    EXPECT_TRUE(dEOF());
    EXPECT_EQ(Current(), "two");  // Go leaves the buffers as they were
  }
  EXPECT_TRUE(GoIfValid(3));
  EXPECT_EQ(Current(), "thr");
  EXPECT_FALSE(GoIfValid(4));
  EXPECT_FALSE(GoIfValid(0));
  EXPECT_EQ(RecNo(), 3);
  EXPECT_EQ(ErrorCode, 0);

  RawGo(1);
  ExpectAt(1, "one", false, false);
  RawGo(9);
  ExpectAt(4, "   ", true, false);
  RawGo(0);
  ExpectError(212);
  EXPECT_NE(ErrorText.find(" [Dbf4RawGo]"), std::string::npos);
}

TEST_F(NavigationTest, ExclusiveTableKeepsItsCount) {
  OpenRecords({" one"});
  // Another writer cannot exist: where the system lets a file grow behind
  // the engine's back anyway, the record is not counted until reopened.
  WriteAll(Path("nav.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one", " two"}));
  EXPECT_EQ(RecCount(), 1);
  GoBottom();
  EXPECT_EQ(RecNo(), 1);
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
      if (!eof) pos = static_cast<std::size_t>(it - keys.begin());
    };
    IndexHooks.EndOrderMove = [] { ++end_moves; };
    IndexHooks.SetReadSemaphoreProc = [](bool hold) {
      held += hold ? 1 : -1;
      max_held = std::max(max_held, held);
    };
  }
};

class OrderedNavigationTest : public NavigationTest {
 protected:
  void TearDown() override {
    IndexHooks = IndexHookTable{};
    NavigationTest::TearDown();
  }
};

TEST_F(OrderedNavigationTest, MovesFollowTheOrder) {
  OpenRecords({" one", "*two", " thr", " fou"});
  FakeOrder::Install({4, 2, 3, 1});
  GoTop();
  EXPECT_EQ(RecNo(), 4);
  Skip(1);
  EXPECT_EQ(RecNo(), 2);
  SetIgnoreDel(true);
  GoTop();
  Skip(1);
  EXPECT_EQ(RecNo(), 3);  // record 2 is hidden
  Skip(1);
  EXPECT_EQ(RecNo(), 1);
  EXPECT_FALSE(dEOF());
  Skip(1);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(Current(), "   ");
  GoBottom();
  EXPECT_EQ(RecNo(), 1);
  Skip(-1);
  EXPECT_EQ(RecNo(), 3);
  Skip(-1);
  EXPECT_EQ(RecNo(), 4);
  Skip(-1);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(dBOF());
  const int resyncs = FakeOrder::resyncs;
  Go(3);
  EXPECT_EQ(FakeOrder::resyncs, resyncs + 1);
  Skip(1);
  EXPECT_EQ(RecNo(), 1);
  EXPECT_EQ(FakeOrder::held, 0);  // every move released the index
  EXPECT_GE(FakeOrder::max_held, 1);
  EXPECT_GT(FakeOrder::end_moves, 0);
}

TEST_F(OrderedNavigationTest, EmptyOrderAndHiddenKeys) {
  OpenRecords({"*one", "*two"});
  FakeOrder::Install({});
  GoTop();
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(dEOF());
  GoBottom();
  EXPECT_EQ(RecNo(), 3);
  FakeOrder::Install({2, 1});
  SetIgnoreDel(true);
  GoTop();
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(CurrentWorkArea()->at_end);
  GoBottom();
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(CurrentWorkArea()->at_beginning);
  EXPECT_EQ(FakeOrder::held, 0);
}

}  // namespace
}  // namespace qd::table_test
