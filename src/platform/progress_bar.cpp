// The console progress bar: carriage return, the line, and blanks over what
// a longer earlier line left.
#include "platform/progress_bar.h"

#include <algorithm>
#include <utility>

#include "platform/platform.h"

namespace qd::platform {

ProgressBar::ProgressBar(std::string caption, std::uint64_t total)
    : caption_(std::move(caption)), total_(total) {
  if (StandardErrorIsTerminal()) sink_ = WriteStandardError;
  Update(0);
}

ProgressBar::ProgressBar(std::string caption, std::uint64_t total,
                         std::function<void(const std::string&)> sink)
    : caption_(std::move(caption)), total_(total), sink_(std::move(sink)) {
  Update(0);
}

ProgressBar::~ProgressBar() { Finish(); }

std::string ProgressBar::Line(const std::string& caption, int percent, int width) {
  percent = std::clamp(percent, 0, 100);
  width = std::max(width, 1);
  const int filled = percent * width / 100;
  std::string line = caption;
  line += " [";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(width - filled), '.');
  line += "] ";
  const std::string number = std::to_string(percent);
  line.append(3 - std::min<std::size_t>(3, number.size()), ' ');
  line += number;
  line += '%';
  return line;
}

void ProgressBar::Update(std::uint64_t done) {
  if (!sink_ || finished_) return;
  done = std::min(done, total_);
  const int percent = total_ == 0 ? 100 : static_cast<int>(done * 100 / total_);
  if (percent == shown_percent_) return;
  shown_percent_ = percent;
  sink_("\r" + Line(caption_, percent));
}

void ProgressBar::Finish() {
  if (!sink_ || finished_) return;
  finished_ = true;
  if (shown_percent_ < 0) return;
  const std::size_t length = Line(caption_, 100).size();
  sink_("\r" + std::string(length, ' ') + "\r");
}

}  // namespace qd::platform
