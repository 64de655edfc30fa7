// File services: positioned I/O, creation and replacement, case-insensitive
// names and both separators, directory search, rename and erase, temporary
// files and path forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform_test_support.h"

namespace qd::platform {
namespace {

// A path with '/' separators, whichever the platform returned.
std::string Slashes(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

class FilesTest : public testing::ScratchDirTest {
 protected:
  std::vector<std::string> Names(const std::string& pattern, std::uint32_t expected_code = 0) {
    std::vector<DirEntry> entries;
    EXPECT_EQ(FindFiles(pattern, entries), expected_code) << pattern;
    std::vector<std::string> names;
    for (const DirEntry& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }
  // True when the scratch directory keeps names that differ only by case apart.
  bool CaseSensitive() {
    WriteText("probe", "");
    const bool sensitive = !std::filesystem::exists(dir_ / "PROBE");
    std::filesystem::remove(dir_ / "probe");
    return sensitive;
  }
  std::string ReadAll(FileHandle file) {
    std::uint64_t size = 0;
    EXPECT_EQ(FileSize(file, size), 0u);
    std::string text(size, '\0');
    std::size_t done = 0;
    EXPECT_EQ(ReadAt(file, 0, text.data(), text.size(), done), 0u);
    text.resize(done);
    return text;
  }
};

TEST_F(FilesTest, PositionedIoSizeAndTruncate) {
  FileHandle file = kNoFile;
  ASSERT_EQ(CreateNewFile(Path("DATA.DBF"), 0x12, file), 0u);
  std::size_t done = 0;
  ASSERT_EQ(WriteAt(file, 4, "abc", 3, done), 0u);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(ReadAll(file), std::string("\0\0\0\0abc", 7));
  // A read past the end is short, not an error.
  char buffer[8] = {};
  EXPECT_EQ(ReadAt(file, 5, buffer, sizeof buffer, done), 0u);
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(std::string(buffer, 2), "bc");
  EXPECT_EQ(ReadAt(file, 100, buffer, sizeof buffer, done), 0u);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(Truncate(file, 5), 0u);
  EXPECT_EQ(ReadAll(file), std::string("\0\0\0\0a", 5));
  EXPECT_EQ(Truncate(file, 9), 0u);
  EXPECT_EQ(ReadAll(file), std::string("\0\0\0\0a\0\0\0\0", 9));
  EXPECT_EQ(FlushFile(file), 0u);
  EXPECT_EQ(CloseFile(file), 0u);

  // Creating again replaces the contents.
  ASSERT_EQ(CreateNewFile(Path("DATA.DBF"), 0x42, file), 0u);
  EXPECT_EQ(ReadAll(file), "");
  CloseFile(file);
}

TEST_F(FilesTest, FailuresGiveWindowsCodes) {
  FileHandle file = kNoFile;
  EXPECT_EQ(OpenFile(Path("MISSING.DBF"), 0x42, file), 2u);
  EXPECT_EQ(file, kNoFile);
  EXPECT_EQ(LastError(), 2u);
  EXPECT_EQ(OpenFile(Path("NODIR/T.DBF"), 0x42, file), 3u);
  EXPECT_EQ(CreateNewFile(Path("NODIR/T.DBF"), 0x42, file), 3u);
  EXPECT_EQ(LastError(), 3u);
  // A file used as a directory on the way.
  WriteText("PLAIN", "x");
  EXPECT_EQ(OpenFile(Path("PLAIN/T.DBF"), 0x42, file), 3u);
  // Directories are not files.
  std::filesystem::create_directory(dir_ / "SUB");
  EXPECT_EQ(OpenFile(Path("SUB"), 0x40, file), 5u);
  EXPECT_EQ(OpenFile(Path("SUB"), 0x42, file), 5u);
  EXPECT_EQ(CreateNewFile(Path("SUB"), 0x42, file), 5u);
  EXPECT_EQ(EraseFile(Path("SUB")), 5u);
  EXPECT_EQ(EraseFile(Path("MISSING.DBF")), 2u);
  EXPECT_FALSE(FileExists(Path("SUB")));
  EXPECT_TRUE(DirectoryExists(Path("sub")));
  EXPECT_FALSE(DirectoryExists(Path("PLAIN")));
}

TEST_F(FilesTest, NamesMatchIgnoringCaseAndEitherSeparator) {
  std::filesystem::create_directory(dir_ / "data");
  WriteText("data/movie.dbf", "movie");
  for (const char* name : {"data/movie.dbf", "DATA/MOVIE.DBF", "Data\\Movie.Dbf", "dAtA//MoViE.dBf"}) {
    FileHandle file = kNoFile;
    ASSERT_EQ(OpenFile(Path(name), 0x42, file), 0u) << name;
    EXPECT_EQ(ReadAll(file), "movie");
    CloseFile(file);
    EXPECT_TRUE(FileExists(Path(name)));
  }
#ifndef _WIN32
  EXPECT_EQ(ResolvePath(Path("DATA\\MOVIE.DBF")), Path("data/movie.dbf"));
#endif
  EXPECT_EQ(Slashes(ResolvePath(Path("DATA/NONE.DBF"))), Path("DATA/NONE.DBF"));
  int year = 0, month = 0, day = 0;
  EXPECT_EQ(FileDate(Path("DATA/MOVIE.DBF"), year, month, day), 0u);
  EXPECT_GT(year, 2000);

  // Replacing through another spelling rewrites the existing file rather
  // than adding a second one; a new file keeps the name as given.
  FileHandle file = kNoFile;
  ASSERT_EQ(CreateNewFile(Path("DATA/MOVIE.DBF"), 0x12, file), 0u);
  CloseFile(file);
  ASSERT_EQ(CreateNewFile(Path("DATA/New.Mdx"), 0x12, file), 0u);
  CloseFile(file);
  EXPECT_EQ(Names(Path("data/*")), (std::vector<std::string>{"New.Mdx", "movie.dbf"}));
  EXPECT_EQ(std::filesystem::file_size(dir_ / "data/movie.dbf"), 0u);
}

TEST_F(FilesTest, TrailingDotsAndBlanksAreDroppedAsOnWindows) {
  // "NAME." is how dBASE names a file without extension.
  WriteText("README", "text");
  FileHandle file = kNoFile;
  ASSERT_EQ(OpenFile(Path("readme."), 0x40, file), 0u);
  EXPECT_EQ(ReadAll(file), "text");
  CloseFile(file);
  EXPECT_TRUE(FileExists(Path("README  ")));
  ASSERT_EQ(CreateNewFile(Path("NOEXT. "), 0x12, file), 0u);
  CloseFile(file);
  EXPECT_EQ(Names(Path("N*")), (std::vector<std::string>{"NOEXT"}));
  EXPECT_EQ(Slashes(FullPathName(Path("x/y.dbf. "))), Path("x/y.dbf"));
}

TEST_F(FilesTest, NamesDifferingOnlyByCaseAreNeverGuessed) {
  if (!CaseSensitive()) GTEST_SKIP() << "file system ignores case";
  WriteText("t.dbf", "lower");
  WriteText("T.DBF", "upper");
  FileHandle file = kNoFile;
  ASSERT_EQ(OpenFile(Path("T.DBF"), 0x42, file), 0u);  // the exact match wins
  EXPECT_EQ(ReadAll(file), "upper");
  CloseFile(file);
  EXPECT_EQ(OpenFile(Path("T.dbf"), 0x42, file), 2u);
  EXPECT_FALSE(FileExists(Path("t.Dbf")));
  EXPECT_EQ(EraseFile(Path("t.Dbf")), 2u);
  EXPECT_EQ(CreateNewFile(Path("t.Dbf"), 0x12, file), 5u);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "t.dbf"), 5u);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "T.DBF"), 5u);
}

TEST_F(FilesTest, FindFilesMatchesWildcardsIgnoringCase) {
  for (const char* name : {"A1.DBF", "b2.dbf", "C3.MDX", "notes.txt", "noext"}) WriteText(name, "12345");
  std::filesystem::create_directory(dir_ / "SUBDIR");
  EXPECT_EQ(Names(Path("*.dbf")), (std::vector<std::string>{"A1.DBF", "b2.dbf"}));
  EXPECT_EQ(Names(Path("?2.*")), (std::vector<std::string>{"b2.dbf"}));
  EXPECT_EQ(Names(Path("*.*")).size(), 6u);  // includes names without a dot
  EXPECT_EQ(Names(Path("N*")), (std::vector<std::string>{"noext", "notes.txt"}));
  EXPECT_EQ(Names(Path("*T")), (std::vector<std::string>{"noext", "notes.txt"}));
  EXPECT_EQ(Names(Path("c3.mdx")), (std::vector<std::string>{"C3.MDX"}));
  EXPECT_TRUE(Names(Path("*.ndx")).empty());
  EXPECT_TRUE(Names(Path("MISSING/*.*"), 3).empty());

  std::vector<DirEntry> entries;
  ASSERT_EQ(FindFiles(Path("sub*"), entries), 0u);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].is_directory);
  ASSERT_EQ(FindFiles(Path("a1.dbf"), entries), 0u);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_FALSE(entries[0].is_directory);
  EXPECT_EQ(entries[0].size, 5u);
  int year = 0, month = 0, day = 0;
  ASSERT_EQ(FileDate(Path("A1.DBF"), year, month, day), 0u);
  EXPECT_EQ(entries[0].year * 10000 + entries[0].month * 100 + entries[0].day,
            year * 10000 + month * 100 + day);
}

TEST_F(FilesTest, RenameRefusesExistingTargetsButAllowsCaseChanges) {
  WriteText("OLD.DBF", "old");
  WriteText("TAKEN.DBF", "taken");
  EXPECT_EQ(RenameFile(Path("old.dbf"), Path("taken.dbf")), 183u);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "TAKEN.DBF"), 5u);
  EXPECT_EQ(RenameFile(Path("OLD.DBF"), Path("NODIR/X.DBF")), 3u);
  EXPECT_EQ(RenameFile(Path("NONE.DBF"), Path("X.DBF")), 2u);
  ASSERT_EQ(RenameFile(Path("old.dbf"), Path("Old.Dbf")), 0u);
  EXPECT_EQ(Names(Path("o*")), (std::vector<std::string>{"Old.Dbf"}));
  ASSERT_EQ(RenameFile(Path("OLD.DBF"), Path("NEW.DBF")), 0u);
  EXPECT_FALSE(FileExists(Path("Old.Dbf")));
  EXPECT_TRUE(FileExists(Path("NEW.DBF")));
  EXPECT_EQ(EraseFile(Path("new.dbf")), 0u);
  EXPECT_FALSE(FileExists(Path("NEW.DBF")));
}

TEST_F(FilesTest, UniqueTemporaryFilesAreCreatedEmpty) {
  std::string temp;
  ASSERT_EQ(TempDirectory(temp), 0u);
  ASSERT_FALSE(temp.empty());
  EXPECT_TRUE(temp.back() == '/' || temp.back() == '\\');
  EXPECT_TRUE(DirectoryExists(temp));

  std::string first, second;
  ASSERT_EQ(UniqueTempFile(dir_.generic_string(), "QDPX", first), 0u);
  ASSERT_EQ(UniqueTempFile(dir_.generic_string() + "/", "QDP", second), 0u);
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second}) {
    const std::string name = std::filesystem::path(path).filename().string();
    EXPECT_EQ(name.substr(0, 3), "QDP") << name;
    EXPECT_EQ(name.find('X'), std::string::npos) << name;
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
  }
  EXPECT_EQ(UniqueTempFile(Path("MISSING"), "QDP", first), 3u);
  EXPECT_TRUE(first.empty());
}

TEST_F(FilesTest, PathForms) {
  EXPECT_EQ(Slashes(FullPathName(Path("a/./b/../c.dbf"))), Path("a/c.dbf"));
  EXPECT_EQ(Slashes(FullPathName(Path("a\\b.dbf"))), Path("a/b.dbf"));
  std::uint64_t free_bytes = 0;
  EXPECT_EQ(DiskFreeBytes(dir_.generic_string(), free_bytes), 0u);
  EXPECT_GT(free_bytes, 0u);
  EXPECT_EQ(DiskFreeBytes("", free_bytes), 0u);
  EXPECT_EQ(DiskFreeBytes(Path("MISSING/"), free_bytes), 3u);
#ifndef _WIN32
  EXPECT_EQ(ShortPathName(Path("some/long name.dbf")), Path("some/long name.dbf"));
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  const std::string here = std::filesystem::current_path().generic_string();
  EXPECT_EQ(FullPathName("x.dbf"), here + "/x.dbf");
  EXPECT_EQ(FullPathName("..\\y.dbf"), std::filesystem::path(here).parent_path().generic_string() + "/y.dbf");
  // A removed current directory leaves relative names relative instead of
  // placing them under the root.
  std::filesystem::create_directory(dir_ / "GONE");
  std::filesystem::current_path(dir_ / "GONE");
  std::filesystem::remove(dir_ / "GONE");
  EXPECT_EQ(FullPathName("x.dbf"), "x.dbf");
  std::filesystem::current_path(saved);
#endif
}

}  // namespace
}  // namespace qd::platform
