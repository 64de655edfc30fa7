// DllMainCall as a host runs it: the built library loaded at run time by a
// separate program in a folder holding a movie table, its message boxes read
// from the console host's standard error, and the process's exit status when
// the engine halts it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/table_test_support.h"
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
  // standard input (so that message boxes do not wait); with `loads` it
  // loads, calls and unloads the library that many times. In sanitized
  // builds LeakSanitizer checks the host at its exit, library unloads
  // included: a leak fails the run with its own exit status.
  HostRun CallLibrary(int calls, int loads = 0) {
    std::string command = "cd \"" + dir_.string() + "\" && \"" QD_LIBRARY_HOST "\" \"" +
                          std::string(QD_MAIN_DLL) + "\" " + std::to_string(calls);
    if (loads > 0) command += " " + std::to_string(loads);
    command += " </dev/null >host.out 2>host.err";
    const int status = std::system(command.c_str());
    HostRun run;
    if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    run.out = ReadText(dir_ / "host.out");
    run.err = ReadText(dir_ / "host.err");
    return run;
  }

  // Writes movie.dbf byte by byte: a dBASE III table as another program
  // writes it.
  void WriteMovieFile(const std::vector<table_test::RawField>& fields,
                      const std::vector<std::string>& records) {
    table_test::WriteAll((dir_ / "movie.dbf").string(), table_test::BuildDbf(0x03, fields, records));
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

// Numeric fields wider than 20 digits, which GIS and other programs write
// (N(30,0), N(24,15)), open and show their stored value; before, the
// dataset refused their size and the exception ended the host.
TEST_F(DllMainCallTest, WideNumericFieldsAreShown) {
  WriteMovieFile({{"BIG", 'N', 30}}, {" " + std::string(30, '9')});
  HostRun run = CallLibrary(1);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "Application\n" + std::string(30, '9') + "\n");
  EXPECT_EQ(run.out, "returned 1, open 0\nunloaded\n");
  WriteMovieFile({{"LON", 'N', 24, 15}, {"NAME", 'C', 5}}, {"     -122.419415999999998Paris"});
  run = CallLibrary(1);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "Application\n-122.419415999999998\n");
}

// A first field without a name is the first field shown (under the name the
// table layer gives it), also when it is the only field.
TEST_F(DllMainCallTest, NamelessFirstFieldIsTheOneShown) {
  WriteMovieFile({{"", 'C', 10}, {"TITLE", 'C', 10}}, {" Metropolis Casablanca"});
  HostRun run = CallLibrary(1);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "Application\nMetropolis\n");
  WriteMovieFile({{"", 'N', 4}}, {" 1942"});
  run = CallLibrary(1);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "Application\n1942\n");
}

// Loading and unloading the library leaves nothing behind: the heap in use
// stays the same over many loads (and LeakSanitizer, in sanitized builds,
// finds no leak at the host's exit).
TEST_F(DllMainCallTest, LoadingAndUnloadingLeavesNothingBehind) {
  WriteMovies({"Casablanca"});
  const HostRun run = CallLibrary(1, 40);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::string growth = "heap growth ";
  const std::size_t at = run.out.find(growth);
  if (at == std::string::npos) GTEST_SKIP() << "the C library does not report its heap";
  EXPECT_EQ(run.out.substr(at), growth + "0\n");
}

// The console host prints the engine's Windows-character-set texts in
// UTF-8: a title with an accented letter stored in the OEM code page shows
// that letter.
TEST_F(DllMainCallTest, TextsReachTheConsoleInUtf8) {
  WriteMovies({"Zo\xEB in Paris"});
  const HostRun run = CallLibrary(1);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "Application\nZo\xC3\xAB in Paris\n");
  EXPECT_EQ(table_test::ReadAll((dir_ / "movie.dbf").string())[32 + 64 + 1 + 1 + 2], 0x89);  // OEM 437
}

// A table with a production index: the index is opened (not rebuilt), the
// first record shown is the first in index order, and nothing is left
// behind (no semaphore file, the index file unchanged).
TEST_F(DllMainCallTest, ProductionIndexGivesTheOrderAndIsKept) {
  WriteMovies({"Metropolis", "Zardoz", "Casablanca"});
  InitExpressionUnit();
  InitIndexUnit();
  Select(1);
  Use((dir_ / "movie.dbf").string() + " EXCLUSIVE", nullptr, 0);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  TagDefinition titles;
  titles.name = "TITLES";
  titles.key_expression = "UPPER(TITLE)";
  titles.descending = true;
  ASSERT_TRUE(MakeIndex({titles}));
  SetProductionFlag(true);
  Close();
  StopIndexUnit();
  const auto mdx = table_test::ReadAll((dir_ / "MOVIE.MDX").string());
  ASSERT_FALSE(mdx.empty());

  const HostRun run = CallLibrary(2);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "Application\nZardoz\nApplication\nZardoz\n");
  EXPECT_EQ(table_test::ReadAll((dir_ / "MOVIE.MDX").string()), mdx);
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir_)) files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"MOVIE.MDX", "host.err", "host.out", "movie.dbf"}));
}

}  // namespace
}  // namespace qd
