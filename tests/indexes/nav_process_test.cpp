// Two programs sharing a table and its index: the child program
// (nav_child.cpp) and the test append and rename records, walk the name
// order and Find each other's keys; each sees the other's changes through
// the semaphore's change counter, and at the end nothing is lost: every
// tag is sound and holds exactly the keys of the records in the table.
#include <filesystem>
#include <thread>

#include "nav_test_support.h"
#include "platform/platform.h"

#ifdef QD_NAV_CHILD

namespace qd::index_test {
namespace {

class NavProcessTest : public NavTest {
 protected:
  static std::string Name(const std::string& prefix, int i) { return prefix + std::to_string(10000 + i); }

  void AppendBatch(const std::string& prefix, int first, int count) {
    while (!ALock()) platform::SleepMs(1);
    ErrorCode = 0;
    for (int i = first; i < first + count; ++i) {
      ClearRecord();
      SetName(Name(prefix, i));
      SetAmount(i);
      Append();
      ASSERT_EQ(ErrorCode, 0) << ErrorText;
    }
    Unlock();
  }
  void Rename(const std::string& name, const std::string& to) {
    ASSERT_TRUE(Find(name)) << name;
    while (!RLock()) platform::SleepMs(1);
    ErrorCode = 0;
    SetName(to);
    Replace();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    Unlock();
  }
  void Work(const std::string& prefix, int count, int first) {
    for (int i = first; i < first + count; i += 10) {
      AppendBatch(prefix, i, 10);
      if (HasFatalFailure()) return;
      for (int j = i; j < i + 10; j += 3) {
        Rename(Name(prefix, j), Name(prefix + "X", j));
        if (HasFatalFailure()) return;
      }
    }
  }
};

TEST_F(NavProcessTest, TwoProgramsSeeEachOthersChanges) {
  constexpr int kCount = 150;
  OpenEmpty({{"NAMES", CharTag("NAME", 10)}, {"AMOUNTS", NumericTag("AMOUNT", true)}}, false);
  const std::string result = Path("child.txt");
  const std::string command = std::string("\"") + QD_NAV_CHILD + "\" \"" + result + "\" \"" + Path("people.dbf") +
                              "\" \"" + MdxPath() + "\" B " + std::to_string(kCount) + " A10007";
  int status = -1;
  std::thread child([&] {
#ifdef _WIN32
    status = std::system(("\"" + command + "\"").c_str());
#else
    status = std::system(command.c_str());
#endif
  });
  struct Join {
    std::thread& thread;
    std::string go;
    ~Join() {
      std::ofstream(go) << "go";
      if (thread.joinable()) thread.join();
    }
  } join{child, result + ".go"};

  // Both programs append and rename at the same time.
  Work("A", kCount, 0);
  ASSERT_FALSE(HasFatalFailure());
  for (int i = 0; i < 6000 && !std::filesystem::exists(result + ".ready"); ++i) platform::SleepMs(10);
  ASSERT_TRUE(std::filesystem::exists(result + ".ready"));
  // The other program's records are in the order, found by key.
  EXPECT_EQ(Forwards().size(), 2u * kCount);
  EXPECT_TRUE(Find("B10007"));
  EXPECT_EQ(table_test::SlotText(1), "B10007    ");
  EXPECT_TRUE(Find("BX10006"));
  std::ofstream(result + ".go") << "go";
  Work("A", kCount, kCount);
  ASSERT_FALSE(HasFatalFailure());
  child.join();
  EXPECT_EQ(status, 0);
  const Bytes bytes = table_test::ReadAll(result);
  const std::string said(bytes.begin(), bytes.end());
  // The child walked while the test appended again: it saw at least both
  // first rounds, in order.
  ASSERT_EQ(said.substr(0, 6), "count ") << said;
  const int seen = std::atoi(said.c_str() + 6);
  EXPECT_GE(seen, 2 * kCount) << said;
  EXPECT_LE(seen, 3 * kCount) << said;
  EXPECT_NE(said.find(" sorted yes"), std::string::npos) << said;
  EXPECT_NE(said.find(" found "), std::string::npos) << said;
  EXPECT_EQ(said.substr(said.size() - 5), " done") << said;

  // Nothing lost: every record's keys, and nothing else, in both tags.
  const std::int32_t count = RecCount();
  EXPECT_EQ(count, 4 * kCount);
  index_model::TagModel names(LayoutOf(1)), amounts(LayoutOf(2));
  Set_Order_To(0);
  for (std::int32_t r = 1; r <= count; ++r) {
    Go(r);
    index_model::KeyValue name, amount;
    name.text = table_test::SlotText(1);
    double value = 0;
    std::memcpy(&value, FieldAddress(2), sizeof value);
    amount.number = value;
    names.Append(static_cast<std::uint32_t>(r), name, true);
    amounts.Append(static_cast<std::uint32_t>(r), amount, true);
  }
  EXPECT_EQ(names.Check(WalkFile(1)), "");
  EXPECT_EQ(amounts.Check(WalkFile(2)), "");
  Set_Order_To(1);
  EXPECT_EQ(Forwards(), Records(WalkFile(1)));
  Set_Order_To(2);
  EXPECT_EQ(Backwards(), Records(WalkFile(2)));
}

}  // namespace
}  // namespace qd::index_test

#endif  // QD_NAV_CHILD
