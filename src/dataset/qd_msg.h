// Message and progress windows: TQdMsg, a small borderless always-on-top
// window of one line of text, and TQdProgress100, which shows a bar of 100
// characters that loses one character per step. The file dataset shows a
// progress window while it builds an index. Both are forms of the
// form-library seam; the host decides how they look (a window on Windows, a
// status line on a console's standard error).
#pragma once

#include <memory>
#include <string>

#include "framework/forms.h"

namespace qd {

// Blank pixels around the text, each way.
inline constexpr int kQdMsgMargin = 30;

class TQdMsg : public fw::TForm {
 public:
  explicit TQdMsg(fw::TComponent* owner = nullptr);
  ~TQdMsg() override;

  // Sizes, places, shows and paints the window with the message text; a
  // given text replaces the message first. The window only ever grows.
  void ShowText();
  void ShowText(const std::string& text);

  const std::string& Text() const { return text_; }
  fw::TPanel& OuterPanel() { return *outer_panel_; }
  fw::TPanel& TextPanel() { return *text_panel_; }

 private:
  std::unique_ptr<fw::TPanel> outer_panel_;
  std::unique_ptr<fw::TPanel> text_panel_;
  std::string text_;
  fw::TForm* centre_over_ = nullptr;
};

class TQdProgress100 : public TQdMsg {
 public:
  static constexpr int kBarLength = 100;
  static constexpr char kBarCharacter = '|';

  explicit TQdProgress100(fw::TComponent* owner = nullptr);
  TQdProgress100(fw::TComponent* owner, const std::string& caption);

  // One step: the bar loses its first character; an empty bar is refilled.
  void Step();
  const std::string& Bar() const { return bar_; }

 private:
  void ShowBar();
  std::string bar_;
};

}  // namespace qd
