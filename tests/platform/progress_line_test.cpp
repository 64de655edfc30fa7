// The status line a console host draws for progress windows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

#include "platform/progress_line.h"

namespace qd::platform {
namespace {

TEST(ProgressLine, CaptionBarAndPercentageFitTheWidth) {
  const std::string half = ProgressLineText("Indexing A.MDX...", "|||", 50, 79);
  EXPECT_EQ(half.rfind("Indexing A.MDX... [", 0), 0u) << half;
  EXPECT_EQ(half.substr(half.size() - 5), "  50%");
  EXPECT_LE(half.size(), 79u);
  EXPECT_EQ(ProgressLineText("", "", 100, 79).find('.'), std::string::npos);
  EXPECT_EQ(ProgressLineText("", "", 0, 79).find('#'), std::string::npos);
  // A long caption is cut; the bar and the percentage stay.
  const std::string cut = ProgressLineText(std::string(200, 'c'), "", 7, 60);
  EXPECT_EQ(cut.size(), 60u);
  EXPECT_EQ(cut.substr(cut.size() - 5), "   7%");
  // Plain text windows show their caption and text.
  EXPECT_EQ(ProgressLineText("Note", "saved", -1, 79), "Note saved");
}

TEST(ProgressLine, DrawsNothingWhenNotATerminal) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    ProgressLine line(file);
    EXPECT_FALSE(line.Enabled());
    line.Draw("Indexing", "", 10);
    line.Finish();
  }
  EXPECT_EQ(std::ftell(file), 0L);
  std::fclose(file);
}

#ifndef _WIN32
// On a terminal (a pseudo-terminal here) the line is redrawn in place with
// carriage returns, unchanged texts are not drawn again, and finishing
// erases it.
TEST(ProgressLine, RedrawsInPlaceOnATerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal";
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  std::FILE* terminal = fdopen(slave, "w");
  ASSERT_NE(terminal, nullptr);
  {
    ProgressLine line(terminal);
    ASSERT_TRUE(line.Enabled());
    line.Draw("Indexing", "", 10);
    line.Draw("Indexing", "", 10);
    line.Draw("Indexing", "", 20);
  }
  std::fclose(terminal);
  std::string seen;
  char buffer[512];
  pollfd ready{master, POLLIN, 0};
  while (poll(&ready, 1, 200) > 0) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  close(master);
  const std::string first = ProgressLineText("Indexing", "", 10, 79);
  const std::string second = ProgressLineText("Indexing", "", 20, 79);
  EXPECT_EQ(seen, "\r" + first + "\r" + second + "\r" + std::string(second.size(), ' ') + "\r");
}
#endif

}  // namespace
}  // namespace qd::platform
