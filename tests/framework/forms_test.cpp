// The form-library seam over a recording host.
#include <gtest/gtest.h>

#include "framework/forms.h"
#include "framework/sysutils.h"
#include "support/recording_host.h"

namespace qd::fw {
namespace {

TEST(FormsSeam, MessagesExceptionsAndTermination) {
  testing::ScopedHost scope;
  auto& host = scope.host;
  Application().Title = "Demo";
  ShowMessage("Hello");
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Hello");
  EXPECT_EQ(host.boxes[0].caption, "Demo");

  Application().HandleException(std::make_exception_ptr(Exception("Dataset error: 1403")));
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[1].text, "Dataset error: 1403");
  EXPECT_EQ(host.boxes[1].style & qd::platform::kMbIconStop, qd::platform::kMbIconStop);
  Application().HandleException(std::make_exception_ptr(EAbort()));
  EXPECT_EQ(host.boxes.size(), 2u);  // the silent exception shows nothing
  std::exception_ptr handled;
  Application().OnException = [&](std::exception_ptr e) { handled = e; };
  Application().HandleException(std::make_exception_ptr(Exception("x")));
  EXPECT_TRUE(handled);
  Application().OnException = nullptr;

  Application().ProcessMessages();
  EXPECT_EQ(host.pumps, 1);
  Application().Terminate();
  EXPECT_TRUE(Application().Terminated());
  EXPECT_EQ(host.terminate_requests, 1);
  EXPECT_EQ(Screen().Width(), 800);
  EXPECT_EQ(Screen().Height(), 600);
}

TEST(FormsSeam, FormsPanelsAndTextMeasurement) {
  testing::ScopedHost scope;
  {
    TForm form;
    form.Font.Name = "Arial";
    auto* panel = new TPanel(&form);
    panel->Align = alClient;
    panel->SetParent(&form);
    EXPECT_EQ(panel->Font.Name, "Arial");  // the parent's font
    EXPECT_EQ(form.TextWidth("abcd"), 28);
    EXPECT_EQ(form.TextHeight("abcd"), 13);
    EXPECT_EQ(scope.host.measured_fonts.back(), "Arial");

    form.BorderStyle = bsNone;
    form.Width = 200;
    form.Height = 50;
    form.Show();
    EXPECT_EQ(panel->Width, 200);
    EXPECT_EQ(panel->Height, 50);
    form.BorderStyle = bsDialog;
    form.Realign();
    EXPECT_LT(panel->Height, 50 - Screen().CaptionHeight() + 1);
    Application().SetActiveForm(&form);
    panel->Repaint();
    EXPECT_EQ(panel->RepaintCount(), 1);
  }
  // A destroyed form is no longer the active form.
  EXPECT_EQ(Application().ActiveForm(), nullptr);
}

}  // namespace
}  // namespace qd::fw
