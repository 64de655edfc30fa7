// The default host on POSIX: a console host that writes message boxes to
// standard error and answers OK at once, so that unattended runs never wait.
#include <cstdio>

#include "platform/platform.h"

namespace qd::platform {

namespace {
class ConsoleHost final : public Host {
 public:
  int ShowMessageBox(const std::string& text, const std::string& caption, int /*style*/) override {
    std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return kIdOk;
  }
};
}  // namespace

Host* CreateDefaultHost() {
  static ConsoleHost host;
  return &host;
}

}  // namespace qd::platform
