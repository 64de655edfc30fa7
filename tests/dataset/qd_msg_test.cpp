// The message and progress windows over the recording host, which measures
// 7 by 13 pixels a character and a screen of 800 by 600.
#include <gtest/gtest.h>

#include <string>

#include "dataset/qd_msg.h"
#include "support/recording_host.h"

namespace qd {
namespace {

using fw::testing::ScopedHost;

TEST(QdMsg, GrowsOnlyAndCentresOverTheScreenOrTheActiveForm) {
  ScopedHost scope;
  {
    TQdMsg msg;
    EXPECT_EQ(msg.FormStyle, fw::fsStayOnTop);
    EXPECT_EQ(msg.Color, 65535u);
    EXPECT_FALSE(msg.Visible);
    EXPECT_EQ(msg.Width, 0);

    msg.ShowText("four");  // 28 by 13, plus the margin each way
    EXPECT_TRUE(msg.Visible);
    EXPECT_EQ(msg.BorderStyle, fw::bsNone);
    EXPECT_TRUE(msg.OuterPanel().Visible);
    EXPECT_EQ(msg.Width, 58);
    EXPECT_EQ(msg.Height, 43);
    EXPECT_EQ(msg.Left, (800 - 58) / 2);
    EXPECT_EQ(msg.Top, (600 - 43) / 2);
    EXPECT_EQ(msg.TextPanel().Caption, "four");
    EXPECT_EQ(msg.TextPanel().Width, 58);

    msg.ShowText("a longer text");  // 91 wide
    EXPECT_EQ(msg.Width, 121);
    msg.ShowText("x");
    EXPECT_EQ(msg.Width, 121);  // never smaller
    EXPECT_EQ(msg.Height, 43);
    EXPECT_EQ(msg.TextPanel().Caption, "x");
    EXPECT_EQ(msg.ShowCount(), 2);
    // Each text reached the host's status window and the message pump.
    ASSERT_EQ(scope.host.status_paints.size(), 3u);
    EXPECT_EQ(scope.host.status_paints[2].image.text, "x");
    EXPECT_EQ(scope.host.status_paints[2].image.percent, -1);
    EXPECT_EQ(scope.host.pumps, 3);
  }
  EXPECT_EQ(scope.host.status_closes.size(), 1u);

  // Over the active form, rounding towards zero.
  fw::TForm owner;
  owner.Left = 100;
  owner.Top = 50;
  owner.Width = 41;
  owner.Height = 20;
  fw::Application().SetActiveForm(&owner);
  TQdMsg msg;
  fw::Application().SetActiveForm(nullptr);
  msg.ShowText("four");
  EXPECT_EQ(msg.Left, 100 + (41 - 58) / 2);
  EXPECT_EQ(msg.Top, 50 + (20 - 43) / 2);
}

TEST(QdProgress100, BarShrinksPerStepAndRefillsAfterAHundred) {
  ScopedHost scope;
  const std::string caption = "Indexing C:\\DATA\\PEOPLE.MDX...";
  TQdProgress100 progress(nullptr, caption);
  EXPECT_EQ(progress.Bar(), std::string(100, '|'));
  EXPECT_EQ(progress.Text(), progress.Bar());
  // A caption gives the dialog border, the caption bar's height and a
  // window at least as wide as the caption in the "System" font.
  EXPECT_EQ(progress.BorderStyle, fw::bsDialog);
  EXPECT_FALSE(progress.OuterPanel().Visible);
  EXPECT_GE(progress.Width, 7 * static_cast<int>(caption.size()));
  EXPECT_EQ(progress.Height, 13 + 30 + fw::Screen().CaptionHeight());
  EXPECT_NE(std::find(scope.host.measured_fonts.begin(), scope.host.measured_fonts.end(), "System"),
            scope.host.measured_fonts.end());
  EXPECT_EQ(progress.Font.Name, "MS Sans Serif");
  const int width = progress.Width;

  for (int i = 1; i <= 100; ++i) {
    progress.Step();
    ASSERT_EQ(progress.Bar().size(), 100u - static_cast<unsigned>(i));
  }
  EXPECT_EQ(progress.Bar(), "");
  EXPECT_EQ(scope.host.status_paints.back().image.percent, 100);
  EXPECT_EQ(scope.host.status_paints.back().image.caption, caption);
  progress.Step();
  EXPECT_EQ(progress.Bar(), std::string(100, '|'));
  EXPECT_EQ(progress.Width, width);
  EXPECT_EQ(progress.ShowCount(), 1);

  TQdProgress100 plain;
  EXPECT_EQ(plain.Caption, "Progress");
}

}  // namespace
}  // namespace qd
