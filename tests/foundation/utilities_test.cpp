// Tests of the shared helpers: trimming, option words, number text in both
// directions, path splitting, and the file services on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "foundation/errors.h"
#include "foundation/number_settings.h"
#include "foundation/utilities.h"
#include "platform/platform.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

// Sets the decimal and thousands separators for one scope.
class Separators {
 public:
  Separators(char decimal, char thousands) {
    qd::DecimalChar = decimal;
    qd::ThousandsChar = thousands;
  }
  ~Separators() {
    qd::DecimalChar = '.';
    qd::ThousandsChar = ',';
  }
};

TEST(TextHelpers, TrimPadCountPosition) {
  EXPECT_EQ(qd::AllTrim("\t \t  "), "");
  EXPECT_EQ(qd::AllTrim("\t a b \r\n"), "a b");
  EXPECT_EQ(qd::TrimRight("  a \x01"), "  a");
  // Bytes above 127 are text, not blanks.
  EXPECT_EQ(qd::AllTrim("\xE9 "), "\xE9");
  EXPECT_EQ(qd::PadRight("ab", 5), "ab   ");
  EXPECT_EQ(qd::PadRight("abcdef", 3), "abcdef");
  EXPECT_EQ(qd::CountChar('a', "banana"), 3);
  EXPECT_EQ(qd::PosFrom(3, "an", "banana"), 4);
  EXPECT_EQ(qd::PosFrom(5, "an", "banana"), 0);
  EXPECT_EQ(qd::Iif(false, std::string("a"), std::string("b")), "b");
}

TEST(TextHelpers, ExtractOptionMatchesWholeWordsOnly) {
  std::string command = "movie exclusive ";
  EXPECT_TRUE(qd::ExtractOption(" EXCLUSIVE", command));
  EXPECT_EQ(command, "MOVIE");

  command = "EXCLUSIVE_1 NOUPDATE";
  EXPECT_FALSE(qd::ExtractOption(" EXCLUSIVE", command));
  command = "DATA EXCLUSIVE_1";
  EXPECT_FALSE(qd::ExtractOption(" EXCLUSIVE", command));
  EXPECT_EQ(command, "DATA EXCLUSIVE_1");

  // Every occurrence goes, including one right after a rejected one.
  command = "A EXCLUSIVEX EXCLUSIVE B EXCLUSIVE";
  EXPECT_TRUE(qd::ExtractOption(" exclusive", command));
  EXPECT_EQ(command, "A EXCLUSIVEX B");
}

TEST(NumberText, IntAndFloatToField) {
  EXPECT_EQ(qd::IntToField(42, 5), "   42");
  EXPECT_EQ(qd::IntToField(123456, 3), "123456");
  EXPECT_EQ(qd::IntToField(-2147483647 - 1, 1), "-2147483648");

  EXPECT_EQ(qd::FloatToField(8, 2, 3.14159), "    3.14");
  EXPECT_EQ(qd::FloatToField(3, 0, 12.7), " 13");
  EXPECT_EQ(qd::FloatToField(6, 2, -0.001), "  0.00");
  EXPECT_EQ(qd::FloatToField(7, 2, -12.345678), " -12.35");
  // Digits are never cut, however wide the number.
  const std::string huge = qd::FloatToField(10, 2, 1e40);
  EXPECT_EQ(huge.size(), 44u);
  EXPECT_EQ(huge.rfind("10000000000000000303786028427003666890752.00", 0), 0u);
  EXPECT_EQ(qd::FloatToField(5, 2, std::numeric_limits<double>::infinity()), "*****");
  EXPECT_EQ(qd::FloatToField(4, 1, std::numeric_limits<double>::quiet_NaN()), "****");

  Separators comma(',', '.');
  EXPECT_EQ(qd::FloatToField(8, 2, 3.14159), "    3,14");
}

TEST(NumberText, ParseNumberTextNormalises) {
  const auto parsed = [](std::string s) {
    qd::ParseNumberText(s);
    return s;
  };
  EXPECT_EQ(parsed("$ 1,234.50"), "1234.50");
  EXPECT_EQ(parsed("  +12"), "12");
  EXPECT_EQ(parsed("- .5"), "-0.5");
  EXPECT_EQ(parsed("12 34"), "12");

  Separators comma(',', '.');
  EXPECT_EQ(parsed("1.234,5"), "1234.5");
  EXPECT_EQ(parsed("-,5"), "-0.5");
}

TEST(NumberText, SmallIntAndBlockNumber) {
  EXPECT_EQ(qd::TextToSmallInt("$1,234 abc"), 1234);
  EXPECT_EQ(qd::TextToSmallInt("40000"), 32767);
  EXPECT_EQ(qd::TextToSmallInt("-40000"), -32768);
  EXPECT_EQ(qd::TextToSmallInt("   42"), 42);  // right-aligned field text
  EXPECT_EQ(qd::TextToSmallInt("12.7"), 12);
  EXPECT_EQ(qd::TextToSmallInt("12-3"), 0);

  EXPECT_EQ(qd::TextToBlockNumber("       123"), 123);
  EXPECT_EQ(qd::TextToBlockNumber("12.9"), 12);
  EXPECT_EQ(qd::TextToBlockNumber("12x"), 0);
  EXPECT_EQ(qd::TextToBlockNumber("99999999999"), 0);
  Separators comma(',', '.');
  EXPECT_EQ(qd::TextToBlockNumber("12,5"), 12);
}

TEST(PathHelpers, SplitAndDefaultExtension) {
  std::string dir, name, ext;
  qd::SplitPath("C:\\DATA\\MOVIE.DBF", dir, name, ext);
  EXPECT_EQ(dir, "C:\\DATA\\");
  EXPECT_EQ(name, "MOVIE");
  EXPECT_EQ(ext, ".DBF");
  qd::SplitPath("dir.d/sub/name.tar.gz", dir, name, ext);
  EXPECT_EQ(dir, "dir.d/sub/");
  EXPECT_EQ(name, "name.tar");
  EXPECT_EQ(ext, ".gz");
  qd::SplitPath("NAME", dir, name, ext);
  EXPECT_EQ(dir + "|" + name + "|" + ext, "|NAME|");

  EXPECT_EQ(qd::DefaultExtension("MOVIE  ", "DBF"), "MOVIE.DBF");
  EXPECT_EQ(qd::DefaultExtension("data.d/movie", "DBF"), "data.d/movie.DBF");
  EXPECT_EQ(qd::DefaultExtension("data\\movie.dat", "DBF"), "data\\movie.dat");
  EXPECT_EQ(qd::ShortPathName("C:"), "C:");
}

// File services on a fresh directory per test, errors recorded, not shown.
class FileHelpers : public ::testing::Test {
 protected:
  void SetUp() override {
    qd::InitErrorUnit();
    qd::SetImmediateDispatch(false);
  }
  void TearDown() override { qd::InitErrorUnit(); }
  std::string Make(const std::string& name) {
    std::ofstream((dir_ / name).string()) << "data";
    return (dir_ / name).string();
  }
  qd::test_support::ScratchDir scratch_{"qd_util"};
  const fs::path& dir_ = scratch_.dir();
};

TEST_F(FileHelpers, EraseFilesCarriesOnAndReportsOneSummary) {
  const std::string a1 = Make("A1.TMP"), a2 = Make("A2.TMP"), a3 = Make("A3.TMP");
  const std::string keep = Make("KEEP.DAT");
  qd::platform::FileHandle held = qd::platform::kNoFile;
  ASSERT_EQ(qd::platform::OpenFile(a2, qd::platform::kShareDenyAll, held), 0u);

  EXPECT_EQ(qd::EraseFile(a2), 32u);
  EXPECT_EQ(qd::ErrorCode, 0);  // EraseFile itself reports nothing

  const std::string pattern = (dir_ / "a?.tmp").string();
  qd::EraseFiles(pattern);
  EXPECT_EQ(qd::ErrorCode, 5);
  EXPECT_EQ(qd::ErrorText, "Could not erase 1 files like " + pattern);
  EXPECT_FALSE(fs::exists(a1));
  EXPECT_TRUE(fs::exists(a2));
  EXPECT_FALSE(fs::exists(a3));
  EXPECT_TRUE(fs::exists(keep));
  ASSERT_EQ(qd::UnerasedFiles().size(), 1u);
  EXPECT_EQ(fs::path(qd::UnerasedFiles()[0]).filename(), "A2.TMP");

  qd::platform::CloseFile(held);
  qd::ErrorCode = 0;
  qd::EraseFiles(pattern);
  EXPECT_EQ(qd::ErrorCode, 0);
  EXPECT_FALSE(fs::exists(a2));
  EXPECT_TRUE(qd::UnerasedFiles().empty());
}

TEST_F(FileHelpers, EraseSingleFileReportsItsCode) {
  const std::string missing = (dir_ / "NONE.DBF").string();
  EXPECT_EQ(qd::EraseFile(missing), 2u);
  EXPECT_EQ(qd::ErrorCode, 0);
  qd::EraseFiles(missing);
  EXPECT_EQ(qd::ErrorCode, 2);
  EXPECT_EQ(qd::ErrorText, "Error erasing " + missing);

  const std::string one = Make("ONE.DBF");
  qd::ErrorCode = 0;
  qd::EraseFiles(one);
  EXPECT_EQ(qd::ErrorCode, 0);
  EXPECT_FALSE(fs::exists(one));
}

TEST_F(FileHelpers, DirectorySearchAndLastResult) {
  Make("B1.DBF");
  Make("B2.DBF");
  fs::create_directory(dir_ / "B3.DBF");
  qd::SearchRec rec;
  std::set<std::string> found;
  for (qd::FindFirst((dir_ / "*.dbf").string(), qd::kFaArchive, rec); qd::LastFindResult == 0;
       qd::FindNext(rec)) {
    found.insert(rec.name);
  }
  qd::FindClose(rec);
  EXPECT_EQ(found, (std::set<std::string>{"B1.DBF", "B2.DBF"}));
  EXPECT_EQ(qd::LastFindResult, 18u);

  EXPECT_EQ(qd::FindFirst((dir_ / "*.dbf").string(), qd::kFaDirectory, rec), 0u);
  int entries = 1;
  while (qd::FindNext(rec) == 0) ++entries;
  EXPECT_EQ(entries, 3);

  EXPECT_EQ(qd::FindFirst((dir_ / "*.NDX").string(), qd::kFaArchive, rec), 2u);
  EXPECT_EQ(qd::LastFindResult, 2u);
  EXPECT_EQ(qd::FindFirst((dir_ / "nodir" / "*.DBF").string(), qd::kFaArchive, rec), 3u);
}

TEST_F(FileHelpers, TemporaryNamesDatesSpaceAndFlush) {
  const std::string first = qd::UniqueFilename();
  const std::string second = qd::UniqueFilename();
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_TRUE(qd::FileExists(first));
  EXPECT_EQ(fs::path(first).filename().string().rfind("QDP", 0), 0u);
  EXPECT_TRUE(qd::FileDatedToday(first));
  fs::remove(first);
  fs::remove(second);
  EXPECT_FALSE(qd::FileDatedToday(first));

  EXPECT_GT(qd::DiskFreeKB(""), 0);
  EXPECT_GT(qd::DiskFreeKBOnDrive(0), 0);
  EXPECT_EQ(qd::DiskFreeKB((dir_ / "no" / "such").string()), 2147483647);

  qd::platform::FileHandle file = qd::platform::kNoFile;
  ASSERT_EQ(qd::platform::OpenFile(Make("F.DAT"), qd::platform::kAccessReadWrite |
                                                      qd::platform::kShareDenyNone, file),
            0u);
  qd::FlushFile(file);
  EXPECT_EQ(qd::ErrorCode, 0);
  qd::platform::CloseFile(file);
  qd::FlushFile(qd::platform::kNoFile);
  EXPECT_NE(qd::ErrorCode, 0);
  EXPECT_EQ(qd::ErrorText, "Unable to flush file [FlushFile]");
}

}  // namespace
