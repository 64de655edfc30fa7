// MakeIndex on a shared table that another program (index_child.cpp) uses:
// while the other program holds the index file, the build needs the table
// exclusively and, the table being open elsewhere, is refused with 225 and
// leaves the old file alone; once the other program closed its index the
// build goes ahead on the shared table, and the other program's next
// SetIndexTo sees the new tags and steps through them.
#include <filesystem>
#include <fstream>
#include <thread>

#include "index_test_support.h"
#include "platform/platform.h"

#ifdef QD_INDEX_CHILD

namespace qd::index_test {
namespace {

class IndexBuildProcessTest : public IndexTest {
 protected:
  void TearDown() override {
    if (child_.joinable()) {
      Release(".go");
      Release(".go2");
      child_.join();
    }
    IndexTest::TearDown();
  }
  void Start(const std::string& index) {
    result_ = Path("watch.txt");
    std::string command = std::string("\"") + QD_INDEX_CHILD + "\" \"" + result_ + "\" \"" + Path("people.dbf") +
                          "\" watch \"" + index + "\"";
#ifdef _WIN32
    command = "\"" + command + "\"";  // cmd.exe drops the outer pair of quotes
#endif
    child_ = std::thread([this, command] { status_ = std::system(command.c_str()); });
  }
  // Waits for one of the child's marks (a minute at most); its text.
  std::string Wait(const std::string& mark) {
    for (int i = 0; i < 6000 && !std::filesystem::exists(result_ + mark); ++i) platform::SleepMs(10);
    EXPECT_TRUE(std::filesystem::exists(result_ + mark));
    return Text();
  }
  void Release(const std::string& mark) { std::ofstream(result_ + mark) << "go"; }
  std::string Finish() {
    Release(".go2");
    child_.join();
    EXPECT_EQ(status_, 0);
    return Text();
  }
  std::string Text() const {
    const Bytes bytes = table_test::ReadAll(result_);
    return std::string(bytes.begin(), bytes.end());
  }

  std::string result_;
  std::thread child_;
  int status_ = -1;
};

TEST_F(IndexBuildProcessTest, AnIndexHeldElsewhereNeedsTheTableAloneAndTheNewIndexIsSeenAfterwards) {
  OpenPeople();  // shared
  const std::string index = Path("people.mdx");
  ASSERT_TRUE(MakeIndex({{"OLD", "NAME", "", false, false}}, index)) << ErrorText;
  Start(index);
  ASSERT_EQ(Wait(".ready"), "tags OLD");

  // The other program has the table and the index open: no exclusive use.
  EXPECT_FALSE(MakeIndex({{"NEW", "AMOUNT", "", false, false}}, index));
  EXPECT_EQ(ErrorCode, 225);
  EXPECT_EQ(ErrorText, CurrentWorkArea()->file_name + " MakeIndex(" + index + ")");
  EXPECT_EQ(PendingErrorMessage(), ErrorMessage(225) + "\r\n" + CurrentWorkArea()->file_name + " MakeIndex(" + index +
                                       ")");
  ErrorCode = 0;
  EXPECT_FALSE(CurrentWorkArea()->exclusive);
  std::vector<std::string> lines;
  TagList(lines, index);
  EXPECT_EQ(lines, (std::vector<std::string>{"OLD,F,F,NAME", ""}));
  // The table is still usable here.
  Go(1);
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(RecNo(), 1);

  // Once it closed its index the build runs on the shared table.
  Release(".go");
  ASSERT_EQ(Wait(".ready2"), "tags OLD, closed");
  ASSERT_TRUE(MakeIndex({{"NEW", "AMOUNT", "", false, false}, {"NAMES", "NAME", "", false, true}}, index))
      << ErrorText;
  EXPECT_FALSE(CurrentWorkArea()->exclusive);
  // It opens the new file on tag 1's first record and steps through both
  // new orders (NAMES is unique on NAME; Adams, record 3, is deleted but
  // visible).
  EXPECT_EQ(Finish(), "tags OLD, closed, tags NEW,NAMES, at 2, NEW 2 3 1 / 2 3 1, NAMES 3 2 1 / 3 2 1 done");
}

}  // namespace
}  // namespace qd::index_test

#endif
