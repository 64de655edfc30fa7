// The console progress line: what it draws, when it redraws, and that it
// draws on standard error only when that is a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

#include "platform/progress_bar.h"

namespace qd::platform {
namespace {

TEST(ProgressBar, DrawsOnlyWhenThePercentageChangesAndClearsItsLine) {
  std::vector<std::string> drawn;
  {
    ProgressBar bar("Work", 200, [&](const std::string& text) { drawn.push_back(text); });
    for (int i = 1; i <= 200; ++i) bar.Update(static_cast<std::uint64_t>(i));
    bar.Update(1000);  // beyond the total: stays at 100 %
  }
  ASSERT_EQ(drawn.size(), 102u);  // 0 % to 100 %, then the clearing
  EXPECT_EQ(drawn[0], "\rWork [....................]   0%");
  EXPECT_EQ(drawn[50], "\rWork [##########..........]  50%");
  EXPECT_EQ(drawn[100], "\rWork [####################] 100%");
  EXPECT_EQ(drawn[101], "\r" + std::string(drawn[100].size() - 1, ' ') + "\r");
  std::vector<std::string> none;
  ProgressBar empty("Nothing", 0, [&](const std::string& text) { none.push_back(text); });
  EXPECT_EQ(none.size(), 1u);  // a total of 0 is 100 % at once
  ProgressBar silent("Silent", 10, nullptr);
  EXPECT_FALSE(silent.Shown());
}

TEST(ProgressBar, LinesFitTheWidthAndPlainTextsShowAlone) {
  const std::string cut = ProgressBar::Line(std::string(200, 'c'), "", 7, 60);
  EXPECT_EQ(cut.size(), 60u);
  EXPECT_EQ(cut.substr(cut.size() - 28), " [#...................]   7%");
  EXPECT_EQ(ProgressBar::Line("Note", "saved", -1), "Note saved");
  EXPECT_EQ(ProgressBar::Line("", std::string(100, 't'), -1).size(), 79u);
  EXPECT_EQ(ProgressBar::Line("Over", "", 250), "Over [####################] 100%");
}

TEST(ProgressBar, StatusLinesRedrawOnChangeOverLongerOnesAndDrawAgainAfterFinish) {
  std::vector<std::string> drawn;
  {
    ProgressBar line("", 0, [&](const std::string& text) { drawn.push_back(text); });
    line.Finish();  // the 100 % of an empty count, cleared
    drawn.clear();
    line.Show("Indexing people.MDX...", "", 10);
    line.Show("Indexing people.MDX...", "", 10);  // unchanged: not drawn again
    line.Show("Note", "saved", -1);
    line.Finish();
    line.Finish();  // nothing left to clear
    line.Show("Note", "again", -1);
  }
  const std::string first = ProgressBar::Line("Indexing people.MDX...", "", 10);
  ASSERT_EQ(drawn.size(), 5u);
  EXPECT_EQ(drawn[0], "\r" + first);
  // The shorter text blanks out what the longer line left.
  EXPECT_EQ(drawn[1], "\rNote saved" + std::string(first.size() - 10, ' '));
  // Clearing blanks the text (the padding is blank already).
  EXPECT_EQ(drawn[2], "\r          \r");
  EXPECT_EQ(drawn[3], "\rNote again");
  EXPECT_EQ(drawn[4], "\r          \r");
}

#ifndef _WIN32
// Standard error replaced by `fd` while `draw` runs.
template <typename Draw>
void WithStandardError(int fd, Draw draw) {
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  ASSERT_GE(saved, 0);
  dup2(fd, STDERR_FILENO);
  draw();
  dup2(saved, STDERR_FILENO);
  close(saved);
}

TEST(ProgressBar, DrawsNothingWhenStandardErrorIsNoTerminal) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  WithStandardError(fileno(file), [] {
    ProgressBar bar("Indexing", 10);
    EXPECT_FALSE(bar.Shown());
    bar.Update(5);
    ProgressBar status;
    status.Show("Note", "saved", -1);
  });
  std::fseek(file, 0, SEEK_END);
  EXPECT_EQ(std::ftell(file), 0L);
  std::fclose(file);
}

// On a terminal (a pseudo-terminal here) the line is redrawn in place with
// carriage returns and erased at the end.
TEST(ProgressBar, RedrawsInPlaceOnATerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal";
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  WithStandardError(slave, [] {
    ProgressBar bar("Indexing", 10);
    EXPECT_TRUE(bar.Shown());
    bar.Update(1);
    bar.Update(1);
  });
  close(slave);
  std::string seen;
  char buffer[512];
  pollfd ready{master, POLLIN, 0};
  while (poll(&ready, 1, 200) > 0) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  close(master);
  const std::string first = ProgressBar::Line("Indexing", "", 0);
  const std::string second = ProgressBar::Line("Indexing", "", 10);
  EXPECT_EQ(seen, "\r" + first + "\r" + second + "\r" + std::string(second.size(), ' ') + "\r");
}
#endif

}  // namespace
}  // namespace qd::platform
