// The default host on POSIX: a console host that writes message boxes to
// standard error. When standard input is a terminal the box waits for Enter,
// as a modal box waits for its OK button; otherwise it answers OK at once, so
// that unattended runs never wait.
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

namespace qd::platform {

namespace {
class ConsoleHost final : public Host {
 public:
  int ShowMessageBox(const std::string& text, const std::string& caption, int /*style*/) override {
    std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
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
};
}  // namespace

Host* CreateDefaultHost() {
  static ConsoleHost host;
  return &host;
}

}  // namespace qd::platform
