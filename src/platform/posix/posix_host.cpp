// The default host on POSIX: a console host that writes message boxes to
// standard error. When standard input is a terminal the box waits for Enter,
// as a modal box waits for its OK button; otherwise it answers OK at once, so
// that unattended runs never wait.
//
// The engine's texts are in the Windows (ANSI) code page; consoles here
// expect UTF-8, so the box's caption and text are converted on the way out
// (a title with an e-diaeresis, byte 0xEB, from a table shows that letter
// rather than an invalid byte).
//
// The dataset layer's message and progress windows are drawn as one status
// line on standard error when it is a terminal, and not at all otherwise.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/code_pages.h"
#include "platform/platform.h"
#include "platform/progress_bar.h"

namespace qd::platform {

namespace {

// The text in UTF-8, read in the current ANSI code page.
std::string ConsoleText(const std::string& text) {
  const code_pages::UnicodeMap* map = code_pages::FindUnicodeMap(AnsiCodePage());
  if (map == nullptr) return text;
  std::string out;
  out.reserve(text.size());
  for (const char byte : text) {
    const unsigned c = map->characters[static_cast<unsigned char>(byte)];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class ConsoleHost final : public Host {
 public:
  int ShowMessageBox(const std::string& text, const std::string& caption, int /*style*/) override {
    std::fprintf(stderr, "%s\n%s\n", ConsoleText(caption).c_str(), ConsoleText(text).c_str());
    std::fflush(stderr);
    if (isatty(STDIN_FILENO) == 1) {
      std::fprintf(stderr, "[Enter]");
      std::fflush(stderr);
      int c = 0;
      while ((c = std::getchar()) != EOF && c != '\n') {
      }
    }
    return kIdOk;
  }

  // The message and progress windows become one line on standard error,
  // redrawn in place, and only when standard error is a terminal.
  void PaintStatusWindow(const void* window, const StatusWindow& image) override {
    if (!line_) line_ = std::make_unique<ProgressBar>();
    status_window_ = window;
    line_->Show(ConsoleText(image.caption), ConsoleText(image.text), image.percent);
  }

  void CloseStatusWindow(const void* window) override {
    if (line_ && window == status_window_) {
      line_->Finish();
      status_window_ = nullptr;
    }
  }

 private:
  std::unique_ptr<ProgressBar> line_;
  const void* status_window_ = nullptr;
};
}  // namespace

Host* CreateDefaultHost() {
  static ConsoleHost host;
  return &host;
}

}  // namespace qd::platform

namespace qd::platform {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteStandardError(const std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t n = write(STDERR_FILENO, bytes.data() + at, bytes.size() - at);
    if (n <= 0) return;  // nothing sensible to do when standard error is gone
    at += static_cast<std::size_t>(n);
  }
}

}  // namespace qd::platform

namespace qd::platform {

void PrepareUtf8Console() {}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace qd::platform
