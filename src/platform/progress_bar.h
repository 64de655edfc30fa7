// A one-line progress bar on standard error for long operations of console
// programs (the table tool's index builds, imports and packs; the console
// host's progress window will draw the same line). It draws only when
// standard error is a terminal, so redirected output and logs stay clean,
// and redraws only when the shown percentage changes.
//
//   Importing PEOPLE.DBF [##########..........]  50%
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qd::platform {

class ProgressBar {
 public:
  // `total` steps make 100 %; a total of 0 shows 100 % at once.
  ProgressBar(std::string caption, std::uint64_t total);
  // Draws into `sink` instead of standard error, always (for tests).
  ProgressBar(std::string caption, std::uint64_t total, std::function<void(const std::string&)> sink);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Clears the line when it was drawn.
  ~ProgressBar();

  bool Shown() const { return static_cast<bool>(sink_); }
  // Records `done` steps (clamped to the total) and redraws when the
  // percentage changed.
  void Update(std::uint64_t done);
  // Clears the line (idempotent).
  void Finish();

  // The line for a percentage: caption, bar of `width` cells, percentage.
  static std::string Line(const std::string& caption, int percent, int width = kBarWidth);
  static constexpr int kBarWidth = 20;

 private:
  std::string caption_;
  std::uint64_t total_;
  int shown_percent_ = -1;
  bool finished_ = false;
  std::function<void(const std::string&)> sink_;
};

}  // namespace qd::platform
