// A platform host that records message boxes, message pumps, status
// windows and termination requests, and measures text at 7 by 13 pixels a character.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace qd::fw::testing {

class RecordingHost : public qd::platform::Host {
 public:
  struct Box {
    std::string text, caption;
    int style;
  };
  std::vector<Box> boxes;
  int pumps = 0;
  int terminate_requests = 0;
  std::vector<std::string> measured_fonts;
  // Status windows: every paint in order, and the windows closed.
  struct StatusPaint {
    const void* window;
    StatusWindow image;
  };
  std::vector<StatusPaint> status_paints;
  std::vector<const void*> status_closes;

  int ShowMessageBox(const std::string& text, const std::string& caption, int style) override {
    boxes.push_back({text, caption, style});
    return qd::platform::kIdOk;
  }
  void ProcessMessages() override { ++pumps; }
  void RequestTerminate() override { ++terminate_requests; }
  void PaintStatusWindow(const void* window, const StatusWindow& image) override {
    status_paints.push_back({window, image});
  }
  void CloseStatusWindow(const void* window) override { status_closes.push_back(window); }
  int ScreenWidth() override { return 800; }
  int ScreenHeight() override { return 600; }
  void MeasureText(const std::string& text, const std::string& font, int /*points*/, int& width,
                   int& height) override {
    measured_fonts.push_back(font);
    width = 7 * static_cast<int>(text.size());
    height = 13;
  }
};

// Installs a recording host for the lifetime of the object.
class ScopedHost {
 public:
  ScopedHost() { qd::platform::SetHost(&host); }
  ~ScopedHost() { qd::platform::SetHost(nullptr); }
  RecordingHost host;
};

}  // namespace qd::fw::testing
