// The form-library seam over the platform host: message dialog, application
// object, screen, forms and panels.
#include "framework/forms.h"

#include <algorithm>

#include "foundation/exception.h"
#include "framework/sysutils.h"
#include "platform/platform.h"

namespace qd::fw {

void ShowMessage(const std::string& text) {
  qd::platform::CurrentHost().ShowMessageBox(text, Application().Title, qd::platform::kMbOk);
}

// ---------------------------------------------------------- application ---

TApplication& Application() {
  static TApplication application;
  return application;
}

void TApplication::ProcessMessages() { qd::platform::CurrentHost().ProcessMessages(); }

void TApplication::HandleException(std::exception_ptr error) {
  if (!error) return;
  if (OnException) {
    OnException(error);
    return;
  }
  std::string message;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;  // the silent exception
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown exception";
  }
  qd::platform::CurrentHost().ShowMessageBox(message, Title,
                                             qd::platform::kMbOk | qd::platform::kMbIconStop);
}

void TApplication::Terminate() {
  terminated_ = true;
  qd::platform::CurrentHost().RequestTerminate();
}

// ---------------------------------------------------------------- screen ---

TScreen& Screen() {
  static TScreen screen;
  return screen;
}

int TScreen::Width() const { return qd::platform::CurrentHost().ScreenWidth(); }
int TScreen::Height() const { return qd::platform::CurrentHost().ScreenHeight(); }
int TScreen::CaptionHeight() const {
  return caption_height_ > 0 ? caption_height_ : qd::platform::CurrentHost().CaptionHeight();
}

void MeasureText(const std::string& text, const TFont& font, int& width, int& height) {
  width = 0;
  height = 0;
  qd::platform::CurrentHost().MeasureText(text, font.Name, font.Size, width, height);
}

int TControl::TextWidth(const std::string& text) const {
  int width = 0, height = 0;
  MeasureText(text, Font, width, height);
  return width;
}

int TControl::TextHeight(const std::string& text) const {
  int width = 0, height = 0;
  MeasureText(text, Font, width, height);
  return height;
}

// ------------------------------------------------------- forms and panels ---

namespace {
// Frame width of a bordered window, each side.
constexpr int kFrame = 3;
}  // namespace

TForm::TForm(TComponent* owner) : TControl(owner) {}

TForm::~TForm() {
  CloseStatus();
  for (TPanel* panel : panels_) panel->parent_ = nullptr;
  panels_.clear();
  if (Application().ActiveForm() == this) Application().SetActiveForm(nullptr);
}

int TForm::ClientWidth() const {
  return BorderStyle == bsNone ? Width : std::max(0, Width - 2 * kFrame);
}

int TForm::ClientHeight() const {
  if (BorderStyle == bsNone) return Height;
  return std::max(0, Height - 2 * kFrame - Screen().CaptionHeight());
}

void TForm::Realign() {
  for (TPanel* panel : panels_) {
    if (panel->Align != alClient) continue;
    panel->Left = 0;
    panel->Top = 0;
    panel->Width = ClientWidth();
    panel->Height = ClientHeight();
  }
}

void TForm::Show() {
  Visible = true;
  ++show_count_;
  Realign();
}

void TForm::Hide() {
  Visible = false;
  CloseStatus();
}

void TForm::PaintStatus(const TPanel& panel) {
  qd::platform::Host::StatusWindow image;
  image.caption = Caption;
  image.text = panel.Caption;
  image.percent = Progress;
  image.left = Left;
  image.top = Top;
  image.width = Width;
  image.height = Height;
  status_shown_ = true;
  qd::platform::CurrentHost().PaintStatusWindow(this, image);
}

void TForm::CloseStatus() {
  if (!status_shown_) return;
  status_shown_ = false;
  qd::platform::CurrentHost().CloseStatusWindow(this);
}

TPanel::TPanel(TComponent* owner) : TControl(owner) { Visible = true; }

TPanel::~TPanel() { SetParent(nullptr); }

void TPanel::SetParent(TForm* form) {
  if (parent_ == form) return;
  if (parent_ != nullptr) {
    auto& panels = parent_->panels_;
    panels.erase(std::remove(panels.begin(), panels.end(), this), panels.end());
  }
  parent_ = form;
  if (parent_ != nullptr) {
    parent_->panels_.push_back(this);
    if (ParentFont) Font = parent_->Font;
    if (ParentColor) Color = parent_->Color;
    parent_->Realign();
  }
}

void TPanel::Repaint() {
  ++repaint_count_;
  if (parent_ != nullptr && parent_->Visible && parent_->FormStyle == fsStayOnTop)
    parent_->PaintStatus(*this);
}

}  // namespace qd::fw
