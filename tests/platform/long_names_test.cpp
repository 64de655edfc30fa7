// Long names beside generated short (8.3) names: Windows file systems give
// "MOVIE.DBF_OLD" a short name such as "MOVI~1.DBF", which the system's own
// directory search matches against "*.DBF". Searches must go by the stored
// names only, and short path forms must still name the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform_test_support.h"

namespace qd::platform {
namespace {

class LongNamesTest : public testing::ScratchDirTest {
 protected:
  std::vector<std::string> Names(const std::string& pattern) {
    std::vector<DirEntry> entries;
    EXPECT_EQ(FindFiles(Path(pattern), entries), 0u) << pattern;
    std::vector<std::string> names;
    for (const DirEntry& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(LongNamesTest, SearchesMatchStoredNamesNotShortForms) {
  for (const char* name : {"A.DBF", "MOVIE.DBF_OLD", "LONGFILENAME.DBFX"}) {
    WriteText(name, "x");
  }
  EXPECT_EQ(Names("*.DBF"), (std::vector<std::string>{"A.DBF"}));
  EXPECT_EQ(Names("*.DBF*"),
            (std::vector<std::string>{"A.DBF", "LONGFILENAME.DBFX", "MOVIE.DBF_OLD"}));
  EXPECT_EQ(Names("movie.*"), (std::vector<std::string>{"MOVIE.DBF_OLD"}));
  EXPECT_TRUE(Names("LONG~*").empty());
}

TEST_F(LongNamesTest, ShortPathNamesTheSameFile) {
  WriteText("LONGFILENAME.DBFX", "12345");
  const std::string short_form = ShortPathName(Path("LONGFILENAME.DBFX"));
  FileHandle file = kNoFile;
  ASSERT_EQ(OpenFile(short_form, kAccessRead | kShareDenyNone, file), 0u) << short_form;
  std::uint64_t size = 0;
  EXPECT_EQ(FileSize(file, size), 0u);
  EXPECT_EQ(size, 5u);
  CloseFile(file);
  // A missing file has no short form: the path comes back as given.
  EXPECT_EQ(ShortPathName(Path("NONE/long name.dbf")), Path("NONE/long name.dbf"));
}

}  // namespace
}  // namespace qd::platform
