// The errno to Windows code table, and the codes real failures produce.
#ifndef _WIN32
#include "platform/posix/errno_map.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform_test_support.h"

namespace qd::platform {
namespace {

using posix::WindowsCodeFromErrno;

TEST(ErrnoMapTest, MapsTheEngineRelevantErrors) {
  // A few that callers test for, and the fallback.
  const std::pair<int, std::uint32_t> cases[] = {
      {0, 0}, {ENOENT, 2}, {EMFILE, 4}, {EACCES, 5}, {EROFS, 5}, {ENOSPC, 112},
      {EPIPE, 31},  // nothing closer than "General failure"
  };
  for (const auto& [error_number, code] : cases) {
    EXPECT_EQ(WindowsCodeFromErrno(error_number), code) << "errno " << error_number;
  }
}

class RealFailureTest : public testing::ScratchDirTest {};

TEST_F(RealFailureTest, AccessDeniedAndTooManyOpenFiles) {
  WriteText("T.DBF", "x");
  if (::geteuid() != 0) {  // root is never denied
    std::filesystem::permissions(dir_ / "T.DBF", std::filesystem::perms::owner_read);
    FileHandle file = kNoFile;
    EXPECT_EQ(OpenFile(Path("T.DBF"), 0x42, file), 5u);
    EXPECT_EQ(OpenFile(Path("T.DBF"), 0x40, file), 0u);
    CloseFile(file);
  }
  // Exhaust the descriptor limit: the next open reports 4, and every handle
  // opened meanwhile still closes.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit reduced = saved;
  reduced.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &reduced), 0);
  std::vector<FileHandle> handles;
  std::uint32_t code = 0;
  for (int i = 0; i < 100 && code == 0; ++i) {
    FileHandle file = kNoFile;
    code = OpenFile(Path("T.DBF"), 0x40, file);
    if (code == 0) handles.push_back(file);
  }
  EXPECT_EQ(code, 4u);
  EXPECT_EQ(LastError(), 4u);
  for (FileHandle file : handles) EXPECT_EQ(CloseFile(file), 0u);
  ::setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
}  // namespace qd::platform
#endif
