// Share modes and byte-range locks between handles of one process and
// between two real processes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "platform_test_support.h"

namespace qd::platform {
namespace {

constexpr std::uint8_t kShared = 0x42;
constexpr std::uint8_t kExclusive = 0x12;
constexpr std::uint8_t kReadOnlyCompat = 0x00;
constexpr std::uint8_t kReadOnlyShared = 0x40;
constexpr std::uint64_t kLockBase = 1073741824;  // far beyond the end of the test files

class SharingTest : public testing::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    WriteText("TABLE.DBF", "tiny");
    table_ = Path("TABLE.DBF");
  }
  FileHandle Open(std::uint8_t mode) {
    FileHandle file = kNoFile;
    EXPECT_EQ(OpenFile(table_, mode, file), 0u);
    return file;
  }
  std::uint32_t TryOpen(std::uint8_t mode) {
    FileHandle file = kNoFile;
    const std::uint32_t code = OpenFile(table_, mode, file);
    if (code == 0) CloseFile(file);
    return code;
  }
  testing::ChildResult ChildOpen(std::uint8_t mode) {
    return testing::RunChild(dir_.generic_string(),
                             "open \"" + table_ + "\" " + std::to_string(mode));
  }
  testing::ChildResult ChildLock(std::uint8_t mode, std::uint64_t offset, std::uint64_t length,
                                 const char* command = "lock") {
    return testing::RunChild(dir_.generic_string(), std::string(command) + " \"" + table_ +
                                                        "\" " + std::to_string(mode) + " " +
                                                        std::to_string(offset) + " " +
                                                        std::to_string(length));
  }
  std::string table_;
};

TEST_F(SharingTest, ExclusiveAndSharedOpensExcludeEachOtherInOneProcess) {
  const FileHandle shared = Open(kShared);
  EXPECT_EQ(TryOpen(kShared), 0u);
  EXPECT_EQ(TryOpen(kReadOnlyShared), 0u);
  EXPECT_EQ(TryOpen(kExclusive), 32u);
  EXPECT_EQ(LastError(), 32u);
  EXPECT_EQ(TryOpen(kReadOnlyCompat), 32u);
  EXPECT_EQ(CloseFile(shared), 0u);

  const FileHandle exclusive = Open(kExclusive);
  EXPECT_EQ(TryOpen(kShared), 32u);
  EXPECT_EQ(TryOpen(kReadOnlyShared), 32u);
  EXPECT_EQ(TryOpen(kExclusive), 32u);
  EXPECT_EQ(CloseFile(exclusive), 0u);
  EXPECT_EQ(TryOpen(kExclusive), 0u);
}

TEST_F(SharingTest, ExclusiveAndSharedOpensExcludeEachOtherAcrossProcesses) {
  FileHandle file = Open(kShared);
  EXPECT_EQ(ChildOpen(kShared).open_code, 0u);
  EXPECT_EQ(ChildOpen(kReadOnlyShared).open_code, 0u);
  EXPECT_EQ(ChildOpen(kExclusive).open_code, 32u);
  EXPECT_EQ(ChildOpen(kReadOnlyCompat).open_code, 32u);
  CloseFile(file);

  file = Open(kExclusive);
  EXPECT_EQ(ChildOpen(kShared).open_code, 32u);
  EXPECT_EQ(ChildOpen(kReadOnlyShared).open_code, 32u);
  CloseFile(file);

  file = Open(kReadOnlyShared);
  EXPECT_EQ(ChildOpen(kExclusive).open_code, 32u);
  EXPECT_EQ(ChildOpen(kShared).open_code, 0u);
  CloseFile(file);
  EXPECT_EQ(ChildOpen(kExclusive).open_code, 0u);
}

TEST_F(SharingTest, ReplacingEraseAndRenameRespectOpenHandles) {
  const FileHandle exclusive = Open(kExclusive);
  // Creating over a file another handle holds fails without truncating it.
  FileHandle created = kNoFile;
  EXPECT_EQ(CreateNewFile(table_, kShared, created), 32u);
  EXPECT_EQ(created, kNoFile);
  std::uint64_t size = 0;
  EXPECT_EQ(FileSize(exclusive, size), 0u);
  EXPECT_EQ(size, 4u);
  // An open file can be neither erased nor renamed, as on Windows.
  EXPECT_EQ(EraseFile(table_), 32u);
  EXPECT_EQ(RenameFile(table_, Path("OTHER.DBF")), 32u);
  EXPECT_TRUE(FileExists(table_));
  CloseFile(exclusive);
  EXPECT_EQ(RenameFile(table_, Path("OTHER.DBF")), 0u);
  EXPECT_EQ(EraseFile(Path("OTHER.DBF")), 0u);
}

TEST_F(SharingTest, LocksConflictBetweenHandlesOfOneProcess) {
  const FileHandle first = Open(kShared);
  const FileHandle second = Open(kShared);
  const FileHandle third = Open(kShared);
  ASSERT_EQ(LockRange(first, kLockBase + 10, 1), 0u);
  EXPECT_EQ(LockRange(second, kLockBase + 10, 1), 33u);
  EXPECT_EQ(LastError(), 33u);
  EXPECT_EQ(LockRange(second, kLockBase + 5, 10), 33u);  // overlaps
  EXPECT_EQ(LockRange(second, kLockBase + 11, 1), 0u);   // adjacent is free
  // Closing some other handle of the file leaves the first handle's lock.
  EXPECT_EQ(CloseFile(third), 0u);
  EXPECT_EQ(LockRange(second, kLockBase + 10, 1), 33u);
  EXPECT_EQ(UnlockRange(first, kLockBase + 10, 1), 0u);
  EXPECT_EQ(LockRange(second, kLockBase + 10, 1), 0u);
  CloseFile(first);
  CloseFile(second);
}

TEST_F(SharingTest, OneHandleCannotStackOrPartlyReleaseItsLocks) {
  const FileHandle file = Open(kShared);
  const FileHandle other = Open(kShared);
  ASSERT_EQ(LockRange(file, kLockBase, 100), 0u);
  // Windows refuses a second lock over a range the same handle holds.
  EXPECT_EQ(LockRange(file, kLockBase + 50, 1), 33u);
  // Only an exact range unlocks; everything else is 158 and changes nothing.
  EXPECT_EQ(UnlockRange(file, kLockBase, 50), 158u);
  EXPECT_EQ(UnlockRange(file, kLockBase + 1, 100), 158u);
  EXPECT_EQ(UnlockRange(other, kLockBase, 100), 158u);
  EXPECT_EQ(LockRange(other, kLockBase + 99, 1), 33u);
  // Adjacent ranges of one handle stay separate locks.
  ASSERT_EQ(LockRange(file, kLockBase + 100, 10), 0u);
  EXPECT_EQ(UnlockRange(file, kLockBase, 100), 0u);
  EXPECT_EQ(LockRange(other, kLockBase + 99, 1), 0u);
  EXPECT_EQ(LockRange(other, kLockBase + 100, 1), 33u);
  EXPECT_EQ(UnlockRange(file, kLockBase, 100), 158u);  // already released
  // A zero-length lock conflicts with nothing but must still be released exactly.
  EXPECT_EQ(LockRange(file, kLockBase + 500, 0), 0u);
  EXPECT_EQ(LockRange(other, kLockBase + 500, 1), 0u);
  EXPECT_EQ(UnlockRange(file, kLockBase + 500, 0), 0u);
  CloseFile(file);
  CloseFile(other);
}

TEST_F(SharingTest, LocksConflictAcrossProcessesAndEndWithTheirOwner) {
  const FileHandle file = Open(kShared);
  ASSERT_EQ(LockRange(file, kLockBase + 1, 1), 0u);
  testing::ChildResult child = ChildLock(kShared, kLockBase + 1, 1);
  EXPECT_EQ(child.open_code, 0u);
  EXPECT_EQ(child.lock_code, 33u);
  EXPECT_EQ(ChildLock(kShared, kLockBase, 3).lock_code, 33u);
  EXPECT_EQ(ChildLock(kShared, kLockBase + 2, 1).lock_code, 0u);
  // A read-only handle of another process is refused as well.
  EXPECT_EQ(ChildLock(kReadOnlyShared, kLockBase + 1, 1).lock_code, 33u);
  EXPECT_EQ(UnlockRange(file, kLockBase + 1, 1), 0u);
  EXPECT_EQ(ChildLock(kShared, kLockBase + 1, 1).lock_code, 0u);

  // A process that ends while holding a lock leaves the range free.
  EXPECT_EQ(ChildLock(kShared, kLockBase + 7, 1, "lock-and-exit").lock_code, 0u);
  EXPECT_EQ(LockRange(file, kLockBase + 7, 1), 0u);
  CloseFile(file);
}

TEST_F(SharingTest, ReadOnlyHandlesLockLikeAnyOther) {
  const FileHandle reader = Open(kReadOnlyShared);
  const FileHandle other_reader = Open(kReadOnlyShared);
  const FileHandle writer = Open(kShared);
  ASSERT_EQ(LockRange(reader, kLockBase, 4), 0u);
  EXPECT_EQ(LockRange(writer, kLockBase + 3, 1), 33u);
  EXPECT_EQ(LockRange(other_reader, kLockBase + 3, 1), 33u);
  EXPECT_EQ(ChildLock(kShared, kLockBase, 1).lock_code, 33u);
  EXPECT_EQ(ChildLock(kReadOnlyShared, kLockBase, 1).lock_code, 33u);
  EXPECT_EQ(UnlockRange(reader, kLockBase, 4), 0u);
  EXPECT_EQ(LockRange(other_reader, kLockBase + 3, 1), 0u);
  EXPECT_EQ(LockRange(writer, kLockBase + 3, 1), 33u);
  // The reader's lock ends with its handle.
  EXPECT_EQ(CloseFile(other_reader), 0u);
  EXPECT_EQ(LockRange(writer, kLockBase + 3, 1), 0u);
  // Reading through the handle still works, and it cannot write.
  char bytes[4];
  std::size_t done = 0;
  EXPECT_EQ(ReadAt(reader, 0, bytes, 4, done), 0u);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(WriteAt(reader, 0, "x", 1, done), 5u);
  CloseFile(reader);
  CloseFile(writer);
}

#ifndef _WIN32
// A process that may only read the file still locks against writers (its
// locks are read locks then), and is refused write access.
TEST_F(SharingTest, ReadOnlyProcessesLockWithoutWriteAccess) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to start a child as another user";
  std::filesystem::permissions(dir_, std::filesystem::perms::all);
  std::filesystem::permissions(table_, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
  ::setenv("QD_CHILD_UNPRIVILEGED", "1", 1);
  const FileHandle writer = Open(kShared);
  EXPECT_EQ(ChildOpen(kShared).open_code, 5u);
  EXPECT_EQ(ChildLock(kReadOnlyShared, kLockBase, 1).lock_code, 0u);
  ASSERT_EQ(LockRange(writer, kLockBase, 1), 0u);
  const testing::ChildResult child = ChildLock(kReadOnlyShared, kLockBase, 1);
  EXPECT_EQ(child.open_code, 0u);
  EXPECT_EQ(child.lock_code, 33u);
  ::unsetenv("QD_CHILD_UNPRIVILEGED");
  CloseFile(writer);
}

// An exclusive open by a process that may only read the file is refused
// while another handle has it open, as any exclusive open is.
TEST_F(SharingTest, ReadOnlyProcessesOpenExclusivelyOnlyWhenNobodyElseHasTheFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to start a child as another user";
  constexpr std::uint8_t kReadOnlyExclusive = 0x10;
  std::filesystem::permissions(dir_, std::filesystem::perms::all);
  std::filesystem::permissions(table_, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
  ::setenv("QD_CHILD_UNPRIVILEGED", "1", 1);
  EXPECT_EQ(ChildOpen(kReadOnlyExclusive).open_code, 0u);
  const FileHandle writer = Open(kShared);
  EXPECT_EQ(ChildOpen(kReadOnlyExclusive).open_code, 32u);
  CloseFile(writer);
  const FileHandle reader = Open(kReadOnlyShared);
  EXPECT_EQ(ChildOpen(kReadOnlyExclusive).open_code, 32u);
  CloseFile(reader);
  EXPECT_EQ(ChildOpen(kReadOnlyExclusive).open_code, 0u);
  ::unsetenv("QD_CHILD_UNPRIVILEGED");
}
#endif

TEST_F(SharingTest, HandlesNotOpenAreRefused) {
  const FileHandle file = Open(kShared);
  ASSERT_EQ(CloseFile(file), 0u);
  EXPECT_EQ(CloseFile(file), 6u);
  EXPECT_EQ(LockRange(file, kLockBase, 1), 6u);
  EXPECT_EQ(UnlockRange(file, kLockBase, 1), 6u);
  EXPECT_EQ(CloseFile(kNoFile), 6u);
}

}  // namespace
}  // namespace qd::platform
