// The console progress line.
#include "platform/progress_bar.h"

#include <algorithm>
#include <utility>

#include "platform/platform.h"

namespace qd::platform {

ProgressBar::Sink ProgressBar::TerminalSink() {
  if (StandardErrorIsTerminal()) return WriteStandardError;
  return {};
}

ProgressBar::ProgressBar(std::string caption, std::uint64_t total)
    : ProgressBar(std::move(caption), total, TerminalSink()) {}

ProgressBar::ProgressBar(std::string caption, std::uint64_t total, Sink sink)
    : caption_(std::move(caption)), total_(total), sink_(std::move(sink)) {
  Update(0);
}

ProgressBar::ProgressBar() : sink_(TerminalSink()) {}

ProgressBar::~ProgressBar() { Finish(); }

std::string ProgressBar::Line(const std::string& caption, const std::string& text, int percent, int columns) {
  // " [" bar "] " and three digits with the percent sign.
  constexpr int kTail = 2 + kBarWidth + 2 + 4;
  columns = std::max(columns, kTail);
  const auto limit = static_cast<std::size_t>(columns);
  if (percent < 0) {
    std::string line = caption.empty() ? text : text.empty() ? caption : caption + " " + text;
    if (line.size() > limit) line.resize(limit);
    return line;
  }
  percent = std::min(percent, 100);
  const int filled = percent * kBarWidth / 100;
  std::string line = caption.substr(0, static_cast<std::size_t>(columns - kTail));
  line += " [";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  line += "] ";
  const std::string number = std::to_string(percent);
  line.append(3 - std::min<std::size_t>(3, number.size()), ' ');
  line += number;
  line += '%';
  return line;
}

void ProgressBar::Draw(const std::string& line) {
  if (!sink_ || line == shown_) return;
  std::string bytes = "\r" + line;
  if (shown_.size() > line.size()) bytes.append(shown_.size() - line.size(), ' ');
  sink_(bytes);
  shown_ = line;
}

void ProgressBar::Update(std::uint64_t done) {
  if (!sink_) return;
  done = std::min(done, total_);
  const int percent = total_ == 0 ? 100 : static_cast<int>(done * 100 / total_);
  if (percent == shown_percent_) return;
  shown_percent_ = percent;
  Draw(Line(caption_, std::string(), percent));
}

void ProgressBar::Show(const std::string& caption, const std::string& text, int percent) {
  Draw(Line(caption, text, percent));
}

void ProgressBar::Finish() {
  shown_percent_ = -1;
  if (!sink_ || shown_.empty()) return;
  sink_("\r" + std::string(shown_.size(), ' ') + "\r");
  shown_.clear();
}

}  // namespace qd::platform
