// The in-place status line on a terminal.
#include "platform/progress_line.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace qd::platform {

namespace {
constexpr int kMinimumColumns = 20;
constexpr int kPercentWidth = 5;  // " 100%"
constexpr int kShortestBar = 10;   // bar cells, without the brackets
}  // namespace

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) == 1;
#endif
}

std::string ProgressLineText(const std::string& caption, const std::string& text, int percent,
                             int columns) {
  if (columns < kMinimumColumns) columns = kMinimumColumns;
  const auto limit = static_cast<std::size_t>(columns);
  if (percent < 0) {
    std::string line = caption.empty() ? text : caption + " " + text;
    if (line.size() > limit) line.resize(limit);
    return line;
  }
  if (percent > 100) percent = 100;
  // The bar takes what the caption leaves, but never fewer than its minimum.
  int bar = columns - kPercentWidth - 2 - static_cast<int>(caption.size()) - 1;
  std::string head = caption;
  if (bar < kShortestBar) {
    bar = kShortestBar;
    const int room = columns - kPercentWidth - 2 - bar - 1;
    head.resize(room > 0 ? static_cast<std::size_t>(room) : 0);
  }
  if (bar > 50) bar = 50;
  const int filled = bar * percent / 100;
  std::string line = head;
  if (!line.empty()) line += ' ';
  line += '[';
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(bar - filled), '.');
  line += ']';
  char number[8];
  std::snprintf(number, sizeof number, " %3d%%", percent);
  line += number;
  return line;
}

ProgressLine::ProgressLine(std::FILE* out) : out_(out), enabled_(out != nullptr && IsTerminal(out)) {}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Draw(const std::string& caption, const std::string& text, int percent) {
  if (!enabled_) return;
  const std::string line = ProgressLineText(caption, text, percent, 79);
  if (line == shown_) return;
  // Pad over the longer previous line, then return to the line's start.
  std::string padded = line;
  if (shown_.size() > padded.size()) padded.append(shown_.size() - padded.size(), ' ');
  std::fprintf(out_, "\r%s", padded.c_str());
  std::fflush(out_);
  shown_ = line;
}

void ProgressLine::Finish() {
  if (!enabled_ || shown_.empty()) return;
  std::fprintf(out_, "\r%s\r", std::string(shown_.size(), ' ').c_str());
  std::fflush(out_);
  shown_.clear();
}

}  // namespace qd::platform
