// The status line a console host draws for progress windows.
#include <gtest/gtest.h>

#include <cstdio>

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

}  // namespace
}  // namespace qd::platform
