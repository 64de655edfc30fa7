// The one-line progress display on standard error for console programs: the
// table tool's index builds, imports and packs, and the console host's
// message and progress windows. It draws only when standard error is a
// terminal, so redirected output and logs stay clean, redraws in place (a
// carriage return, the line, blanks over what a longer earlier line left)
// and only when the line changed.
//
//   Importing PEOPLE.DBF [##########..........]  50%
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qd::platform {

class ProgressBar {
 public:
  using Sink = std::function<void(const std::string&)>;
  // Standard error when it is a terminal, else no sink (nothing drawn).
  static Sink TerminalSink();

  // Counts `total` steps to 100 % (a total of 0 shows 100 % at once) and
  // draws 0 % now, on standard error when it is a terminal.
  ProgressBar(std::string caption, std::uint64_t total);
  // The same, drawn into `sink` (nothing when it is empty).
  ProgressBar(std::string caption, std::uint64_t total, Sink sink);
  // A line drawn only by Show (the console host's status windows), on
  // standard error when it is a terminal.
  ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Clears the line when it was drawn.
  ~ProgressBar();

  bool Shown() const { return static_cast<bool>(sink_); }
  // Records `done` steps (clamped to the total) and redraws when the
  // percentage changed.
  void Update(std::uint64_t done);
  // Draws a line of its own: the caption with a bar and `percent` (0 to
  // 100), or with `text` when `percent` is -1. Nothing is drawn when the
  // line is the one shown.
  void Show(const std::string& caption, const std::string& text, int percent);
  // Clears the line when one is shown; a later Update or Show draws again.
  void Finish();

  // The line for a caption and a percentage (0 to 100; -1 shows the caption
  // and `text` alone), at most `columns` characters: a caption too long is
  // cut so that the bar of `kBarWidth` cells and the percentage fit.
  static std::string Line(const std::string& caption, const std::string& text, int percent,
                          int columns = kColumns);
  static constexpr int kBarWidth = 20;
  static constexpr int kColumns = 79;

 private:
  void Draw(const std::string& line);

  std::string caption_;
  std::uint64_t total_ = 0;
  int shown_percent_ = -1;
  std::string shown_;  // the line on the terminal, empty when none
  Sink sink_;
};

}  // namespace qd::platform
