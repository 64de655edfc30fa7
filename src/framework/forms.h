// The form-library seam: the simple message dialog, the application object,
// the screen, and minimal forms and panels with text measurement. Everything
// visible goes through the platform host (qd::platform::CurrentHost()), so a
// console host or a recording test host stands in for a window system.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "framework/component.h"

namespace qd::fw {

// Shows the text with a single OK button; returns when it is acknowledged.
void ShowMessage(const std::string& text);

class TForm;

class TApplication {
 public:
  // Caption of message dialogs.
  std::string Title = "Application";
  // Processes all pending window messages and returns.
  void ProcessMessages();
  // Hands an exception to the application's handler: OnException when set,
  // else a stop box with the message (EAbort is silent).
  void HandleException(std::exception_ptr error);
  // Asks the host application to end when it next can.
  void Terminate();
  bool Terminated() const { return terminated_; }
  TForm* ActiveForm() const { return active_form_; }
  void SetActiveForm(TForm* form) { active_form_ = form; }

  std::function<void(std::exception_ptr)> OnException;

 private:
  bool terminated_ = false;
  TForm* active_form_ = nullptr;
};
TApplication& Application();

class TScreen {
 public:
  int Width() const;
  int Height() const;
  // Height of a dialog's caption bar in pixels: the host's, unless set.
  int CaptionHeight() const;
  void SetCaptionHeight(int height) { caption_height_ = height; }

 private:
  int caption_height_ = 0;  // 0: ask the host
};
TScreen& Screen();

struct TFont {
  std::string Name = "MS Sans Serif";
  int Size = 8;  // points
};

// Size of a text in a font, measured by the host.
void MeasureText(const std::string& text, const TFont& font, int& width, int& height);

// Colours are 0x00BBGGRR.
using TColor = std::uint32_t;
inline constexpr TColor clBtnFace = 0x00C0C0C0;

enum TBorderStyle { bsNone, bsSingle, bsDialog };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
enum TFormStyle { fsNormal, fsStayOnTop };
enum TBevelCut { bvNone, bvLowered, bvRaised };
enum TAlign { alNone, alClient };

class TControl : public TComponent {
 public:
  using TComponent::TComponent;
  int Left = 0, Top = 0, Width = 0, Height = 0;
  TColor Color = clBtnFace;
  TFont Font;
  bool Visible = false;
  std::string Caption;
  int TextWidth(const std::string& text) const;
  int TextHeight(const std::string& text) const;
};

class TPanel;

class TForm : public TControl {
 public:
  explicit TForm(TComponent* owner = nullptr);
  ~TForm() override;
  TBorderStyle BorderStyle = bsSingle;
  unsigned BorderIcons = biSystemMenu | biMinimize | biMaximize;
  TFormStyle FormStyle = fsNormal;
  // Client area: the window less its border and caption bar.
  int ClientWidth() const;
  int ClientHeight() const;
  // Progress shown by a status window (0 to 100), -1 for none. Hosts that
  // draw an always-on-top form as a status line show it as a bar.
  int Progress = -1;
  void Show();
  // Hides the form; a form the host painted as a status window is closed.
  void Hide();
  // Re-lays out the panels aligned to fill the form.
  void Realign();
  // Number of times the form was shown (for hosts and tests).
  int ShowCount() const { return show_count_; }

 private:
  friend class TPanel;
  // Hands an always-on-top form's text to the host's status window.
  void PaintStatus(const TPanel& panel);
  void CloseStatus();
  std::vector<TPanel*> panels_;
  int show_count_ = 0;
  bool status_shown_ = false;
};

class TPanel : public TControl {
 public:
  explicit TPanel(TComponent* owner);
  ~TPanel() override;
  TForm* Parent() const { return parent_; }
  void SetParent(TForm* form);
  int BevelWidth = 1;
  TBevelCut BevelInner = bvNone;
  TBevelCut BevelOuter = bvRaised;
  TBorderStyle BorderStyle = bsNone;
  TAlign Align = alNone;
  bool ParentFont = true;
  bool ParentColor = false;
  // Repaints the panel (counts repaints). On a visible always-on-top form
  // the host's status window shows the form's caption and this panel's.
  void Repaint();
  int RepaintCount() const { return repaint_count_; }

 private:
  friend class TForm;
  TForm* parent_ = nullptr;
  int repaint_count_ = 0;
};

}  // namespace qd::fw
