// A status line drawn in place on a terminal: the caption, a bar and a
// percentage on one line, redrawn with a carriage return at every update and
// erased when finished. Used by the console host for the progress window and
// usable by any console tool that shows progress on standard error.
#pragma once

#include <cstdio>
#include <string>

namespace qd::platform {

// The line for a caption and a percentage (0 to 100; -1 shows the text
// alone), at most `columns` characters wide:
//   "Indexing people.MDX... [#########.........]  45%"
// A caption too long for the bar is cut so that bar and percentage fit.
std::string ProgressLineText(const std::string& caption, const std::string& text, int percent,
                             int columns);

class ProgressLine {
 public:
  // Draws on `out` only when it is a terminal: logs and pipes stay clean.
  explicit ProgressLine(std::FILE* out);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  bool Enabled() const { return enabled_; }
  // Redraws the line in place (only when its text changed).
  void Draw(const std::string& caption, const std::string& text, int percent);
  // Erases the line and puts the cursor back at its start.
  void Finish();

 private:
  std::FILE* out_;
  bool enabled_;
  std::string shown_;
};

// True when the stream is a terminal.
bool IsTerminal(std::FILE* stream);

}  // namespace qd::platform
