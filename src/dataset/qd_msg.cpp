// The message and progress windows.
#include "dataset/qd_msg.h"

#include <algorithm>

namespace qd {

namespace {
constexpr fw::TColor kYellow = 65535;  // 0x00BBGGRR
constexpr int kOuterBevel = 2;
// Dialog captions are measured in this font.
const char* const kCaptionFont = "System";
}  // namespace

TQdMsg::TQdMsg(fw::TComponent* owner)
    : fw::TForm(owner),
      outer_panel_(std::make_unique<fw::TPanel>(nullptr)),
      text_panel_(std::make_unique<fw::TPanel>(nullptr)) {
  outer_panel_->Align = fw::alClient;
  outer_panel_->BevelWidth = kOuterBevel;
  outer_panel_->SetParent(this);
  text_panel_->ParentFont = true;
  text_panel_->ParentColor = true;
  text_panel_->BorderStyle = fw::bsSingle;
  text_panel_->BevelInner = fw::bvNone;
  text_panel_->Visible = true;
  text_panel_->SetParent(this);

  BorderStyle = fw::bsNone;
  BorderIcons = 0;
  FormStyle = fw::fsStayOnTop;
  Visible = false;
  Width = 0;
  Height = 0;
  Color = kYellow;
  text_panel_->Color = Color;
  centre_over_ = fw::Application().ActiveForm();
}

// The panels go first (members are destroyed before the form itself).
TQdMsg::~TQdMsg() = default;

void TQdMsg::ShowText(const std::string& text) {
  text_ = text;
  ShowText();
}

void TQdMsg::ShowText() {
  int text_width = 0, text_height = 0;
  fw::MeasureText(text_, Font, text_width, text_height);
  text_width += kQdMsgMargin;
  text_height += kQdMsgMargin;

  const fw::TBorderStyle border = Caption.empty() ? fw::bsNone : fw::bsDialog;
  const bool border_changed = border != BorderStyle;
  BorderStyle = border;

  int caption_height = 0;
  int caption_width = 0;
  if (border == fw::bsNone) {
    outer_panel_->Visible = true;
  } else {
    caption_height = fw::Screen().CaptionHeight();
    fw::TFont caption_font = Font;
    caption_font.Name = kCaptionFont;
    int unused = 0;
    fw::MeasureText(Caption, caption_font, caption_width, unused);
    outer_panel_->Visible = false;
  }

  const int needed_width = std::max(text_width, caption_width);
  const int needed_height = text_height + caption_height;
  if (Width < needed_width || Height < needed_height || border_changed) {
    // Never smaller: a shorter text keeps the size the window has.
    Width = std::max(Width, needed_width);
    Height = std::max(Height, needed_height);
    if (centre_over_ != nullptr) {
      Left = centre_over_->Left + (centre_over_->Width - Width) / 2;
      Top = centre_over_->Top + (centre_over_->Height - Height) / 2;
    } else {
      Left = (fw::Screen().Width() - Width) / 2;
      Top = (fw::Screen().Height() - Height) / 2;
    }
    text_panel_->Align = fw::alClient;
    Show();
  }

  text_panel_->Caption = text_;
  text_panel_->Repaint();
  fw::Application().ProcessMessages();
}

TQdProgress100::TQdProgress100(fw::TComponent* owner) : TQdProgress100(owner, "Progress") {}

TQdProgress100::TQdProgress100(fw::TComponent* owner, const std::string& caption)
    : TQdMsg(owner) {
  Caption = caption;
  bar_.assign(kBarLength, kBarCharacter);
  ShowBar();
}

void TQdProgress100::Step() {
  if (bar_.empty())
    bar_.assign(kBarLength, kBarCharacter);
  else
    bar_.erase(0, 1);
  ShowBar();
}

void TQdProgress100::ShowBar() {
  Progress = static_cast<int>((kBarLength - bar_.size()) * 100 / kBarLength);
  ShowText(bar_);
}

}  // namespace qd
