// A memo value that does not fit on the disk: the write fails with the
// disk's code, the file ends where its header says (nothing of the value is
// left behind it) and the values already there are unchanged.
#ifndef _WIN32

#include <sys/mount.h>

#include <filesystem>

#include "memo_checker.h"
#include "memo_test_support.h"

namespace qd::memo_test {
namespace {

namespace fs = std::filesystem;

class MemoFullDiskTest : public MemoTest {};

TEST_F(MemoFullDiskTest, AValueThatDoesNotFitLeavesNothingBehindTheEndOfTheFile) {
  const fs::path mount = fs::path(Path("small"));
  fs::create_directories(mount);
  if (::mount("none", mount.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "a size-limited file system cannot be mounted here";
  struct Unmount {
    fs::path path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mount};
  for (const std::uint8_t version : {std::uint8_t{0x8B}, std::uint8_t{0x83}, std::uint8_t{0xF5}}) {
    SCOPED_TRACE(static_cast<int>(version));
    fs::remove(Path("small/filler"));
    MakeMemoTable("small/notes", version);
    Open("small/notes", false);
    const std::string kept = std::string(3000, 'k');
    AppendValue(kept);
    // Another file takes all but 40 KB; the next value needs 100 KB.
    const std::uintmax_t available = fs::space(mount).available;
    table_test::WriteAll(Path("small/filler"), Bytes(static_cast<std::size_t>(available - 40 * 1024), 0));
    const std::uintmax_t before = fs::file_size(MemoPath("small/notes", version));
    Go(1);
    ASSERT_TRUE(RLock());
    std::int32_t block = 0;
    EXPECT_FALSE(WriteMemoValue(0, std::string(100 * 1024, 'n'), block, "test"));
    EXPECT_EQ(ErrorCode, 101) << ErrorText;
    ErrorCode = 0;
    Unlock();
    EXPECT_EQ(fs::file_size(MemoPath("small/notes", version)), before);
    EXPECT_EQ(ValueOf(1), kept);
    // The next value that fits goes where the failed one would have.
    EXPECT_GT(AppendValue("small"), 0);
    Close();
    MemoFileChecker checker(FileBytes(Path("small/notes.DBF")), MemoBytes("small/notes", version), {version, 512, true});
    checker.CheckValues({kept, "small"});
    checker.CheckHeader();
    EXPECT_TRUE(checker.Failures().empty()) << checker.Failures().front();
  }
}

}  // namespace
}  // namespace qd::memo_test

#endif
