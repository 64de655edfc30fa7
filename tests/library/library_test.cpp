// DllMainCall as a host runs it: the built library loaded at run time by a
// separate program in a folder holding a movie table, its message boxes read
// from the console host's standard error, and the process's exit status when
// the engine halts it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct HostRun {
  int exit_code = -1;
  std::string out;  // what the host printed after each call
  std::string err;  // the message boxes: caption line, then text line
};

class DllMainCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitErrorUnit();
    ImmediateDispatch = false;
    std::string temp;
    ASSERT_EQ(platform::TempDirectory(temp), 0u);
    dir_ = fs::path(temp) / (std::string("qdlib_") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             "_" + std::to_string(platform::TickCount()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    CloseEveryWorkArea();
    InitErrorUnit();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // A movie table: TITLE C(30), YEAR N(4,0), one record per title; the
  // records listed in `deleted` (from 1) are marked deleted.
  void WriteMovies(const std::vector<std::string>& titles, const std::vector<int>& deleted = {}) {
    const std::string path = (dir_ / "movie.dbf").string();
    ASSERT_TRUE(CreateDBF(path, {{"TITLE", 'C', 30, 0}, {"YEAR", 'N', 4, 0}}));
    Select(1);
    Use(path + " EXCLUSIVE", nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    for (const std::string& title : titles) {
      ClearRecord();
      std::uint8_t* slot = FieldAddress(1);
      slot[0] = static_cast<std::uint8_t>(title.size());
      std::memcpy(slot + 1, title.data(), title.size());
      const std::int32_t year = 1942;
      std::memcpy(FieldAddress(2), &year, 4);
      Append();
    }
    for (int record : deleted) {
      Go(record);
      DeleteRec();
    }
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    Close();
  }

  // Runs the host program in the table's folder, without a terminal on
  // standard input (so that message boxes do not wait). In sanitized builds:
  // the platform layer's open-file registry is meant to outlive every static
  // object and is only reclaimed with the process, so an unloaded library
  // leaves it behind; its stack can no longer be symbolised and is shown
  // against the sanitizer runtimes, which the suppressions name.
  HostRun CallLibrary(int calls) {
    std::ofstream(dir_ / "lsan.supp") << "leak:libubsan.so\nleak:libasan.so\n";
    const std::string command = "cd \"" + dir_.string() +
                                "\" && LSAN_OPTIONS=suppressions=lsan.supp:print_suppressions=0 \"" +
                                QD_LIBRARY_HOST "\" \"" + std::string(QD_MAIN_DLL) + "\" " +
                                std::to_string(calls) + " </dev/null >host.out 2>host.err";
    const int status = std::system(command.c_str());
    HostRun run;
    if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    run.out = ReadText(dir_ / "host.out");
    run.err = ReadText(dir_ / "host.err");
    return run;
  }

  fs::path dir_;
};

TEST_F(DllMainCallTest, ShowsTheFirstTitleWithoutTrailingBlanks) {
  WriteMovies({"Casablanca", "Metropolis"});
  const HostRun run = CallLibrary(1);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "Application\nCasablanca\n");
  EXPECT_EQ(run.out, "returned 1, open 0\nunloaded\n");
}

TEST_F(DllMainCallTest, DeletedFirstRecordIsStillTheOneShown) {
  WriteMovies({"Casablanca", "Metropolis"}, {1});
  const HostRun run = CallLibrary(1);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "Application\nCasablanca\n");
}

TEST_F(DllMainCallTest, EmptyTableShowsAnEmptyText) {
  WriteMovies({});
  const HostRun run = CallLibrary(1);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "Application\n\n");
}

// The second call could not open the table under its alias if the first
// had left its work area in use; neither call leaves the file open, and
// reading the table changes nothing in it.
TEST_F(DllMainCallTest, TwoCallsInARowLeaveNothingOpen) {
  WriteMovies({"Casablanca"});
  const std::string before = ReadText(dir_ / "movie.dbf");
  const HostRun run = CallLibrary(2);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "Application\nCasablanca\nApplication\nCasablanca\n");
  EXPECT_EQ(run.out, "returned 1, open 0\nreturned 2, open 0\nunloaded\n");
  EXPECT_EQ(ReadText(dir_ / "movie.dbf"), before);
}

// Without the table: the dataset cannot create it from its empty structure
// list and says so twice, then the engine fails to open it, shows its stop
// box and ends the process with the error code (2, file not found).
TEST_F(DllMainCallTest, MissingTableWarnsTwiceThenHalts) {
  const HostRun run = CallLibrary(1);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  const std::string expected_start =
      "Application\nFieldList.Count is <= 0 trying to create a database\n"
      "Application\nCould not create \"movie.DBF\"\n"
      "Program halted.\nError # 2 (";
  EXPECT_EQ(run.err.substr(0, expected_start.size()), expected_start) << run.err;
  EXPECT_FALSE(fs::exists(dir_ / "movie.DBF"));
}

}  // namespace
}  // namespace qd
